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

// A file with a read cache over the given bytes.
std::unique_ptr<File> OpenCached(const std::u16string& path) {
  auto file = std::make_unique<File>(new CPPAllocator());
  file->SetCacheFlags(File::kCacheAlways);
  EXPECT_TRUE(file->Open(path, false, true));
  EXPECT_EQ(file->GetCacheFlags(), File::kCacheAlways | File::kReadCacheActive);
  return file;
}

TEST(FileFlags, BothCachesAtOnceAreRefused) {
  for (uint32_t flags : {3u, 0x13u, 0xFFu, 7u}) {
    File file(new CPPAllocator());
    try {
      file.SetCacheFlags(flags);
      FAIL() << "flags " << flags << " accepted";
    } catch (const NotImplementedException& e) {
      EXPECT_EQ(e.GetMessage(), u"Either read or write caching is implemented");
      EXPECT_EQ(e.GetLocation(), u"File::SetCacheFlags");
    }
    EXPECT_EQ(file.GetCacheFlags(), File::kCacheNetworkPaths) << "flags changed by a refusal";
  }
  File file;
  EXPECT_EQ(file.GetCacheFlags(), 0u);
  file.SetCacheFlags(0x14);
  EXPECT_EQ(file.GetCacheFlags(), 4u);
}

TEST(FileFlags, UncPathClassification) {
  struct Case {
    const char16_t* path;
    bool unc;
  } cases[] = {
      {u"\\\\server\\share\\a.txt", true},
      {u"//server/share/a.txt", true},
      {u"\\\\?\\UNC\\server\\share", true},
      {u"\\\\?\\unc\\server\\share", true},
      {u"\\\\?\\C:\\dir\\a.txt", false},
      {u"\\\\.\\PhysicalDrive0", false},
      {u"C:\\dir\\a.txt", false},
      {u"\\dir\\a.txt", false},
      {u"\\\\", false},
      {u"\\\\\\x", false},
      {u"/tmp/a", false},
      {u"", false},
  };
  for (const Case& c : cases) EXPECT_EQ(File::IsUncPath(c.path), c.unc) << "case " << &c - cases;
}

TEST_F(FileTest, SingleByteReadsFillTheCacheOncePerBlock) {
  const size_t size = 2 * kBlock + 5000;
  std::string bytes = Pattern(size);
  auto file = OpenCached(WriteBytes("a.bin", bytes));
  uint64_t before = native::ReadCallCount();
  for (size_t i = 0; i < size; ++i) {
    uint8_t b = 0;
    ASSERT_TRUE(file->ReadByte(b)) << i;
    ASSERT_EQ(b, static_cast<uint8_t>(bytes[i])) << i;
  }
  EXPECT_EQ(native::ReadCallCount() - before, 3u);
  uint8_t b = 0;
  EXPECT_FALSE(file->ReadByte(b));
  EXPECT_EQ(native::ReadCallCount() - before, 4u);
}

TEST_F(FileTest, WithoutCacheEveryByteIsAnOsRead) {
  std::string bytes = Pattern(1000);
  File file;
  ASSERT_TRUE(file.OpenRead(WriteBytes("a.bin", bytes)));
  EXPECT_EQ(file.GetName(), WidePath("a.bin"));
  uint64_t before = native::ReadCallCount();
  for (size_t i = 0; i < bytes.size(); ++i) ASSERT_EQ(file.ReadByte(), uint8_t(bytes[i]));
  EXPECT_EQ(native::ReadCallCount() - before, 1000u);
}

