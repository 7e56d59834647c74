// The memory and file sources are read by every archive test (OpenMemory) and by the
// interop tests (OpenFile, split parts).
#include <gtest/gtest.h>
#include <zlib.h>

#include <string>

#include "testing/zip_builder.h"
#include "utils/encoding.h"
#include "zip/entry_key.h"

namespace amzip {
namespace {

TEST(NormalizeEntryKeyTest, Table) {
  // clang-format off
  const std::pair<const char16_t*, const char16_t*> cases[] = {
      {u"Book/Index.HTML", u"book\\index.html"}, {u"book//index.html/", u"book\\index.html"},
      {u"/book/x", u"\\book\\x"},
      {u"\\\\server\\share", u"\\\\server\\share"}, {u"///a", u"\\\\a"}, {u"file://A/B", u"a\\b"},
      {u"File://A", u"file:\\a"},  // the prefix compares with case
      {u"file://", u""}, {u"\\\\?\\C:\\X", u"c:\\x"}, {u".\\Y", u"y"}, {u"./Y", u".\\y"},
      {u".\\", u""}, {u"/", u""}, {u"//", u""}, {u"a\\\\/b//", u"a\\b"},
  };
  // clang-format on
  for (const auto& [in, out] : cases)
    EXPECT_EQ(NormalizeEntryKey(in), std::u16string(out)) << utils::WideToUtf8(in);
}

TEST(DecodeEntryNameTest, FlagsCodePagesAndUnicodePathField) {
  auto decode = [](const std::string& raw, uint16_t flags, const std::string& extra = "") {
    return DecodeEntryName(raw, flags, reinterpret_cast<const uint8_t*>(extra.data()),
                           static_cast<uint16_t>(extra.size()));
  };
  // CP437 0x82 is e acute, 0x81 u diaeresis.
  EXPECT_EQ(decode("caf\x82.txt", 0), u"caf\u00e9.txt");
  EXPECT_EQ(decode("caf\xc3\xa9", 0x0800), u"caf\u00e9");
  EXPECT_EQ(decode("bad\xff", 0x0800), u"");
  EXPECT_EQ(decode(std::string("cut\0hidden", 10), 0), u"cut");
  // A Unicode Path field after a foreign block: used while its CRC matches the raw name.
  std::string raw = "m\x81nchen", utf8 = "M\xc3\xbcnchen-unicode";
  auto field = [&](uint32_t crcChange) {
    std::string f("\x55\x54\x01\x00\x03", 5);
    testing::Put16(f, 0x7075);
    testing::Put16(f, 5 + utf8.size());
    f += '\x01';
    testing::Put32(f, crc32(0, reinterpret_cast<const Bytef*>(raw.data()), 7) ^ crcChange);
    return f + utf8;
  };
  EXPECT_EQ(decode(raw, 0, field(0)), u"M\u00fcnchen-unicode");
  EXPECT_EQ(decode(raw, 0, field(1)), u"m\u00fcnchen");
  // A field claiming more bytes than the extra field holds is ignored.
  EXPECT_EQ(decode(raw, 0, field(0).substr(0, field(0).size() - 3)), u"m\u00fcnchen");
}

}  // namespace
}  // namespace amzip
