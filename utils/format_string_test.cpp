#include "utils/format_string.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "utils/encoding.h"  // FormatString

namespace utils {
namespace {

std::u16string Widen(const std::string& s) { return std::u16string(s.begin(), s.end()); }

// The buffer starts at 255 units and doubles (FormatInto answers -1 when a text does not
// fit) up to 256 x 4096; beyond, no limit.
TEST(FormatString, TextsAroundTheBufferSizesComeOutWhole) {
  for (size_t length : {254, 255, 511, 256 * 4096 - 2}) {
    std::u16string filler(length, u'x');
    filler.back() = u'!';
    EXPECT_EQ(FormatString(u"%s", filler.c_str()), filler) << length;
  }
  std::u16string big(256 * 4096 - 1, u'y');  // the arguments are read again after the string
  EXPECT_EQ(FormatString(u"[%s]%d", big.c_str(), 77), u"[" + big + u"]77");
}

// Integer conversions against the C library's narrow printf, which defines them.
TEST(FormatString, IntegerConversionsMatchTheCLibrary) {
  const char* formats[] = {"%d",    "%5d",     "%-5d|", "%05d", "%+d",  "% d", "%.3d",
                           "%8.3d", "%-8.3d|", "%.0d",  "%x",   "%X",   "%#x", "%#X",
                           "%08x",  "%#010x",  "%o",    "%#o",  "%u",   "%i",  "%+.0i",
                           "%*d",   "%-*d|",   "%.*d",  "%hd",  "%hhu", "%3c"};
  int values[] = {0, 1, -1, 42, -42, 255, 65535, 65536, INT32_MAX, INT32_MIN, 0x7F7F};
  for (const char* f : formats) {
    std::string narrow(f);
    bool star = narrow.find('*') != std::string::npos;
    for (int v : values) {
      if (narrow.find('c') != std::string::npos && (v < 32 || v > 126)) continue;
      char expected[128];
      std::u16string got;
      if (star) {
        std::snprintf(expected, sizeof expected, f, 7, v);
        got = FormatString(Widen(narrow).c_str(), 7, v);
      } else {
        std::snprintf(expected, sizeof expected, f, v);
        got = FormatString(Widen(narrow).c_str(), v);
      }
      std::u16string want = Widen(expected);
      if (want.empty()) want = u"(null)";
      EXPECT_EQ(got, want) << f << " with " << v;
    }
  }
}

TEST(FormatString, OtherConversions) {
  EXPECT_EQ(FormatString(u"%lld|%llu", -9000000000LL, 18446744073709551615ULL),
            u"-9000000000|18446744073709551615");
  EXPECT_EQ(FormatString(u"%I64d|%I64X", int64_t{-1}, uint64_t{0xABCDEF0123ULL}), u"-1|ABCDEF0123");
  EXPECT_EQ(FormatString(u"%zu|%I32d|%Iu", size_t{123}, -2, size_t{4}), u"123|-2|4");
  // Empty texts and null pointers.
  EXPECT_EQ(FormatString(u""), u"(null)");
  EXPECT_EQ(FormatString(u"%s", u""), u"(null)");
  EXPECT_EQ(FormatString(nullptr), u"");
  EXPECT_EQ(FormatString(u"%s|%hs", static_cast<const char16_t*>(nullptr),
                         static_cast<const char*>(nullptr)),
            u"(null)|(null)");
  // Strings, characters, pointers and floats.
  EXPECT_EQ(FormatString(u"<%hs|%ls>", "narrow", u"wide\x20AC"), u"<narrow|wide\x20AC>");
  EXPECT_EQ(FormatString(u"<%6s|%-6s|%.2s>", u"ab", u"cd", u"efgh"), u"<    ab|cd    |ef>");
  EXPECT_EQ(FormatString(u"%c%c%hc", u'\x263A', u'z', 'y'), u"\x263Azy");
  EXPECT_EQ(FormatString(u"%hs", "\xE9"), u"\x00E9");  // one byte, one unit
  EXPECT_EQ(FormatString(u"100%% %n%y|%d %", 5), u"100% %n%y|5 %");
  std::u16string p = FormatString(u"%p", reinterpret_cast<void*>(uintptr_t{0xBEEF}));
  EXPECT_EQ(p, std::u16string(sizeof(void*) * 2 - 4, u'0') + u"BEEF");
  EXPECT_EQ(FormatString(u"%.2f|%e|%g|%8.3f", 3.14159, 1500.0, 0.5, -2.5),
            u"3.14|1.500000e+03|0.5|  -2.500");
}

}  // namespace
}  // namespace utils
