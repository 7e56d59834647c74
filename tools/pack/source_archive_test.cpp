#include "tools/pack/source_archive.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>

#include "testing/pack_util.h"
#include "testing/zip_builder.h"
#include "tools/pack/pack.h"

namespace pack {
namespace {

namespace fs = std::filesystem;
using amzip::testing::BuildZip;
using amzip::testing::TestEntry;
using testing::Quoted;
using testing::RunShell;
using testing::WriteText;

const fs::path kProbe = testing::BuiltProgram("locator_probe");

class SourceZipTest : public ::testing::Test {
 protected:
  // Packs zip (written from bytes) with the probe as runner; the error, "" on success.
  std::string PackZip(const std::string& bytes, const std::string& output = "out") {
    WriteText(dir_ / "in.zip", bytes);
    PackOptions o;
    o.source = dir_ / "in.zip";
    o.output = dir_ / output;
    o.stub = kProbe;
    PackResult r = Pack(o);
    EXPECT_EQ(r.ok, fs::exists(o.output));  // a failed run leaves no output
    return r.ok ? std::string() : r.error;
  }
  std::string ListOf(const fs::path& path, std::string* error = nullptr) {
    std::FILE* out = std::tmpfile();
    std::string why = List(path, out);
    if (error) *error = why;
    std::string text(size_t(std::ftell(out)), '\0');
    std::rewind(out);
    text.resize(std::fread(text.data(), 1, text.size(), out));
    std::fclose(out);
    return text;
  }
  testing::TempDir dir_;
};

// Names as amzip decodes them, repacked with UTF-8 names and "/" separators.
TEST_F(SourceZipTest, NamesAreDecodedLikeTheRunnerDoes) {
  // An Info-ZIP Unicode Path field naming "raw.txt" "ré.txt".
  std::string unicodePath;
  amzip::testing::Put16(unicodePath, 0x7075);
  amzip::testing::Put16(unicodePath, 5 + 7);
  unicodePath.push_back(1);
  amzip::testing::Put32(unicodePath, crc32(0, reinterpret_cast<const Bytef*>("raw.txt"), 7));
  unicodePath += "r\xC3\xA9.txt";
  std::string bytes =
      BuildZip({
                   {.name = "index.html", .data = "<p>", .method = 8},
                   {.name = "\201ber.txt", .data = "cp437"},
                   {.name = "caf\xC3\xA9.txt", .data = "utf8", .flags = 0x0800},
                   {.name = "raw.txt", .data = "field", .centralExtra = unicodePath},
                   {.name = "win\\path.txt", .data = "backslash"},
                   {.name = "folder/", .data = ""},
               })
          .bytes;
  ASSERT_EQ("", PackZip(bytes));
  fs::path out = dir_ / "out";
  const std::pair<const char*, const char*> expected[] = {
      {"index.html", "<p>"},      {"\303\274ber.txt", "cp437"},  {"caf\xC3\xA9.txt", "utf8"},
      {"r\xC3\xA9.txt", "field"}, {"win/path.txt", "backslash"},
  };
  for (const auto& [name, data] : expected) EXPECT_EQ(data, testing::Unzip(out, name)) << name;
  std::string listing = ListOf(out);
  EXPECT_NE(std::string::npos, listing.find("5 entries, 26 bytes")) << listing;
  EXPECT_EQ(std::string::npos, listing.find("folder")) << listing;
}

TEST_F(SourceZipTest, UnusableEntriesAreRefusedByName) {
  struct Case {
    const char* what;
    TestEntry entry;
    const char* message;
  } cases[] = {
      {"encrypted", {.name = "secret.txt", .data = "x", .flags = 1}, "'secret.txt'"},
      {"bzip2", {.name = "b.txt", .data = "x", .method = 12}, "compression method"},
      {"header beyond the end",
       {.name = "far.txt", .data = "x", .localHeaderOffset = 0x10000},
       "outside the archive"},
      {"data beyond the end",
       {.name = "long.txt", .data = "x", .compressedSize = 0x10000},
       "outside the archive"},
      {"undecodable UTF-8 name",
       {.name = "bad\xC3.txt", .data = "x", .flags = 0x0800},
       "cannot be decoded"},
  };
  for (const auto& c : cases) {
    std::string bytes = BuildZip({{.name = "index.html", .data = "ok"}, c.entry}).bytes;
    std::string error = PackZip(bytes);
    EXPECT_NE(std::string::npos, error.find(c.message)) << c.what << ": " << error;
    EXPECT_FALSE(fs::exists(dir_ / "out")) << c.what;
  }
  for (const char* junk : {"", "short", "plain text that is long enough to be searched"}) {
    std::string error = PackZip(junk);
    EXPECT_NE(std::string::npos, error.find("not a ZIP archive")) << junk << ": " << error;
    ListOf(dir_ / "in.zip", &error);
    EXPECT_NE(std::string::npos, error.find("not a ZIP archive")) << junk << ": " << error;
  }
}

TEST_F(SourceZipTest, OpenTellsAppendedArchivesFromPlainOnes) {
  std::string bytes = BuildZip({{.name = "index.html", .data = "hi"}}).bytes;
  WriteText(dir_ / "plain.zip", bytes);
  ASSERT_EQ("", PackZip(bytes, "packed"));
  for (bool findAppended : {false, true}) {
    SourceArchive plain;
    ASSERT_EQ("", plain.Open(dir_ / "plain.zip", findAppended));
    EXPECT_FALSE(plain.Appended());
    EXPECT_EQ(bytes.size(), plain.Size());
    ASSERT_EQ(1u, plain.Zip().Entries().size());
    EXPECT_EQ("hi", plain.ReadSmall(*plain.Zip().Entries()[0], 2));
    EXPECT_FALSE(plain.ReadSmall(*plain.Zip().Entries()[0], 1));  // over the limit
  }
  SourceArchive packed;
  ASSERT_EQ("", packed.Open(dir_ / "packed", true));
  EXPECT_TRUE(packed.Appended());
  EXPECT_EQ(fs::file_size(kProbe), packed.Start());
  EXPECT_EQ(fs::file_size(dir_ / "packed"), packed.Start() + packed.Size() + 16);
  SourceArchive missing;
  EXPECT_EQ("cannot open the file", missing.Open(dir_ / "none", true));
}

}  // namespace
}  // namespace pack
