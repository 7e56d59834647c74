// Damaged archives: every one must end in an error code or a clean result, never in a
// crash, a hang or a read outside the archive's bytes (run under ASan to check the
// latter).
#include <gtest/gtest.h>

#include <functional>

#include "zip/archive.h"
#include "testing/zip_builder.h"

namespace amzip {
namespace {

using testing::BuildZip;
using testing::BuiltZip;

const std::vector<std::u16string> kNames = {u"a.txt", u"b/deflated.bin", u"c.txt", u"z64"};

BuiltZip Sample() {
  std::string text(70000, 'q');
  for (size_t i = 0; i < text.size(); i += 7) text[i] = static_cast<char>('a' + i % 26);
  return BuildZip({{.name = "a.txt", .data = "alpha"},
                   {.name = "b/deflated.bin", .data = text, .method = 8},
                   {.name = "c.txt", .data = "gamma", .descriptor = true},
                   {.name = "z64",
                    .data = "sixty-four",
                    .versionNeeded = 45,
                    .centralExtra = testing::Zip64Block({10, 10}),
                    .compressedSize = 0xFFFFFFFF,
                    .uncompressedSize = 0xFFFFFFFF}},
                  {.comment = "archive comment"});
}

// Opens bytes (copied to an exactly sized heap block, so ASan sees every overread),
// extracts every name and streams every entry. Returns the open code.
int32_t Exercise(const std::string& bytes) {
  std::unique_ptr<uint8_t[]> exact(new uint8_t[bytes.size() + 1]);
  std::copy(bytes.begin(), bytes.end(), exact.get());
  Archive archive;
  int32_t code = archive.OpenMemory(exact.get(), bytes.size(), u"ZIP");
  for (const auto& name : kNames) {
    MemCreator creator;
    archive.Extract(creator, name, name);
    int32_t c = archive.LastError().code;
    EXPECT_GE(c, -1);
    EXPECT_LE(c, 21);
    uint32_t size = 0;
    FileTime time;
    archive.GetEntryInfo(name, size, &time);
    if (auto stream = archive.OpenEntryStream(name)) {
      char buffer[4096];
      int reads = 0;
      while (stream->Read(buffer, sizeof(buffer)) > 0 && ++reads < 100) {
      }
      stream->Seek64(0, 3);
      stream->Read(buffer, sizeof(buffer));
    }
  }
  archive.GetChecksum();
  return code;
}

TEST(CorruptArchiveTest, IntactSampleExtracts) {
  BuiltZip z = Sample();
  Archive archive;
  ASSERT_EQ(archive.OpenMemory(z.bytes.data(), z.bytes.size(), u"ZIP"), 0);
  for (const auto& name : kNames) {
    MemCreator creator;
    archive.Extract(creator, name, name);
    EXPECT_EQ(archive.LastError().code, 0);
  }
}

TEST(CorruptArchiveTest, TruncationAtEveryByte) {
  std::string bytes = Sample().bytes;
  for (size_t length = 0; length < bytes.size(); ++length) Exercise(bytes.substr(0, length));
  // And with the front cut away.
  for (size_t cut = 1; cut < bytes.size(); cut += 3) Exercise(bytes.substr(cut));
}

TEST(CorruptArchiveTest, EveryByteFlippedInTheHeaders) {
  BuiltZip z = Sample();
  std::vector<uint64_t> starts = z.localOffsets;
  starts.push_back(z.centralOffset);
  for (size_t start : starts) {
    size_t end = std::min(z.bytes.size(), start + 46 + 20);
    for (size_t i = start; i < end; ++i) {
      for (uint8_t value : {0x00, 0xFF, 0x80, 0x7F}) {
        std::string bytes = z.bytes;
        bytes[i] = static_cast<char>(value);
        Exercise(bytes);
      }
    }
  }
  for (size_t i = z.centralOffset; i < z.bytes.size(); ++i) {
    std::string bytes = z.bytes;
    bytes[i] = static_cast<char>(bytes[i] ^ 0x5A);
    Exercise(bytes);
  }
}

void PatchLe(std::string& bytes, size_t at, uint64_t value, int width) {
  for (int i = 0; i < width; ++i) bytes[at + i] = static_cast<char>(value >> (8 * i));
}

TEST(CorruptArchiveTest, HostileCountsOffsetsAndSizes) {
  BuiltZip z = Sample();
  const size_t end = z.endOffset;
  const size_t cd = z.centralOffset;
  struct Case {
    const char* what;
    size_t at;
    int width;
    uint64_t value;
  };
  const Case cases[] = {
      {"entry count huge", end + 10, 2, 0xFFFF},
      {"entry count zero", end + 10, 2, 0},
      {"directory size huge", end + 12, 4, 0xFFFFFFFF},
      {"directory offset past end", end + 16, 4, 0x7FFFFFF0},
      {"directory offset negative as int", end + 16, 4, 0xFFFFFFF0},
      {"directory offset at data", end + 16, 4, 30},
      {"directory offset at end record", end + 16, 4, end},
      {"comment length huge", end + 20, 2, 0xFFFF},
      {"compressed size huge", cd + 20, 4, 0x7FFFFFFF},
      {"uncompressed size huge", cd + 24, 4, 0xFFFFFFFE},
      {"name length huge", cd + 28, 2, 0xFFFF},
      {"extra length huge", cd + 30, 2, 0xFFFF},
      {"comment length of entry huge", cd + 32, 2, 0xFFFF},
      {"disk start huge", cd + 34, 2, 0xFFFE},
      {"local offset past end", cd + 42, 4, 0x7FFFFFFF},
      {"local offset at directory", cd + 42, 4, cd},
      {"local offset overlapping entries", cd + 42, 4, z.localOffsets[1] + 10},
      {"local name length huge", 26, 2, 0xFFFF},
      {"local extra length huge", 28, 2, 0xFFFF},
      {"method unknown", cd + 10, 2, 99},
      {"signature bad", cd, 4, 0x12345678},
      {"end record disks differ", end + 4, 2, 3},
      {"zip64 end record with huge length", cd, 4, 0x06064b50},
      {"locator out of state", cd, 4, 0x07064b50},
      {"digital signature", cd, 4, 0x05054b50},
      {"archive extra record", cd, 4, 0x08064b50},
      {"spanning marker", cd, 4, 0x30304b50},
  };
  for (const Case& c : cases) {
    std::string bytes = z.bytes;
    PatchLe(bytes, c.at, c.value, c.width);
    SCOPED_TRACE(c.what);
    Exercise(bytes);
  }
  // Both entries pointing at the same local header: the data overlaps.
  std::string overlapping = z.bytes;
  PatchLe(overlapping, cd + 46 + 5 + 42, 0, 4);
  Exercise(overlapping);
}

TEST(CorruptArchiveTest, HostileRecordsEndInCodes) {
  // A ZIP64 end record announcing an enormous length, in place of the directory.
  std::string bytes;
  testing::Put32(bytes, 0x06064b50);
  testing::Put64(bytes, 0xFFFFFFFFFFFFFF00ull);
  size_t cdSize = bytes.size();
  testing::Put32(bytes, 0x06054b50);
  testing::Put32(bytes, 0);
  testing::Put16(bytes, 0);
  testing::Put16(bytes, 0);
  testing::Put32(bytes, static_cast<uint32_t>(cdSize));
  testing::Put32(bytes, 0);
  testing::Put16(bytes, 0);
  EXPECT_EQ(Exercise(bytes), ERROR_SEEK_FILE);
  // Local headers whose streamed data never ends.
  std::string streamed = BuildZip({{.name = "s", .data = "stored", .descriptor = true}}).bytes;
  EXPECT_NE(Exercise(streamed.substr(0, 40)), 0);
  // Nothing but signatures.
  std::string signatures;
  for (int i = 0; i < 1000; ++i) testing::Put32(signatures, 0x08074b50 + (i % 3) * 0x1000000);
  Exercise(signatures);
  EXPECT_EQ(Exercise(std::string(3, 'P')), ERROR_READ_FILE);
}

}  // namespace
}  // namespace amzip
