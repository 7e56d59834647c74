#include "utils/file/file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "utils/exception.h"
#include "utils/file/test_files.h"

namespace utils {
namespace {

using FileTest = testing::ScratchDir;
constexpr uint32_t kBlock = File::kCacheSize;

// A file opened with a read cache, or without one.
std::unique_ptr<File> OpenFile(const std::u16string& path, bool cached = true) {
  auto file = std::make_unique<File>(new CPPAllocator());
  if (cached) file->SetCacheFlags(File::kCacheAlways);
  EXPECT_TRUE(file->Open(path, false, true));
  EXPECT_EQ(file->GetCacheFlags(),
            cached ? File::kCacheAlways | File::kReadCacheActive : File::kCacheNetworkPaths);
  return file;
}

TEST_F(FileTest, ReadsOfTheSystemWithAndWithoutTheCache) {
  std::string bytes = Pattern(3 * kBlock);
  std::u16string path = WriteBytes("a.bin", bytes);
  auto file = OpenFile(path);  // a read of the system per block, and none past the end
  uint64_t before = native::ReadCallCount();
  for (size_t i = 0; i < bytes.size(); ++i) ASSERT_EQ(file->ReadByte(), uint8_t(bytes[i])) << i;
  EXPECT_EQ(native::ReadCallCount() - before, 3u);
  uint8_t b = 0;
  EXPECT_FALSE(file->ReadByte(b));
  // Large requests bypass it.
  std::vector<char> buf(200000);
  EXPECT_EQ(file->Seek(0, 0), 0u);
  before = native::ReadCallCount();
  ASSERT_EQ(file->Read(buf.data(), 200000), 200000u);
  EXPECT_EQ(native::ReadCallCount() - before, 1u);
  EXPECT_TRUE(std::equal(buf.begin(), buf.end(), bytes.begin()));
  EXPECT_EQ(file->Seek(1, 0), 200000u);
  // Switching the cache off and on keeps the position.
  EXPECT_EQ(file->ReadByte(), uint8_t(bytes[200000]));
  file->SetCacheFlags(0);
  EXPECT_EQ(file->ReadByte(), uint8_t(bytes[200001]));
  file->SetCacheFlags(File::kReadCacheActive);
  EXPECT_EQ(file->ReadByte(), uint8_t(bytes[200002]));
  EXPECT_EQ(file->Seek(1, 0), 200003u);

  // Regression: part of a read from the block, the rest (more than a block) straight to the
  // caller; a seek into the range the old block would cover must read the file.
  for (uint32_t tail : {172u, 0u}) {
    EXPECT_EQ(file->Seek(0, 100), 100u);
    ASSERT_EQ(file->Read(buf.data(), 10), 10u);  // block [100, 100 + kBlock)
    uint32_t at = 100 + kBlock - tail;
    if (tail == 0) {  // read the block to its very end first
      EXPECT_EQ(file->Seek(0, int32_t(at - 5)), at - 5);
      ASSERT_EQ(file->Read(buf.data(), 5), 5u);
    } else {
      EXPECT_EQ(file->Seek(0, int32_t(at)), at);
    }
    ASSERT_EQ(file->Read(buf.data(), kBlock + 200), kBlock + 200);
    EXPECT_TRUE(std::equal(buf.begin(), buf.begin() + kBlock + 200, bytes.begin() + at));
    uint32_t probe = at + kBlock + 100;
    EXPECT_EQ(file->Seek(0, int32_t(probe)), probe);
    EXPECT_EQ(file->ReadByte(), uint8_t(bytes[probe])) << "tail " << tail;
  }
}

TEST_F(FileTest, RandomReadsAndSeeksMatchTheBytes) {
  std::string bytes = Pattern(5 * kBlock + 333);
  std::u16string path = WriteBytes("a.bin", bytes);
  for (bool cached : {false, true}) {
    auto file = OpenFile(path, cached);
    std::mt19937 rng(cached ? 7 : 8);
    uint64_t pos = 0;
    std::vector<char> buf(3 * kBlock);
    for (int step = 0; step < 400; ++step) {
      int kind = rng() % 5;
      if (kind == 0) {
        uint32_t target = rng() % (bytes.size() + 10);
        ASSERT_EQ(file->Seek(0, int32_t(target)), target);
        pos = target;
      } else if (kind == 1) {
        int32_t delta = std::max<int32_t>(int32_t(rng() % 400000) - 200000, -int32_t(pos));
        ASSERT_EQ(file->Seek(1, delta), pos + delta);
        pos += delta;
      } else if (kind == 2) {
        uint8_t b = 0;
        ASSERT_EQ(file->ReadByte(b), pos < bytes.size());
        if (pos < bytes.size()) {
          ASSERT_EQ(b, uint8_t(bytes[pos++]));
        }
      } else {
        uint32_t count = kind == 3 ? rng() % 300 : rng() % (2 * kBlock + 10);
        uint32_t got = file->Read(buf.data(), count);
        uint64_t expect = pos >= bytes.size() ? 0 : std::min<uint64_t>(count, bytes.size() - pos);
        ASSERT_EQ(got, expect) << "step " << step;
        ASSERT_TRUE(std::equal(buf.begin(), buf.begin() + got, bytes.begin() + pos));
        pos += got;
      }
      if (step % 50 == 0) {
        ASSERT_EQ(file->Seek64(1, 0), pos);
      }
    }
    file->Seek64(2, 0);  // at the end ReadByte() throws, with or without the cache
    EXPECT_THROW(file->ReadByte(), CantReadException);
  }
}

TEST_F(FileTest, OpenCloseFlagsAndUncPaths) {
  File file(new CPPAllocator());
  EXPECT_THROW(file.SetCacheFlags(0x13), NotImplementedException) << "both caches at once";
  EXPECT_FALSE(file.Close());
  EXPECT_EQ(file.GetCacheFlags(), File::kCacheNetworkPaths) << "changed by a refusal or Close";
  EXPECT_FALSE(file.Open(dir_.u16string(), false, false)) << "a directory is no file";

  std::u16string path = WriteBytes("a.bin", Pattern(10));
  ASSERT_TRUE(file.Open(path, false, true));
  EXPECT_EQ(file.GetCacheFlags(), File::kCacheNetworkPaths) << "a local path gets no cache";
  ASSERT_TRUE(file.Open(path, false, true)) << "reopening drops the flags";
  EXPECT_EQ(file.GetCacheFlags(), 0u);
  EXPECT_TRUE(file.Close());
  file.SetCacheFlags(File::kCacheAlways);
  ASSERT_TRUE(file.Create(WidePath("w.bin"), true));
  EXPECT_EQ(file.GetCacheFlags(), File::kCacheAlways | File::kWriteCacheActive);
  EXPECT_EQ(file.Write("hello", 5), 5u);
  EXPECT_EQ(file.GetSize(), 5u) << "writes go straight to the file";
  for (const char16_t* unc : {u"\\\\server\\share\\a.txt", u"//server/share/a.txt",
                              u"\\\\?\\UNC\\server\\share", u"\\\\?\\unc\\server\\share"})
    EXPECT_TRUE(File::IsUncPath(unc));
  for (const char16_t* local :
       {u"\\\\?\\C:\\dir\\a.txt", u"\\\\.\\PhysicalDrive0", u"\\\\", u"\\\\\\x"})
    EXPECT_FALSE(File::IsUncPath(local));
}

TEST_F(FileTest, WriteTruncateLockTimesAndErrors) {
  File file;
  std::u16string path = WriteBytes("w.bin", "old contents that are long");
  ASSERT_TRUE(file.Create(path, true));
  EXPECT_EQ(file.GetSize(), 0u) << "Create truncates";
  uint32_t got = 7;
  EXPECT_THROW(file.Read(nullptr, 1, got), ParameterException);
  EXPECT_EQ(got, 0u);
  EXPECT_THROW(file.Write(nullptr, 1), ParameterException);
  EXPECT_TRUE(file.Read(&got, 0, got));
  EXPECT_THROW(file.Seek64(0, -5), Exception);
  EXPECT_EQ(file.Seek(0, -5), 0xFFFFFFFFu) << "the 32-bit seek answers instead of throwing";
  EXPECT_EQ(file.Write("0123456789", 10), 10u);
  EXPECT_EQ(file.Seek(0, 4), 4u);
  EXPECT_EQ(file.ReadByte(), '4');
  EXPECT_TRUE(file.SetEndOfFile());
  EXPECT_EQ(file.GetSize(), 5u);
  EXPECT_TRUE(file.Lock(0, 0, 5, 0) && file.Unlock(0, 0, 5, 0));
  const uint64_t when = 132539328000000000ULL;  // 2021-01-01 00:00:00 UTC as FILETIME
  EXPECT_TRUE(file.SetTime(nullptr, nullptr, &when));
  EXPECT_TRUE(file.Close());
  EXPECT_EQ(ReadBytes("w.bin"), "01234");
  auto stamp = std::chrono::file_clock::to_sys(std::filesystem::last_write_time(PathOf("w.bin")));
  EXPECT_EQ(std::chrono::duration_cast<std::chrono::seconds>(stamp.time_since_epoch()).count(),
            1609459200);

  File reader;
  ASSERT_TRUE(reader.Open(path, true, false));
  EXPECT_EQ(reader.Seek(2, 0), 5u);
  EXPECT_EQ(reader.Write("56", 2), 2u);
  EXPECT_TRUE(reader.Close());
  EXPECT_EQ(ReadBytes("w.bin"), "0123456");
}

}  // namespace
}  // namespace utils
