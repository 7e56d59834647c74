#include "tools/pack/control_entries.h"

#include <gtest/gtest.h>

namespace pack {
namespace {

using namespace std::string_literals;

TEST(ControlEntriesTest, EncodesUtf16LittleEndianWithoutMark) {
  // clang-format off
  const std::pair<std::string, std::string> cases[] = {
      {"", ""}, {"-1", "-\0" "1\0"s},
      {"\xC3\xA9", "\xE9\0"s},                    // é U+00E9
      {"\xE2\x82\xAC", "\xAC\x20"},               // € U+20AC
      {"\xF0\x9F\x98\x80", "\x3D\xD8\x00\xDE"s},  // U+1F600, a pair
      {"\xEF\xBB\xBF" "1", "\xFF\xFE" "1\0"s},     // a mark in the text stays
  };
  // clang-format on
  for (const auto& [utf8, utf16] : cases) {
    EXPECT_EQ(utf16, EncodeControlText(utf8).value_or("<refused>")) << utf8;
    EXPECT_EQ(utf8, DecodeControlText(utf16)) << utf8;
  }
  for (const char* bad :
       {"\x80", "a\xE2\x82", "\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "ok\xC3("})
    EXPECT_FALSE(EncodeControlText(bad)) << bad;
}

TEST(ControlEntriesTest, DecimalNumbers) {
  for (const char* good : {"0", "-1", "+5", "2147483647", "-2147483648"})
    EXPECT_TRUE(IsDecimalInt32(good)) << good;
  for (const char* bad :
       {"", "-", "8080x", " 1", "2147483648", "-2147483649", "99999999999999999999"})
    EXPECT_FALSE(IsDecimalInt32(bad)) << bad;
  for (const char* port : {"-1", "0", "1", "+80", "65535"})
    EXPECT_TRUE(IsControlPort(port)) << port;
  for (const char* port : {"-2", "65536", "70000", "80a", "-2147483648"})
    EXPECT_FALSE(IsControlPort(port)) << port;
}

}  // namespace
}  // namespace pack