TEST_F(FileTest, SeeksInsideTheBlockStayInTheCache) {
  std::string bytes = Pattern(3 * kBlock);
  auto file = OpenCached(WriteBytes("a.bin", bytes));
  char buf[10];
  ASSERT_EQ(file->Read(buf, 10), 10u);
  uint64_t before = native::ReadCallCount();
  EXPECT_EQ(file->Seek(0, 5000), 5000u);
  EXPECT_EQ(file->ReadByte(), uint8_t(bytes[5000]));
  EXPECT_EQ(file->Seek(1, 0), 5001u);
  EXPECT_EQ(file->Seek(1, -5001), 0u);
  EXPECT_EQ(file->ReadByte(), uint8_t(bytes[0]));
  EXPECT_EQ(file->Seek(1, 100), 101u);
  EXPECT_EQ(file->ReadByte(), uint8_t(bytes[101]));
  EXPECT_EQ(file->Seek(0, kBlock - 1), kBlock - 1);
  EXPECT_EQ(file->ReadByte(), uint8_t(bytes[kBlock - 1]));
  EXPECT_EQ(native::ReadCallCount(), before) << "a seek inside the block read again";

  // Outside the block: the cache is dropped and the next byte comes from a new read.
  EXPECT_EQ(file->Seek(0, 2 * kBlock + 7), 2 * kBlock + 7);
  EXPECT_EQ(file->ReadByte(), uint8_t(bytes[2 * kBlock + 7]));
  EXPECT_EQ(native::ReadCallCount(), before + 1);
  // Relative moves beyond the block, both ways, and from the end.
  EXPECT_EQ(file->Seek(1, -int32_t(kBlock)), kBlock + 8);
  EXPECT_EQ(file->ReadByte(), uint8_t(bytes[kBlock + 8]));
  EXPECT_EQ(file->Seek(1, int32_t(kBlock)), 2 * kBlock + 9);
  EXPECT_EQ(file->ReadByte(), uint8_t(bytes[2 * kBlock + 9]));
  EXPECT_EQ(file->Seek(2, -1), 3 * kBlock - 1);
  EXPECT_EQ(file->ReadByte(), uint8_t(bytes.back()));
  EXPECT_EQ(file->Seek(0, -1), 0xFFFFFFFFu);
}

TEST_F(FileTest, LargeRequestsBypassTheCache) {
  std::string bytes = Pattern(3 * kBlock);
  auto file = OpenCached(WriteBytes("a.bin", bytes));
  std::vector<char> buf(200000);
  uint64_t before = native::ReadCallCount();
  ASSERT_EQ(file->Read(buf.data(), 200000), 200000u);
  EXPECT_EQ(native::ReadCallCount() - before, 1u);
  EXPECT_TRUE(std::equal(buf.begin(), buf.end(), bytes.begin()));
  // The cache stayed empty: the position is the handle's, and the next byte needs a read.
  EXPECT_EQ(file->Seek(1, 0), 200000u);
  EXPECT_EQ(file->ReadByte(), uint8_t(bytes[200000]));
  EXPECT_EQ(native::ReadCallCount() - before, 2u);

  // Part from the block, the rest (a block or more) straight; then a seek back into what
  // was once cached must not be served from the stale block.
  EXPECT_EQ(file->Seek(0, 100), 100u);
  ASSERT_EQ(file->Read(buf.data(), 10), 10u);
  ASSERT_EQ(file->Read(buf.data(), kBlock + 50), kBlock + 50);
  EXPECT_TRUE(std::equal(buf.begin(), buf.begin() + kBlock + 50, bytes.begin() + 110));
  EXPECT_EQ(file->Seek(1, 0), kBlock + 160);
  EXPECT_EQ(file->Seek(0, 150), 150u);
  EXPECT_EQ(file->ReadByte(), uint8_t(bytes[150]));

  // The block used up, then a read of more than a block goes straight to the caller:
  // afterwards a seek into the range the old block would cover must read the file.
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
    std::unique_ptr<File> file = cached ? OpenCached(path) : std::make_unique<File>();
    if (!cached) {
      ASSERT_TRUE(file->OpenRead(path));
    }
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
        int32_t delta = int32_t(rng() % 400000) - 200000;
        if (int64_t(pos) + delta < 0) delta = -int32_t(pos);
        ASSERT_EQ(file->Seek(1, delta), pos + delta);
        pos += delta;
      } else if (kind == 2) {
        uint8_t b = 0;
        bool ok = file->ReadByte(b);
        ASSERT_EQ(ok, pos < bytes.size());
        if (ok) {
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
  }
}

