#include "tools/pack/zip_writer.h"

#include <gtest/gtest.h>

#include <sstream>

#include "tools/pack/source_archive.h"
#include "testing/pack_util.h"
#include "zip/archive.h"

namespace pack {
namespace {

namespace fs = std::filesystem;
using testing::Quoted;
using testing::RandomBytes;
using testing::RunShell;

struct Written {
  std::string bytes;
  std::vector<amzip::Entry> entries;
  std::vector<std::string> contents;  // each entry's bytes as the runner's reader gives them
};

// Writes (name, method, data) entries after prefix bytes and reads them back with amzip
// over the archive's bytes alone, as the runner does.
Written Write(const std::vector<std::tuple<std::string, Method, std::string>>& input,
              const std::string& prefix = "") {
  std::stringstream stream(std::ios::in | std::ios::out | std::ios::binary);
  stream << prefix;
  ZipWriter writer(stream);
  for (const auto& [name, method, data] : input)
    EXPECT_TRUE(writer.AddBytes(name, method, DosDateTime(2024, 5, 17, 13, 45, 30), data))
        << writer.Error();
  EXPECT_TRUE(writer.Finish()) << writer.Error();
  Written w;
  w.bytes = stream.str();
  EXPECT_EQ(prefix.size() + writer.GetSize(), w.bytes.size());
  amzip::Archive zip;
  EXPECT_EQ(0, zip.OpenMemory(w.bytes.data() + prefix.size(), writer.GetSize(), u"ZIP"));
  for (const auto& entry : zip.Entries()) {
    w.entries.push_back(*entry);
    std::string content;
    if (auto in = zip.OpenEntryStream(*entry)) {
      char buffer[8192];
      while (uint32_t n = in->Read(buffer, sizeof buffer)) content.append(buffer, n);
    }
    w.contents.push_back(content);
  }
  return w;
}

TEST(ZipWriterTest, DeflatesWhatShrinksAndStoresTheRest) {
  std::string text(20000, 'a');
  std::string noise = RandomBytes(5000, 1);
  const std::vector<std::tuple<std::string, Method, std::string>> input = {
      {"text.txt", Method::Deflated, text},
      {"noise.bin", Method::Deflated, noise},  // deflate does not help: stored
      {"tiny", Method::Deflated, "x"},
      {"asked-stored.txt", Method::Stored, text},
      {"empty", Method::Deflated, ""}};
  auto w = Write(input);
  ASSERT_EQ(5u, w.entries.size());
  EXPECT_EQ(8, w.entries[0].method);
  EXPECT_LT(w.entries[0].compressedSize, 200u);
  EXPECT_EQ(0, w.entries[1].method);
  EXPECT_EQ(5000u, w.entries[1].compressedSize);
  EXPECT_EQ(0, w.entries[2].method);
  EXPECT_EQ(0, w.entries[3].method);
  EXPECT_EQ(20000u, w.entries[3].compressedSize);
  EXPECT_EQ(0, w.entries[4].method);
  for (size_t i = 0; i < w.entries.size(); ++i) {
    const amzip::Entry& e = w.entries[i];
    EXPECT_EQ(std::get<0>(input[i]), EntryPath(e));
    EXPECT_EQ(0x0800, e.flags) << EntryPath(e);  // UTF-8 names, no data descriptor
    EXPECT_EQ(DosDateTime(2024, 5, 17, 13, 45, 30), EntryDosTime(e));
    EXPECT_TRUE(std::get<2>(input[i]) == w.contents[i]) << EntryPath(e);
  }
}

TEST(ZipWriterTest, RealToolsExtractEveryEntryAfterAPrefix) {
  testing::TempDir dir;
  std::string text;
  for (int i = 0; i < 3000; ++i) text += "line " + std::to_string(i) + "\n";
  std::vector<std::tuple<std::string, Method, std::string>> input = {
      {"index.html", Method::Deflated, "<h1>hi</h1>"},
      {"sub/dir/app.js", Method::Deflated, text},
      {"media/clip.mp4", Method::Stored, RandomBytes(70000, 2)},
      {"caf\xC3\xA9 \xE2\x82\xAC.txt", Method::Deflated, "unicode name"},
  };
  // The prefix stands for a program image: offsets stay relative to the archive.
  auto w = Write(input, std::string(4321, 'P'));
  fs::path zip = dir / "a.zip";
  testing::WriteText(zip, w.bytes);
  auto test = RunShell("unzip -tq " + Quoted(zip));
  EXPECT_NE(std::string::npos, test.output.find("No errors")) << test.output;
  for (const auto& [name, method, data] : input) {
    EXPECT_TRUE(data == testing::Unzip(zip, name)) << name;
  }
  // Python's zipfile checks CRCs and sizes of every entry on read.
  auto py = RunShell(
      "python3 -c \"import zipfile,sys; z=zipfile.ZipFile(sys.argv[1]); "
      "print(z.testzip(), sorted(i.filename for i in z.infolist()))\" " +
      Quoted(zip));
  EXPECT_EQ(0, py.status) << py.output;
  EXPECT_NE(std::string::npos, py.output.find("None")) << py.output;
  EXPECT_NE(std::string::npos, py.output.find("caf\xC3\xA9 \xE2\x82\xAC.txt")) << py.output;
}

TEST(ZipWriterTest, SameInputSameBytes) {
  std::vector<std::tuple<std::string, Method, std::string>> input = {
      {"a.txt", Method::Deflated, std::string(9000, 'q')}, {"b.png", Method::Stored, "png"}};
  EXPECT_EQ(Write(input).bytes, Write(input).bytes);
  EXPECT_EQ(Write(input, "stub").bytes.substr(4), Write(input).bytes);
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
