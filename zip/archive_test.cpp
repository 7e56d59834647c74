#include "zip/archive.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include "testing/zip_builder.h"

namespace amzip {
namespace {

using testing::BuildZip;

// Opens bytes as a memory archive and extracts names with one creator.
struct Opened {
  std::string bytes;
  Archive archive;
  int32_t openCode = 0;
  explicit Opened(std::string data, const std::u16string& name = u"ZIP") : bytes(std::move(data)) {
    openCode = archive.OpenMemory(bytes.data(), bytes.size(), name);
  }
  // The extracted bytes, or "<code N>" when the extraction failed.
  std::string Get(const std::u16string& name) {
    MemCreator creator;
    archive.Extract(creator, name, name);
    if (archive.LastError().code != 0)
      return "<code " + std::to_string(archive.LastError().code) + ">";
    const std::string* data = creator.Find(name);
    return data ? *data : "<no sink>";
  }
};

// Entries of one archive: stored, deflated, empty, the longest name, refused methods,
// broken deflate data, ZIP64 fields.
TEST(ArchiveTest, ExtractsEntriesAndRefusesBrokenOnes) {
  const uint32_t k = 0xFFFFFFFF;  // "see the ZIP64 block"
  std::string big = testing::RandomBytes(200000, 2), deflated = testing::RawDeflate(big);
  std::string trailing = testing::RawDeflate("payload") + "GARBAGE-AFTER-END";
  // The ZIP64 block after a foreign one; a block shorter than it says.
  std::string found = std::string("\x99\x99\x03\x00xyz", 7) + testing::Zip64Block({10, 10, 0});
  std::string cut("\x01\x00\x10\x00short", 9);
  Opened z(BuildZip({{.name = "z64",  // first: its ZIP64 block gives the offset 0
                      .data = "zip64 data",
                      .modTime = 0,
                      .modDate = 0,
                      .centralExtra = found,
                      .compressedSize = k,
                      .uncompressedSize = k,
                      .localHeaderOffset = k},
                     {.name = "a.txt", .data = "hello"},
                     {.name = "dir/b.bin", .data = big, .method = 8},
                     {.name = "empty", .data = ""},
                     {.name = "empty8", .data = "", .method = 8},
                     {.name = std::string(2048, 'o'), .data = "longest"},
                     {.name = std::string(2049, 'n'), .data = "too long"},
                     {.name = "m12", .data = "abc", .method = 12},
                     {.name = "zero8", .data = "", .method = 8, .payload = ""},
                     {.name = "cut",
                      .data = big,
                      .method = 8,
                      .payload = deflated.substr(0, deflated.size() / 2)},
                     {.name = "junk", .data = "x", .method = 8, .payload = "\xff\xff\xff\xff"},
                     // A whole deflate stream that ends before the recorded size.
                     {.name = "early",
                      .data = big,
                      .method = 8,
                      .payload = testing::RawDeflate(big.substr(0, 1000))},
                     {.name = "trailing", .data = "payload", .method = 8, .payload = trailing},
                     {.name = "nozip64", .data = "abc", .compressedSize = k},
                     {.name = "outside", .data = "abc", .centralExtra = cut, .compressedSize = k}})
               .bytes);
  ASSERT_EQ(z.openCode, 0);
  EXPECT_EQ(z.Get(u"a.txt"), "hello");
  EXPECT_EQ(z.Get(u"DIR\\B.BIN"), big);
  EXPECT_EQ(z.archive.Entries()[2]->name, u"dir\\b.bin");
  EXPECT_EQ(z.Get(u"empty") + z.Get(u"empty8"), "");
  EXPECT_EQ(z.Get(std::u16string(2048, u'o')), "longest");
  EXPECT_EQ(z.Get(std::u16string(2049, u'n')), "<code 1>");
  EXPECT_EQ(z.Get(u"missing"), "<code 1>");
  EXPECT_EQ(z.archive.LastError().file, u"missing");
  MemCreator creator;
  z.archive.Extract(creator, u"m12", u"m12");
  EXPECT_EQ(z.archive.LastError().code, FDIERROR_BAD_COMPR_TYPE);
  EXPECT_EQ(creator.Find(u"m12"), nullptr);  // no sink was made
  EXPECT_EQ(z.Get(u"zero8"), "") << "no deflate data, but nothing to inflate either";
  z.archive.Extract(creator, u"cut", u"cut");
  EXPECT_EQ(z.archive.LastError().code, ERROR_FLATE);
  EXPECT_EQ(z.archive.LastError().file, u"ZIP");
  ASSERT_NE(creator.Find(u"cut"), nullptr);
  EXPECT_EQ(creator.Find(u"cut")->size() % Archive::kOutBufferSize, 0u);
  EXPECT_EQ(big.compare(0, creator.Find(u"cut")->size(), *creator.Find(u"cut")), 0);
  EXPECT_EQ(z.Get(u"junk"), "<code 10>");
  EXPECT_EQ(z.Get(u"early"), "<code 10>") << "never a short entry taken for whole";
  // Bytes after the end of the deflate stream end the copy; the entry is complete.
  EXPECT_EQ(z.Get(u"trailing"), "payload");
  EXPECT_EQ(z.Get(u"z64"), "zip64 data");
  EXPECT_EQ(z.Get(u"nozip64"), "<code 11>");
  EXPECT_EQ(z.archive.LastError().file, u"nozip64");
  EXPECT_EQ(z.Get(u"outside"), "<code 11>");
  // Entry info (times as Last-Modified are the provider test's) and the checksum.
  uint32_t size = 0;
  FileTime untouched{7, 8};
  ASSERT_TRUE(z.archive.GetEntryInfo(u"A.TXT", size, nullptr));
  EXPECT_EQ(size, 5u);
  ASSERT_TRUE(z.archive.GetEntryInfo(u"z64", size, &untouched));
  EXPECT_EQ(untouched.dwLowDateTime + untouched.dwHighDateTime, 15u);  // no date: left as it was
  EXPECT_FALSE(z.archive.GetEntryInfo(u"absent", size, nullptr));
  EXPECT_EQ(z.archive.GetChecksum(),
            crc32(0, reinterpret_cast<const Bytef*>(z.bytes.data()), uInt(z.bytes.size())));
}

TEST(ArchiveTest, EndRecordSearchAndComments) {
  // No comment; one with a central header's signature in it; end records straddling two
  // search blocks. Python's zipfile writes the longest comment in the interop test.
  for (size_t length : {0u, 32764u, 32742u, 32743u, 32744u, 32745u, 32746u, 32747u, 32748u}) {
    std::string comment(length, 'c');
    if (length == 32764) comment.replace(10, 4, "PK\x01\x02");
    Opened z(BuildZip({{.name = "f", .data = "data"}}, {.comment = comment}).bytes);
    EXPECT_EQ(z.archive.Comment(), comment) << length;
    EXPECT_EQ(z.Get(u"f"), "data") << length;
  }
}

TEST(ArchiveTest, DiskNumbers) {
  // End record disks that differ fail every load.
  Opened differ(BuildZip({{.name = "f", .data = "d"}}, {.thisDisk = 1, .cdDisk = 0}).bytes);
  EXPECT_EQ(differ.openCode, FDIERROR_UNKNOWN);
  EXPECT_EQ(differ.Get(u"f"), "<code -1>");
  // An entry on a disk beyond the last part; the archive stays usable.
  Opened z(
      BuildZip({{.name = "far", .data = "x", .diskStart = 7}, {.name = "y", .data = "y"}}).bytes);
  EXPECT_EQ(z.Get(u"far") + z.Get(u"y"), "<code 21>y");
  // A memory archive starting like a split part.
  Opened part("PK\x07\x08" + BuildZip({{.name = "f", .data = "d"}}).bytes, u"RT_ZIP");
  EXPECT_EQ(part.openCode, AZERROR_CANT_FIND_CENTRALDIR);
  EXPECT_EQ(part.archive.LastError().file, u"RT_ZIP");
  EXPECT_TRUE(part.archive.IsOpen());
  EXPECT_EQ(part.Get(u"f"), "<code 15>");
}

TEST(ArchiveTest, ArchiveExtraDataRecordIsPassedOver) {
  // Its contents would mislead a signature reader.
  std::string record = std::string("PK\x06\x08\x09\0\0\0", 8) + "PK\x05\x06xxxxx";
  testing::BuiltZip built = BuildZip({{.name = "f", .data = "data"}}, {.beforeCentral = record});
  uint64_t at = built.centralOffset - record.size();  // the directory starts at the record
  testing::Patch(built.bytes, built.endOffset + 12, built.endOffset - at, 4);
  testing::Patch(built.bytes, built.endOffset + 16, at, 4);
  Opened z(built.bytes);
  EXPECT_EQ(z.openCode, 0);
  EXPECT_EQ(z.Get(u"f"), "data");
}

TEST(ArchiveTest, LocalHeadersAreScannedWithoutEndRecord) {
  std::string big = testing::RandomBytes(100000, 3);
  testing::BuiltZip built =
      BuildZip({{.name = "one.txt", .data = "first entry"},
                {.name = "two.bin", .data = big, .method = 8, .descriptor = true},
                {.name = "three", .data = "stored, streamed", .descriptor = true},
                {.name = "four", .data = "last", .method = 8}});
  Opened z(built.bytes.substr(0, built.centralOffset));  // directory and end record lost
  EXPECT_EQ(z.openCode, ERROR_READ_FILE);                // the scan ran into the end of the data
  ASSERT_EQ(z.archive.Entries().size(), 4u);
  EXPECT_TRUE(z.archive.Entries()[0]->fromLocalHeader);
  EXPECT_EQ(z.Get(u"one.txt"), "first entry");
  EXPECT_EQ(z.Get(u"two.bin"), big);
  EXPECT_EQ(z.Get(u"three"), "stored, streamed");
  EXPECT_EQ(z.Get(u"four"), "last");
  EXPECT_EQ(z.archive.Entries()[1]->uncompressedSize, big.size());
}

TEST(ArchiveTest, ShiftedArchivesAreFound) {
  std::string prefix = "MZ" + std::string(5000, 'p');
  std::vector<testing::TestEntry> entries = {{.name = "a", .data = "alpha"},
                                             {.name = "b", .data = "beta", .method = 8}};
  // A stub before offsets that count from the archive's own start; offsets that count from
  // the program file's start, with the archive given alone.
  std::string adjusted =
      BuildZip(entries, {.prefix = prefix, .adjustOffsetsForPrefix = true}).bytes.substr(5002);
  for (const std::string& bytes : {BuildZip(entries, {.prefix = prefix}).bytes, adjusted}) {
    Opened z(bytes);
    EXPECT_EQ(z.openCode, 0);
    EXPECT_EQ(z.Get(u"a") + z.Get(u"b"), "alphabeta");
  }
}

TEST(ArchiveTest, StateTransitions) {
  Opened z("");  // nothing to open
  EXPECT_FALSE(z.archive.IsOpen());
  EXPECT_EQ(z.Get(u"x"), "<code 2>");  // AZERR_INVALIDSTATE
  EXPECT_EQ(z.archive.OpenFile(u"/nonexistent/dir/none.zip"), ERROR_OPEN_FILE);
  EXPECT_EQ(z.archive.LastError().file, u"/nonexistent/dir/none.zip");
  // Gzip data opens as "not a ZIP archive".
  Opened gzip(std::string("\x1f\x8b\x08\x00rest of a gzip stream", 25));
  EXPECT_EQ(gzip.openCode, 0);
  EXPECT_TRUE(gzip.archive.NotZip());
  EXPECT_EQ(gzip.Get(u"anything"), "<code 2>");
  gzip.archive.Close();
  EXPECT_FALSE(gzip.archive.IsOpen());
}

}  // namespace
}  // namespace amzip
