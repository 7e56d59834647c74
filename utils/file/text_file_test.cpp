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

TEST_F(TextFileTest, MarksChooseTheEncodingAndLinesKeepLoneCarriageReturns) {
  struct Case {
    std::string bytes;
    uint32_t given, encoding;  // the default given to OpenText, the one found
    bool bom;
    Lines lines;
  } cases[] = {
      {"\xEF\xBB\xBFx\r\ny", TextFile::kAnsi, TextFile::kUtf8, true, {u"x\n", u"y"}},
      {"\xFF\xFEx\0y\0"s, TextFile::kUtf8, TextFile::kUtf16LE, true, {u"xy"}},
      {"\xFE\xFF\0x\0y"s, TextFile::kUtf8, TextFile::kUtf16BE, true, {u"xy"}},
      // Marks that do not complete: the encoding stays as constructed (UTF-16 BE here).
      {"\xFF\xFEx", TextFile::kUtf8, TextFile::kUtf16BE, false, {u"\xFFFE"}},
      {"", TextFile::kUtf8, TextFile::kUtf16BE, false, {}},
      // No mark: the default given. Beyond 16 bits each byte is a '?', and a sequence cut off
      // by the end gives no character.
      {"\xF0\x9F\x98\x80\x80", TextFile::kUtf8, TextFile::kUtf8, false, {u"?????"}},
      {"ok\xC3", TextFile::kUtf8, TextFile::kUtf8, false, {u"ok"}},
      {"x\r", TextFile::kUtf8, TextFile::kUtf8, false, {u"x\r"}},
      {"\r\r\n\n", TextFile::kUtf8, TextFile::kUtf8, false, {u"\r\n", u"\n"}},
      // A lone CR before a multi-byte character leaves that character whole.
      {"x\r\xC3\xA9\r\xE2\x82\xAC.",
       TextFile::kUtf8,
       TextFile::kUtf8,
       false,
       {u"x\r\u00E9\r\u20AC."}},
      {"x\0\r\0y\0\r\0\n\0z\0"s, TextFile::kUtf16LE, TextFile::kUtf16LE, false, {u"x\ry\n", u"z"}},
      {"\0x\0\r\0y"s, TextFile::kUtf16BE, TextFile::kUtf16BE, false, {u"x\ry"}},
      {"a\r\nb\rc", TextFile::kAnsi, TextFile::kAnsi, false, {u"a\n", u"b\rc"}},
  };
  for (const Case& c : cases) {
    TextFile file(TextFile::kUtf16BE, true);
    ASSERT_TRUE(file.OpenText(WriteBytes("t.txt", c.bytes), c.given)) << c.bytes;
    EXPECT_EQ(file.GetEncoding(), c.encoding) << c.bytes;
    EXPECT_EQ(file.HasBom(), c.bom) << c.bytes;
    EXPECT_EQ(ReadLines(file), c.lines) << c.bytes;
  }
  TextFile file(TextFile::kUtf8, false);
  EXPECT_FALSE(file.OpenText(WidePath("missing.txt"), TextFile::kUtf8));
  file.SetCrLf(false);  // with translation off every CR stays
  ASSERT_TRUE(file.OpenText(WriteBytes("t.txt", "a\r\nb\xE2\x82\xAC"), TextFile::kUtf8));
  EXPECT_EQ(file.ReadAll(), u"a\r\nb\u20AC");
}

TEST_F(TextFileTest, CreateWritesTheMarkAndWindowsLineEnds) {
  struct Case {
    uint32_t encoding;
    bool bom;
    std::string bytes;
  } cases[] = {
      {TextFile::kUtf8, true, "\xEF\xBB\xBFx\xC3\xA9=ab\r\n"},
      {TextFile::kUtf16LE, true, "\xFF\xFEx\0\xE9\0=\0a\0b\0\r\0\n\0"s},
      {TextFile::kUtf16BE, false, "\0x\0\xE9\0=\0a\0b\0\r\0\n"s},
      {TextFile::kAnsi, true, "x\xC3\xA9=ab\r\n"},  // no mark for ANSI (UTF-8 on POSIX)
  };
  for (const Case& c : cases) {
    TextFile file(c.encoding, c.bom);
    ASSERT_TRUE(file.CreateText(WidePath("out.txt")));
    file.printf(u"%s=%x\n", u"x\u00E9", 0xab);
    file.printf(nullptr);
    file.Close();
    if (c.encoding == TextFile::kAnsi && ReadBytes("out.txt") == "x\xE9=ab\r\n") continue;  // 1252
    EXPECT_EQ(ReadBytes("out.txt"), c.bytes) << c.encoding << " " << c.bom;
  }
}

}  // namespace
}  // namespace utils
