#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>
#include <string>

#include "utils/encoding.h"
#include "zip/entry_key.h"
#include "zip/error.h"
#include "zip/sink.h"
#include "zip/source.h"

namespace amzip {
namespace {

TEST(MemReaderTest, ReadsSeeksAndCloses) {
  const char data[] = "0123456789";
  MemReader reader(data, 10);
  uint8_t buffer[16];
  uint32_t got = 99;
  EXPECT_TRUE(reader.IsOpen());
  EXPECT_TRUE(reader.Read(buffer, 0, got));
  EXPECT_EQ(got, 0u);
  ASSERT_TRUE(reader.Seek(6, 0));
  EXPECT_TRUE(reader.Read(buffer, 10, got));
  EXPECT_EQ(got, 4u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 4), "6789");
  EXPECT_FALSE(reader.Read(buffer, 10, got));
  EXPECT_EQ(got, 0u);
  ASSERT_TRUE(reader.Seek(-3, 2));
  EXPECT_EQ(reader.Tell(), 7u);
  ASSERT_TRUE(reader.Seek(-2, 1));
  EXPECT_EQ(reader.Tell(), 5u);
  ASSERT_TRUE(reader.Seek(100, 1));  // not bounded
  EXPECT_EQ(reader.Tell(), 105u);
  EXPECT_FALSE(reader.Read(buffer, 1, got));
  ASSERT_TRUE(reader.Seek(-1, 0));  // before the start reads nothing
  EXPECT_FALSE(reader.Read(buffer, 1, got));
  EXPECT_FALSE(reader.Seek(0, 3));
  reader.Close();
  EXPECT_FALSE(reader.IsOpen());
  EXPECT_FALSE(reader.Seek(0, 0));
  EXPECT_FALSE(reader.Read(buffer, 1, got));
  EXPECT_TRUE(reader.Read(buffer, 0, got));
}

TEST(FileReaderTest, ReadsAFileAndReportsItsEnd) {
  std::string path = ::testing::TempDir() + "amzip_file_reader.bin";
  FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fputs("abcdef", f);
  std::fclose(f);
  FileReader reader(utils::Utf8ToWide(path));
  ASSERT_TRUE(reader.IsOpen());
  uint8_t buffer[8];
  uint32_t got = 0;
  ASSERT_TRUE(reader.Seek(-2, 2));
  EXPECT_EQ(reader.Tell(), 4u);
  EXPECT_TRUE(reader.Read(buffer, 8, got));
  EXPECT_EQ(got, 2u);
  EXPECT_TRUE(reader.Read(buffer, 8, got));  // at the end: success with 0 bytes
  EXPECT_EQ(got, 0u);
  EXPECT_FALSE(reader.Seek(0, 7));
  reader.Close();
  EXPECT_FALSE(reader.IsOpen());
  EXPECT_FALSE(reader.Read(buffer, 1, got));
  std::remove(path.c_str());
  FileReader missing(utils::Utf8ToWide(path));
  EXPECT_FALSE(missing.IsOpen());
}

TEST(MemCreatorTest, SecondWriterForANameEmptiesTheFirst) {
  MemCreator creator;
  std::unique_ptr<WriteI> w1(creator.CreateWriter(u"a", 0));
  ASSERT_TRUE(w1->IsOpen());
  EXPECT_TRUE(w1->Write("hello", 5));
  EXPECT_TRUE(w1->Write(" world", 6));
  EXPECT_EQ(*creator.Find(u"a"), "hello world");
  std::unique_ptr<WriteI> w2(creator.CreateWriter(u"a", 0));
  EXPECT_EQ(*creator.Find(u"a"), "");
  EXPECT_TRUE(w2->Write("x", 1));
  EXPECT_EQ(*creator.Find(u"a"), "x");
  EXPECT_EQ(creator.Find(u"A"), nullptr);  // names compare exactly
  EXPECT_EQ(creator.CheckTarget(u"a"), 0);
  EXPECT_EQ(creator.MakeDirectory(u"d", nullptr), 0);
}

TEST(ErrorNameTest, EveryCodeHasItsName) {
  const struct {
    int32_t code;
    const char* name;
  } cases[] = {
      {-1, "FDIERROR_UNKNOWN"},
      {0, "FDIERROR_NONE"},
      {1, "AZERROR_NOT_FOUND"},
      {2, "AZERR_INVALIDSTATE"},
      {3, "AZERR_INVALIDARG"},
      {4, "ERROR_CREATE_FILE"},
      {5, "ERROR_OPEN_FILE"},
      {6, "ERROR_READ_FILE"},
      {7, "ERROR_WRITE_FILE"},
      {8, "ERROR_SEEK_FILE"},
      {9, "ERROR_SYSTEM"},
      {10, "ERROR_FLATE"},
      {11, "AZERROR_ZIP64_NEEDED"},
      {12, "AZERROR_UTF8_NEEDED"},
      {13, "AZERROR_FILENAME_TOO_LONG"},
      {14, "AZERROR_CENTRALDIR"},
      {15, "AZERROR_CANT_FIND_CENTRALDIR"},
      {16, "FDIERROR_BAD_COMPR_TYPE"},
      {17, "FDIERROR_UNKNOWN"},
      {18, "AZERROR_FILE_EXISTS"},
      {19, "FDIERROR_UNKNOWN"},
      {20, "AZERROR_GETSTREAMINFO"},
      {21, "AZERROR_MISSING_PART"},
      {22, "FDIERROR_UNKNOWN"},
      {-7, "FDIERROR_UNKNOWN"},
  };
  for (const auto& c : cases) EXPECT_STREQ(ErrorName(c.code), c.name) << c.code;
}

TEST(NormalizeEntryKeyTest, Table) {
  const struct {
    const char16_t* in;
    const char16_t* out;
  } cases[] = {
      {u"Book/Index.HTML", u"book\\index.html"},
      {u"BOOK\\Index.html", u"book\\index.html"},
      {u"book//index.html/", u"book\\index.html"},
      {u"/book/x", u"\\book\\x"},
      {u"\\\\server\\share", u"\\\\server\\share"},
      {u"///a", u"\\\\a"},
      {u"file://A/B", u"a\\b"},
      {u"File://A", u"file:\\a"},  // the prefix compares with case
      {u"file://", u""},
      {u"\\\\?\\C:\\X", u"c:\\x"},
      {u".\\Y", u"y"},
      {u"./Y", u".\\y"},
      {u".\\", u""},
      {u"", u""},
      {u"/", u""},
      {u"//", u""},
      {u"a\\\\/b//", u"a\\b"},
      {u"MiXeD", u"mixed"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(NormalizeEntryKey(c.in), std::u16string(c.out)) << utils::WideToUtf8(c.in);
  }
}

std::string UnicodePathField(const std::string& rawName, const std::string& utf8, bool goodCrc) {
  uint32_t crc = static_cast<uint32_t>(
      crc32(0, reinterpret_cast<const Bytef*>(rawName.data()), static_cast<uInt>(rawName.size())));
  if (!goodCrc) crc ^= 1;
  std::string f;
  auto put16 = [&](uint32_t v) {
    f += static_cast<char>(v & 0xFF), f += static_cast<char>(v >> 8);
  };
  put16(0x5455);  // a foreign block first
  put16(1);
  f += '\x03';
  put16(0x7075);
  put16(static_cast<uint32_t>(5 + utf8.size()));
  f += '\x01';
  for (int i = 0; i < 4; ++i) f += static_cast<char>(crc >> (8 * i));
  return f + utf8;
}

TEST(DecodeEntryNameTest, FlagsCodePagesAndUnicodePathField) {
  // CP437 0x82 is e acute, 0x81 u diaeresis.
  EXPECT_EQ(DecodeEntryName("caf\x82.txt", 0, nullptr, 0), u"caf\u00e9.txt");
  EXPECT_EQ(DecodeEntryName("caf\xc3\xa9", 0x0800, nullptr, 0), u"caf\u00e9");
  EXPECT_EQ(DecodeEntryName("bad\xff", 0x0800, nullptr, 0), u"");
  EXPECT_EQ(DecodeEntryName("cut\0hidden", 0, nullptr, 0), u"cut");
  EXPECT_EQ(DecodeEntryName(std::string("cut\0hidden", 10), 0, nullptr, 0), u"cut");
  std::string raw = "m\x81nchen";
  std::string good = UnicodePathField(raw, "M\xc3\xbcnchen-unicode", true);
  EXPECT_EQ(DecodeEntryName(raw, 0, reinterpret_cast<const uint8_t*>(good.data()),
                            static_cast<uint16_t>(good.size())),
            u"M\u00fcnchen-unicode");
  std::string stale = UnicodePathField(raw, "M\xc3\xbcnchen-unicode", false);
  EXPECT_EQ(DecodeEntryName(raw, 0, reinterpret_cast<const uint8_t*>(stale.data()),
                            static_cast<uint16_t>(stale.size())),
            u"m\u00fcnchen");
  // A field claiming more bytes than the extra field holds is ignored.
  std::string cut = good.substr(0, good.size() - 3);
  EXPECT_EQ(DecodeEntryName(raw, 0, reinterpret_cast<const uint8_t*>(cut.data()),
                            static_cast<uint16_t>(cut.size())),
            u"m\u00fcnchen");
}

}  // namespace
}  // namespace amzip
