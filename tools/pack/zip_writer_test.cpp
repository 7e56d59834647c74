#include "tools/pack/zip_writer.h"

#include <gtest/gtest.h>

#include <sstream>

#include "testing/pack_util.h"
#include "tools/pack/source_archive.h"
#include "zip/archive.h"

namespace pack {
namespace {

using testing::RandomBytes;

// The writer's tests at the level of one archive; real tools read the packer's output
// in pack_test.cpp.
TEST(ZipWriterTest, DeflatesWhatShrinksAndStoresTheRest) {
  const std::string text(20000, 'a');
  const std::vector<std::tuple<std::string, Method, std::string>> input = {
      {"text.txt", Method::Deflated, text},
      {"noise.bin", Method::Deflated, RandomBytes(5000, 1)},  // deflate does not help: stored
      {"tiny", Method::Deflated, "x"},
      {"asked-stored.txt", Method::Stored, text},
      {"empty", Method::Deflated, ""}};
  std::stringstream stream(std::ios::in | std::ios::out | std::ios::binary);
  stream << "prefix";  // offsets stay relative to the archive
  ZipWriter writer(stream);
  for (const auto& [name, method, data] : input)
    EXPECT_TRUE(writer.AddBytes(name, method, DosDateTime(2024, 5, 17, 13, 45, 30), data))
        << writer.Error();
  ASSERT_TRUE(writer.Finish()) << writer.Error();
  std::string bytes = stream.str();
  ASSERT_EQ(6 + writer.GetSize(), bytes.size());
  amzip::Archive zip;
  ASSERT_EQ(0, zip.OpenMemory(bytes.data() + 6, writer.GetSize(), u"ZIP"));
  ASSERT_EQ(5u, zip.Entries().size());
  const std::pair<int, uint32_t> stored[] = {{8, 0}, {0, 5000}, {0, 1}, {0, 20000}, {0, 0}};
  for (size_t i = 0; i < input.size(); ++i) {
    const amzip::Entry& e = *zip.Entries()[i];
    EXPECT_EQ(std::get<0>(input[i]), EntryPath(e));
    EXPECT_EQ(stored[i].first, e.method) << EntryPath(e);
    if (e.method == 0) {
      EXPECT_EQ(stored[i].second, e.compressedSize) << EntryPath(e);
    }
    EXPECT_EQ(0x0800, e.flags) << EntryPath(e);  // UTF-8 names, no data descriptor
    EXPECT_EQ(DosDateTime(2024, 5, 17, 13, 45, 30), EntryDosTime(e));
    std::string content;
    auto in = zip.OpenEntryStream(e);
    char buffer[8192];
    while (uint32_t n = in ? in->Read(buffer, sizeof buffer) : 0) content.append(buffer, n);
    EXPECT_TRUE(std::get<2>(input[i]) == content) << EntryPath(e);
  }
  EXPECT_LT(zip.Entries()[0]->compressedSize, 200u);
}

TEST(ZipWriterTest, RefusesAnArchiveBeyondItsLimit) {
  std::stringstream stream(std::ios::in | std::ios::out | std::ios::binary);
  ZipWriter writer(stream, 1000);
  EXPECT_TRUE(writer.AddBytes("small", Method::Stored, 0, std::string(500, 's')));
  EXPECT_FALSE(writer.AddBytes("big", Method::Stored, 0, RandomBytes(600, 3)));
  EXPECT_NE(std::string::npos, writer.Error().find("does not fit")) << writer.Error();
  EXPECT_FALSE(writer.Finish());
  // The end record alone can push it over the limit too.
  std::stringstream exact(std::ios::in | std::ios::out | std::ios::binary);
  ZipWriter tight(exact, 30 + 1 + 10 + 46 + 1 + 21);
  EXPECT_TRUE(tight.AddBytes("x", Method::Stored, 0, std::string(10, 'x')));
  EXPECT_FALSE(tight.Finish());
}

TEST(ZipWriterTest, DosDateTimes) {
  EXPECT_EQ(0x00210000u, DosDateTime(1980, 1, 1, 0, 0, 0));
  EXPECT_EQ(0x00210000u, DosDateTime(1975, 6, 1, 12, 0, 0));  // clamped to the epoch
  // 2024-05-17 13:45:30: year 44, month 5, day 17 / hour 13, minute 45, 15 two-seconds.
  EXPECT_EQ((44u << 25 | 5u << 21 | 17u << 16) | (13u << 11 | 45u << 5 | 15u),
            DosDateTime(2024, 5, 17, 13, 45, 30));
  EXPECT_EQ(DosDateTime(2024, 5, 17, 13, 45, 30), DosDateTime(2024, 5, 17, 13, 45, 31));
  EXPECT_EQ(127u, DosDateTime(2200, 1, 1, 0, 0, 0) >> 25);
}

}  // namespace
}  // namespace pack