TEST_F(FileTest, ReadByteAtTheEnd) {
  std::u16string path = WriteBytes("a.bin", "xy");
  for (bool cached : {false, true}) {
    std::unique_ptr<File> file = cached ? OpenCached(path) : std::make_unique<File>();
    if (!cached) {
      ASSERT_TRUE(file->OpenRead(path));
    }
    EXPECT_EQ(file->ReadByte(), 'x');
    EXPECT_EQ(file->ReadByte(), 'y');
    uint8_t b = 0;
    EXPECT_FALSE(file->ReadByte(b));
    try {
      file->ReadByte();
      FAIL() << "no exception at the end";
    } catch (const CantReadException& e) {
      EXPECT_EQ(e.GetMessage(), u"EOF/ERROR");
      EXPECT_EQ(e.GetLocation(), u"File::ReadByte");
    }
  }
}

TEST_F(FileTest, NullBuffersAndFailedSeeksThrow) {
  File file;
  ASSERT_TRUE(file.Create(WidePath("a.bin"), false));
  uint32_t got = 7;
  try {
    file.Read(nullptr, 1, got);
    FAIL();
  } catch (const ParameterException& e) {
    EXPECT_EQ(e.GetMessage(), u"zero-ptr passed");
    EXPECT_EQ(e.GetLocation(), u"File::Read");
    EXPECT_EQ(got, 0u);
  }
  try {
    file.Write(nullptr, 1);
    FAIL();
  } catch (const ParameterException& e) {
    EXPECT_EQ(e.GetLocation(), u"File::Write");
  }
  char c;
  EXPECT_TRUE(file.Read(&c, 0, got));
  try {
    file.Seek64(0, -5);
    FAIL();
  } catch (const Exception& e) {
    EXPECT_EQ(e.GetTypeName(), nullptr) << "the base class, not a subclass";
    EXPECT_EQ(e.GetMessage(), u"Seek failed");
    EXPECT_EQ(e.GetLocation(), u"File::Seek64");
  }
  EXPECT_EQ(file.Seek(0, -5), 0xFFFFFFFFu);
}

TEST_F(FileTest, CacheWithoutAllocatorThrowsWithTheSourceLocation) {
  std::u16string path = WriteBytes("a.bin", "abc");
  File file;
  file.SetCacheFlags(File::kCacheAlways);
  try {
    file.Open(path, false, true);
    FAIL();
  } catch (const Exception& e) {
    EXPECT_EQ(e.GetMessage(), u"no allocator");
    EXPECT_EQ(e.GetLocation().rfind(u"file.cpp, line ", 0), 0u);
  }
  EXPECT_TRUE(file.IsOpen()) << "the open itself succeeded";
  EXPECT_TRUE(file.Close());
  file.SetCacheFlags(File::kCacheAlways);
  EXPECT_THROW(file.Create(WidePath("b.bin"), true), Exception);
}

