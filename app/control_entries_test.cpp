#include "app/control_entries.h"

#include <gtest/gtest.h>

#include <climits>

#include "testing/utf16_text.h"

namespace app {
namespace {

using test::Utf16Le;

TEST(DecodeControlText, Utf16LittleEndianUpToTheFirstZero) {
  const std::pair<std::string, std::u16string> cases[] = {
      {"", u""},
      // An odd last byte fills the low half of one more unit.
      {Utf16Le(u"80") + "1", u"801"},
      // The text ends at the first zero unit; a zero byte inside a unit is no end.
      {Utf16Le(u"ab") + std::string("\0\0", 2) + Utf16Le(u"cd"), u"ab"},
      // The byte-order mark is kept.
      {std::string("\xFF\xFE\x00\x41", 4) + Utf16Le(u"\u4e2d"), u"\uFEFF\u4100\u4e2d"},
  };
  for (const auto& [bytes, text] : cases) EXPECT_EQ(DecodeControlText(bytes), text);
}

// A byte-order mark, and full-width digits, are no decimal digits: the number is 0.
TEST(ReadDecimalInt32, ReadsLikeWcstol) {
  const std::pair<std::u16string, int32_t> cases[] = {{u"  \t\r\n +42x", 42},
                                                      {u"\u3000-5", -5},
                                                      {u"+-3", 0},
                                                      {u"\uFEFF8080", 0},
                                                      {u"\uFF11", 0},
                                                      {u"2147483647", INT32_MAX},
                                                      {u"2147483648", INT32_MAX},
                                                      {u"-2147483648", INT32_MIN},
                                                      {u"-2147483649", INT32_MIN}};
  for (const auto& [text, value] : cases) {
    EXPECT_EQ(ReadDecimalInt32(text), value) << std::string(text.begin(), text.end());
  }
}

TEST(ApplyControlEntries, DefaultsAndEffects) {
  std::u16string query;
  ControlSettings settings;
  ApplyControlEntries(u"", u"", u"", u"", query, settings);
  EXPECT_EQ(query, u"");
  EXPECT_EQ(settings.port, 0);
  EXPECT_TRUE(settings.useIe);
  EXPECT_EQ(settings.caption, u"");

  query = u"?a=1&b=2";
  ApplyControlEntries(u"chapter 2&x", u"-1", u"no", u"Atlas", query, settings);
  EXPECT_EQ(query, u"?a=1&b=2&show=chapter 2&x");
  EXPECT_EQ(settings.port, -1);
  EXPECT_FALSE(settings.useIe);  // text without digits reads as 0: the default browser
  EXPECT_EQ(settings.caption, u"Atlas");

  // Ports outside -1..65535 count as absent rather than wrapping to another port.
  for (std::string port : {"70000", "-2", "4294967297"}) {
    ControlSettings fresh;
    ApplyControlEntries(u"", std::u16string(port.begin(), port.end()), u"", u"", query, fresh);
    EXPECT_EQ(fresh.port, 0) << port;
  }
  ApplyControlEntries(u"", u"65535", u"", u"", query, settings);
  EXPECT_EQ(settings.port, 65535);
}

TEST(ChooseServerPort, TheSettingReplacesAllButMinusOneWhenItIsAPort) {
  EXPECT_EQ(ChooseServerPort(0, 8080), 8080);
  EXPECT_EQ(ChooseServerPort(4000, 65535), 65535);
  EXPECT_EQ(ChooseServerPort(-1, 8080), -1);
  for (uint32_t absent : {0u, 65536u, 70000u, 0xFFFFFFFFu})
    EXPECT_EQ(ChooseServerPort(4000, absent), 4000) << absent;
}

}  // namespace
}  // namespace app
