#include "utils/file/text_file.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "utils/exception.h"
#include "utils/file/test_files.h"

namespace utils {
namespace {

using TextFileTest = testing::ScratchDir;
using namespace std::string_literals;
using Lines = std::vector<std::u16string>;

Lines ReadLines(TextFile& file) {
  Lines lines;
  std::u16string line;
  while (file.ReadLine(line)) lines.push_back(line);
  return lines;
}

TEST_F(TextFileTest, ByteOrderMarksChooseTheEncoding) {
  struct Case {
    std::string bytes;
    uint32_t encoding;
    bool bom;
    std::u16string text;
  } cases[] = {
      {"\xEF\xBB\xBF"
       "a\r\nb",
       TextFile::kUtf8, true, u"a\nb"},
      {"\xFF\xFE"
       "a\0b\0"s,
       TextFile::kUtf16LE, true, u"ab"},
      {"\xFE\xFF\0a\0b"s, TextFile::kUtf16BE, true, u"ab"},
      // Marks that do not complete: the encoding stays as constructed (UTF-16 BE here).
      {"\xFF\xFE"
       "a",
       TextFile::kUtf16BE, false, u"\xFFFE"},
      {"", TextFile::kUtf16BE, false, u""},
      // No mark: the default given to OpenText. Beyond 16 bits each byte is a '?', and a
      // sequence cut off by the end gives no character.
      {"plain\xE2\x82\xAC", TextFile::kUtf8, false, u"plain\u20AC"},
      {"\xF0\x9F\x98\x80\x80", TextFile::kUtf8, false, u"?????"},
      {"ok\xC3", TextFile::kUtf8, false, u"ok"},
  };
  for (const Case& c : cases) {
    TextFile file(TextFile::kUtf16BE, true);
    ASSERT_TRUE(file.OpenText(WriteBytes("t.txt", c.bytes), TextFile::kUtf8)) << c.bytes;
    EXPECT_EQ(file.GetEncoding(), c.encoding) << c.bytes;
    EXPECT_EQ(file.HasBom(), c.bom) << c.bytes;
    EXPECT_EQ(file.ReadAll(), c.text) << c.bytes;
  }
  TextFile file(TextFile::kUtf8, false);
  EXPECT_FALSE(file.OpenText(WidePath("missing.txt"), TextFile::kUtf8));
}

TEST_F(TextFileTest, LinesAndCarriageReturns) {
  struct Case {
    uint32_t encoding;
    std::string bytes;
    Lines lines;
  } cases[] = {
      {TextFile::kUtf8, "x\r", {u"x\r"}},
      {TextFile::kUtf8, "\r\r\n\n", {u"\r\n", u"\n"}},
      // A lone CR before a multi-byte character leaves that character whole.
      {TextFile::kUtf8, "x\r\xC3\xA9\r\xE2\x82\xAC.", {u"x\r\u00E9\r\u20AC."}},
      {TextFile::kUtf16LE, "x\0\r\0y\0\r\0\n\0z\0"s, {u"x\ry\n", u"z"}},
      {TextFile::kUtf16BE, "\0x\0\r\0y"s, {u"x\ry"}},
      {TextFile::kAnsi, "a\r\nb\rc", {u"a\n", u"b\rc"}},
  };
  for (const Case& c : cases) {
    TextFile file(c.encoding, false);
    ASSERT_TRUE(file.OpenText(WriteBytes("t.txt", c.bytes), c.encoding));
    EXPECT_EQ(ReadLines(file), c.lines) << c.bytes;
  }
  TextFile file(TextFile::kUtf8, false);
  file.SetCrLf(false);  // with translation off every CR stays
  ASSERT_TRUE(file.OpenText(WriteBytes("t.txt", "a\r\nb"), TextFile::kUtf8));
  EXPECT_EQ(ReadLines(file), (Lines{u"a\r\n", u"b"}));
  // Into a buffer: a full buffer has no terminator.
  ASSERT_TRUE(file.OpenText(WriteBytes("t.txt", "abc\nlonger line\n"), TextFile::kUtf8));
  char16_t buf[8];
  std::fill(std::begin(buf), std::end(buf), u'#');
  ASSERT_EQ(file.ReadLine(buf, 8), buf);
  EXPECT_EQ(std::u16string(buf, 8), u"abc\n\0\0\0\0"s);
  ASSERT_EQ(file.ReadLine(buf, 8), buf);
  EXPECT_EQ(std::u16string(buf, 8), u"longer l");
  EXPECT_EQ(file.ReadLine(buf, 8), nullptr);
}

TEST_F(TextFileTest, CreateWritesTheMarkOfTheEncoding) {
  struct Case {
    uint32_t encoding;
    bool bom;
    std::string bytes;
  } cases[] = {
      {TextFile::kUtf8, true,
       "\xEF\xBB\xBF"
       "a\xC3\xA9"},
      {TextFile::kUtf16LE, true,
       "\xFF\xFE"
       "a\0\xE9\0"s},
      {TextFile::kUtf16BE, true, "\xFE\xFF\0a\0\xE9"s},
      {TextFile::kUtf16BE, false, "\0a\0\xE9"s},
      {TextFile::kAnsi, true, "a\xC3\xA9"},  // the ANSI code page has no mark (UTF-8 on POSIX)
  };
  for (const Case& c : cases) {
    TextFile file(c.encoding, c.bom);
    ASSERT_TRUE(file.CreateText(WidePath("out.txt")));
    file.WriteText(u"a\u00E9");
    file.Close();
    if (c.encoding == TextFile::kAnsi && ReadBytes("out.txt") == "a\xE9") continue;  // Windows 1252
    EXPECT_EQ(ReadBytes("out.txt"), c.bytes) << c.encoding << " " << c.bom;
  }
}

TEST_F(TextFileTest, PrintfWritesWindowsLineEnds) {
  TextFile file(TextFile::kUtf16LE, false);
  ASSERT_TRUE(file.CreateText(WidePath("out.txt")));
  file.printf(u"%s=%d\n%hs\r\n", u"k", 42, "v");
  file.printf(nullptr);
  file.Close();
  EXPECT_EQ(ReadBytes("out.txt"),
            "k\0=\0"
            "4\0"
            "2\0\r\0\n\0v\0\r\0\n\0"s);
  TextFile plain(TextFile::kUtf8, true);
  plain.SetCrLf(false);
  ASSERT_TRUE(plain.CreateText(WidePath("plain.txt")));
  plain.printf(u"a\nb %5.2f|", 1.5);
  plain.Close();
  EXPECT_EQ(ReadBytes("plain.txt"),
            "\xEF\xBB\xBF"
            "a\nb  1.50|");
}

TEST_F(TextFileTest, PrintfStopsAtThirtyTwoMegaCharacters) {
  TextFile file(TextFile::kUtf8, false);
  ASSERT_TRUE(file.CreateText(WidePath("big.txt")));
  const int limit = 33554432;
  ASSERT_EQ(TextFile::kMaxFormatChars, size_t(limit));
  try {
    file.printf(u"%*d", limit, 1);
    FAIL() << "no exception";
  } catch (const Exception& e) {
    EXPECT_EQ(e.GetMessage(), u"32MB buffer size limit exceeded");
  }
  EXPECT_EQ(file.GetSize(), 0u) << "nothing written on overflow";
  file.printf(u"%*d", limit - 1, 1);
  EXPECT_EQ(file.GetSize(), uint64_t(limit - 1));
}

TEST(TextFileEncode, CodePageAndLineEnds) {
  EXPECT_EQ(TextFile::ToCrLf(u"\na\r\nb\n\n\r\r"), u"\r\na\r\nb\r\n\r\n\r\r");
  EXPECT_EQ(TextFile::Encode(u"\U0001F600", TextFile::kUtf8), "\xF0\x9F\x98\x80");
}

}  // namespace
}  // namespace utils