TEST_F(FileTest, OpenCloseAndFlags) {
  File file(new CPPAllocator());
  EXPECT_FALSE(file.Close());
  EXPECT_EQ(file.GetCacheFlags(), File::kCacheNetworkPaths) << "a closed Close changes nothing";
  EXPECT_FALSE(file.Open(WidePath("missing"), false, true));
  EXPECT_EQ(file.GetName(), WidePath("missing")) << "the name is kept even on failure";
  EXPECT_FALSE(file.Open(WidePath("missing2"), false, false));
  EXPECT_EQ(file.GetName(), WidePath("missing"));
  EXPECT_FALSE(file.Open(dir_.u16string(), false, false)) << "a directory is no file";
  EXPECT_EQ(file.GetSize(), 0u);

  std::u16string path = WriteBytes("a.bin", Pattern(10));
  ASSERT_TRUE(file.Open(path, false, true));
  EXPECT_EQ(file.GetCacheFlags(), File::kCacheNetworkPaths) << "a local path gets no cache";
  EXPECT_EQ(file.GetSize(), 10u);
  EXPECT_TRUE(file.Close());
  EXPECT_EQ(file.GetCacheFlags(), 0u);
  EXPECT_FALSE(file.IsOpen());

  file.SetCacheFlags(File::kCacheAlways);
  ASSERT_TRUE(file.Open(path, false, true));
  ASSERT_TRUE(file.Open(path, false, true)) << "reopening drops the flags";
  EXPECT_EQ(file.GetCacheFlags(), 0u);
  file.SetCacheFlags(File::kCacheAlways);
  ASSERT_TRUE(file.Create(WidePath("w.bin"), true));
  EXPECT_EQ(file.GetCacheFlags(), 0u) << "Create closes the open file first, dropping the flags";
  file.Close();
  file.SetCacheFlags(File::kCacheAlways);
  ASSERT_TRUE(file.Create(WidePath("w.bin"), true));
  EXPECT_EQ(file.GetCacheFlags(), File::kCacheAlways | File::kWriteCacheActive);
  EXPECT_EQ(file.Write("hello", 5), 5u);
  EXPECT_EQ(file.GetSize(), 5u) << "writes go straight to the file";
}

TEST_F(FileTest, SwitchingTheCacheOffKeepsThePosition) {
  std::string bytes = Pattern(1000);
  auto file = OpenCached(WriteBytes("a.bin", bytes));
  EXPECT_EQ(file->ReadByte(), uint8_t(bytes[0]));
  file->SetCacheFlags(0);
  EXPECT_EQ(file->ReadByte(), uint8_t(bytes[1]));
  file->SetCacheFlags(File::kReadCacheActive);
  EXPECT_EQ(file->ReadByte(), uint8_t(bytes[2]));
  EXPECT_EQ(file->Seek(1, 0), 3u);
}

TEST_F(FileTest, WriteTruncateLockAndTimes) {
  File file;
  std::u16string path = WriteBytes("w.bin", "old contents that are long");
  ASSERT_TRUE(file.Create(path, true));
  EXPECT_EQ(file.GetSize(), 0u) << "Create truncates";
  EXPECT_EQ(file.Write("0123456789", 10), 10u);
  EXPECT_EQ(file.WriteByte('!'), 1u);
  EXPECT_EQ(file.Seek(0, 4), 4u);
  EXPECT_EQ(file.ReadByte(), '4');
  EXPECT_TRUE(file.SetEndOfFile());
  EXPECT_EQ(file.GetSize(), 5u);
  EXPECT_EQ(file.Seek64(2, 0), 5u);
  EXPECT_TRUE(file.Lock(0, 0, 5, 0));
  EXPECT_TRUE(file.Unlock(0, 0, 5, 0));
  // 2021-01-01 00:00:00 UTC as FILETIME.
  const uint64_t when = 132539328000000000ULL;
  EXPECT_TRUE(file.SetTime(nullptr, nullptr, &when));
  EXPECT_TRUE(file.Close());
  EXPECT_EQ(ReadBytes("w.bin"), "01234");
  auto stamp = std::filesystem::last_write_time(PathOf("w.bin"));
  auto seconds = std::chrono::duration_cast<std::chrono::seconds>(
                     std::chrono::file_clock::to_sys(stamp).time_since_epoch())
                     .count();
  EXPECT_EQ(seconds, 1609459200);
  EXPECT_FALSE(file.SetTime(nullptr, nullptr, &when));
  EXPECT_FALSE(file.Lock(0, 0, 1, 0));

  File reader;
  ASSERT_TRUE(reader.Open(path, true, false));
  EXPECT_EQ(reader.Seek(2, 0), 5u);
  EXPECT_EQ(reader.Write("56", 2), 2u);
  EXPECT_TRUE(reader.Close());
  EXPECT_EQ(ReadBytes("w.bin"), "0123456");
}

}  // namespace
}  // namespace utils
