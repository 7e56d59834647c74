#include "tools/pack/control_entries.h"

#include <gtest/gtest.h>

namespace pack {
namespace {

TEST(ControlEntriesTest, EncodesUtf16LittleEndianWithoutMark) {
  struct Case {
    std::string utf8;
    std::string utf16;
  } cases[] = {
      {"", ""},
      {"8080", std::string("8\0"
                           "0\0"
                           "8\0"
                           "0\0",
                           8)},
      {"-1", std::string("-\0"
                         "1\0",
                         4)},
      {"\xC3\xA9", std::string("\xE9\0", 2)},                    // é U+00E9
      {"\xE2\x82\xAC", std::string("\xAC\x20", 2)},              // € U+20AC
      {"\xF0\x9F\x98\x80", std::string("\x3D\xD8\x00\xDE", 4)},  // U+1F600, a pair
      {"\xEF\xBB\xBF"
       "1",
       std::string("\xFF\xFE"
                   "1\0",
                   4)},  // a mark in the text stays
  };
  for (const auto& c : cases) {
    auto encoded = EncodeControlText(c.utf8);
    ASSERT_TRUE(encoded) << c.utf8;
    EXPECT_EQ(c.utf16, *encoded) << c.utf8;
    EXPECT_EQ(c.utf8, DecodeControlText(*encoded)) << c.utf8;
  }
}

TEST(ControlEntriesTest, RefusesInvalidUtf8) {
  for (const char* bad : {"\x80", "\xC3", "a\xE2\x82", "\xC0\xAF", "\xED\xA0\x80",
                          "\xF4\x90\x80\x80", "\xFF", "ok\xC3("}) {
    EXPECT_FALSE(EncodeControlText(bad)) << bad;
  }
}

TEST(ControlEntriesTest, DecodesLikeTheRunner) {
  // Ends at the first zero unit; an odd last byte is the low half of one more unit.
  EXPECT_EQ("ab", DecodeControlText(std::string("a\0b\0\0\0c\0", 8)));
  EXPECT_EQ("ab", DecodeControlText(std::string("a\0b", 3)));
  // An unpaired surrogate is replaced, not passed on as broken UTF-8.
  EXPECT_EQ("\xEF\xBF\xBDx", DecodeControlText(std::string("\x00\xD8x\0", 4)));
}

TEST(ControlEntriesTest, DecimalNumbers) {
  for (const char* good : {"0", "8080", "-1", "+5", "2147483647", "-2147483648"})
    EXPECT_TRUE(IsDecimalInt32(good)) << good;
  for (const char* bad :
       {"", "-", "8080x", " 1", "2147483648", "-2147483649", "0x10", "1.5", "99999999999999999999"})
    EXPECT_FALSE(IsDecimalInt32(bad)) << bad;
}

}  // namespace
}  // namespace pack
