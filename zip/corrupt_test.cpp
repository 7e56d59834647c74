// Damaged archives: every one must end in an error code or a clean result, never in a
// crash, a hang or a read outside the archive's bytes (run under ASan to check the
// latter).
#include <gtest/gtest.h>

#include "testing/zip_builder.h"
#include "zip/archive.h"

namespace amzip {
namespace {

using testing::Patch;

const std::u16string kNames[] = {u"a.txt", u"b/deflated.bin", u"c.txt", u"z64"};

testing::BuiltZip Sample() {
  std::string text(70000, 'q');  // a deflate stream of more than one block
  for (size_t i = 0; i < text.size(); i += 7) text[i] = static_cast<char>('a' + i % 26);
  return testing::BuildZip({{.name = "a.txt", .data = "alpha"},
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
// extracts every name and streams every entry. Returns the open code; with `intact`,
// expects every extraction to succeed.
int32_t Exercise(const std::string& bytes, bool intact = false) {
  std::unique_ptr<uint8_t[]> exact(new uint8_t[bytes.size() + 1]);
  std::copy(bytes.begin(), bytes.end(), exact.get());
  Archive archive;
  int32_t code = archive.OpenMemory(exact.get(), bytes.size(), u"ZIP");
  for (const auto& name : kNames) {
    MemCreator creator;
    archive.Extract(creator, name, name);
    int32_t c = archive.LastError().code;
    EXPECT_TRUE(intact ? c == 0 : c >= -1 && c <= AZERROR_CRC) << c;
    uint32_t size = 0;
    FileTime time;
    archive.GetEntryInfo(name, size, &time);
    if (auto stream = archive.OpenEntryStream(name)) {
      char buffer[4096];
      for (int reads = 0; stream->Read(buffer, sizeof(buffer)) > 0 && ++reads < 100;) {
      }
      stream->Seek64(0, 3);
      stream->Read(buffer, sizeof(buffer));
    }
  }
  archive.GetChecksum();
  return code;
}

TEST(CorruptArchiveTest, TruncatedOrChanged) {
  testing::BuiltZip z = Sample();
  auto changed = [&](size_t at, uint64_t value, int width) {
    std::string bytes = z.bytes;
    Patch(bytes, at, value, width);
    SCOPED_TRACE(std::to_string(at) + " = " + std::to_string(value));
    Exercise(bytes);
  };
  EXPECT_EQ(Exercise(z.bytes, true), 0);
  for (size_t length = 0; length < z.bytes.size(); ++length) Exercise(z.bytes.substr(0, length));
  for (size_t cut = 1; cut < z.bytes.size(); cut += 3) Exercise(z.bytes.substr(cut));
  std::vector<uint64_t> starts = z.localOffsets;
  starts.push_back(z.centralOffset);
  for (size_t start : starts) {
    for (size_t i = start; i < std::min(z.bytes.size(), start + 66); ++i) {
      for (uint8_t value : {0x00, 0xFF, 0x80, 0x7F}) changed(i, value, 1);
    }
  }
  for (size_t i = z.centralOffset; i < z.bytes.size(); ++i) changed(i, z.bytes[i] ^ 0x5A, 1);
  // Values that single-byte damage does not make: offsets that point at other records,
  // entry counts past the directory, foreign signatures in place of the first central header.
  const size_t end = z.endOffset, cd = z.centralOffset;
  const struct {
    size_t at;
    int width;
    uint64_t value;
  } cases[] = {
      // clang-format off
      {end + 10, 2, 0xFFFF}, {end + 16, 4, 30}, {end + 16, 4, end}, {cd + 42, 4, cd},
      {cd + 42, 4, z.localOffsets[1] + 10}, {cd + 46 + 5 + 42, 4, 0},  // two share a header
      {cd, 4, 0x06064b50}, {cd, 4, 0x07064b50}, {cd, 4, 0x08064b50},
      // clang-format on
  };
  for (const auto& c : cases) changed(c.at, c.value, c.width);
}

TEST(CorruptArchiveTest, HostileRecordsEndInCodes) {
  // A ZIP64 end record announcing an enormous length, in place of the directory.
  std::string bytes;
  testing::Put32(bytes, 0x06064b50);
  testing::Put64(bytes, 0xFFFFFFFFFFFFFF00ull);
  testing::Put32(bytes, {0x06054b50, 0, 0, bytes.size(), 0});
  testing::Put16(bytes, 0);
  EXPECT_EQ(Exercise(bytes), ERROR_SEEK_FILE);
  // Local headers whose streamed data never ends.
  std::string streamed =
      testing::BuildZip({{.name = "s", .data = "stored", .descriptor = true}}).bytes;
  EXPECT_NE(Exercise(streamed.substr(0, 40)), 0);
  EXPECT_EQ(Exercise(std::string(3, 'P')), ERROR_READ_FILE);
  // A ZIP64 end record whose directory offset lies past INT64_MAX: no shift may be
  // computed from it (that subtraction overflowed).
  testing::BuiltZip z = Sample();
  std::string zip64;
  testing::Put32(zip64, {0x06064b50, 44, 0, 0x002D002D, 0, 0, 4, 0, 4, 0});
  testing::Put64(zip64, z.endOffset - z.centralOffset);
  testing::Put64(zip64, 1ull << 63);
  testing::Put32(zip64, {0x07064b50, 0, z.endOffset, 0, 1});  // the locator
  std::string huge = z.bytes.insert(z.endOffset, zip64);
  Patch(huge, z.endOffset + zip64.size() + 16, 0xFFFFFFFF, 4);
  EXPECT_NE(Exercise(huge), 0);
}

}  // namespace
}  // namespace amzip
