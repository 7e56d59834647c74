#include "utils/encoding.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "utils/cp437.h"
#include "utils/exception.h"
#include "utils/utf8.h"

#ifndef _WIN32
#include <iconv.h>
#endif

namespace utils {
namespace {

using namespace std::string_literals;
using testing::PrintToString;

// DetectByteOrderMark is reached only through binary_to_text, so the marks are tested here.
TEST(BinaryToText, MarksAreRemovedAndUnitsAssembled) {
  struct Case {
    std::string bytes;
    std::u16string text;
    std::string bytesAfter;
  } cases[] = {
      {"\xEF\xBB\xBFxyz", u"xyz", "xyz"},
      {"\xFF\xFE\x61\x00"s, u"a", "\x61\x00"s},
      {"\xFE\xFF\x00\x61"s, u"a", "\x61\x00"s},
      {"\xFF\xFE\x00"s, u"", "\x00"s},  // too short for the UTF-32 mark
      // Odd little-endian: the last byte is dropped from the text only.
      {"\xFF\xFE\x61\x00\x62"s, u"a", "\x61\x00\x62"s},
      // Odd big-endian: a zero byte completes the pair; the last byte is a high byte.
      {"\xFE\xFF\x00\x61\x62"s, u"a\x6200", "\x61\x00\x00\x62"s},
  };
  for (const Case& c : cases) {
    std::string bytes = c.bytes;
    std::u16string text = u"stale";
    binary_to_text(bytes, text);
    EXPECT_EQ(text, c.text) << PrintToString(c.bytes);
    EXPECT_EQ(bytes, c.bytesAfter) << PrintToString(c.bytes);
  }
  for (std::string input :
       {"\xFF\xFE\x00\x00xy"s, "\x00\x00\xFE\xFF"s, "\x0E\xFE\xFFq"s, "\xDD\x73\x66\x73"s}) {
    std::string bytes = input;
    std::u16string text;
    EXPECT_THROW(binary_to_text(bytes, text), Exception) << PrintToString(input);
    EXPECT_EQ(bytes, input) << "bytes changed by a refusal";
  }
}

TEST(Base64, RfcVectorsAndLineBreaks) {
  const char* vectors[][2] = {
      {"", ""}, {"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"}, {"\xFB\xFF", "+/8="}};
  for (auto& v : vectors) {
    std::string out = "junk";
    Base64Encode(v[0], out, -1);
    EXPECT_EQ(out, v[1]);
  }
  std::string wrapped;
  Base64Encode(std::string(57, 'x'), wrapped, 76);  // exactly one full line: no break
  EXPECT_EQ(wrapped.find('\n'), std::string::npos);
  Base64Encode("foobar", wrapped, 4);
  EXPECT_EQ(wrapped, "Zm9v\nYmFy");
  Base64Encode("foobar", wrapped, 0);
  EXPECT_EQ(wrapped, "Zm9vYmFy");
}

TEST(Utf8, ReplacesEachMaximalIllFormedSequence) {
  struct Case {
    std::string bytes;
    std::u16string text;
  } cases[] = {
      {"a\x80z", u"a\xFFFDz"},
      {"\xC0\x80", u"\xFFFD\xFFFD"},                      // overlong NUL
      {"\xE2\x82", u"\xFFFD"},                            // truncated at the end
      {"\xE2\x82x", u"\xFFFDx"},                          // truncated in the middle
      {"\xED\xA0\x80", u"\xFFFD\xFFFD\xFFFD"},            // encoded surrogate
      {"\xF4\x90\x80\x80", u"\xFFFD\xFFFD\xFFFD\xFFFD"},  // above U+10FFFF
      {"\xF0\x9F\x98\x80", u"\xD83D\xDE00"},              // U+1F600
      {"\xE0\x9F\x80", u"\xFFFD\xFFFD\xFFFD"},            // overlong three-byte form
      {"\xEF\xBF\xBD", u"\xFFFD"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DecodeUtf8(c.bytes.data(), c.bytes.size()), c.text) << PrintToString(c.bytes);
    bool replaced = c.bytes != "\xEF\xBF\xBD" && c.text.find(u'\xFFFD') != std::u16string::npos;
    EXPECT_EQ(IsValidUtf8(c.bytes), !replaced) << PrintToString(c.bytes);
  }
  for (std::string bad : {"\xC1\xBF", "\xED\xBF\xBF", "\xF5\x80\x80\x80", "a\xFE"})
    EXPECT_FALSE(IsValidUtf8(bad)) << PrintToString(bad);
}

TEST(Utf8, PlatformConversionRoundTripsEveryScalarValue) {
  std::u16string all;
  for (uint32_t v = 1; v < 0x10000; ++v)
    if (v < 0xD800 || v > 0xDFFF) all.push_back(static_cast<char16_t>(v));
  for (uint32_t v = 0x10000; v <= 0x10FFFF; v += 0x777) {
    all.push_back(static_cast<char16_t>(0xD800 + ((v - 0x10000) >> 10)));
    all.push_back(static_cast<char16_t>(0xDC00 + ((v - 0x10000) & 0x3FF)));
  }
  std::string bytes = WideToUtf8(all);
  EXPECT_TRUE(IsValidUtf8(bytes));
  EXPECT_EQ(bytes, EncodeUtf8(all.data(), all.size()));
  EXPECT_EQ(Utf8ToWide(bytes), all);
  // Unpaired surrogates are written as U+FFFD by both our encoder and Windows.
  EXPECT_EQ(WideToUtf8(u"x\xD800y\xDC00"), "x\xEF\xBF\xBDy\xEF\xBF\xBD");
}

TEST(CodePages, Cp437RoundTripsAllBytesAndMatchesThePlatform) {
  std::string all(256, '\0');
  for (int i = 0; i < 256; ++i) all[i] = static_cast<char>(i);
  std::u16string wide = Cp437ToWide(all);
  EXPECT_EQ(WideToCp437(wide), all);
  // On Windows this is MultiByteToWideChar(437): the table must agree with the system's.
  EXPECT_EQ(BytesToWide(all, 437), wide);
  EXPECT_EQ(BytesToWide(all.substr(1), kCodePageOem).size(), 255u);
  EXPECT_EQ(WideToBytes(wide, 437), all);
  EXPECT_EQ(WideToCp437(u"x\x20ACz"), "x?z");
#ifndef _WIN32
  // glibc's IBM437 converter as an independent source.
  iconv_t cv = iconv_open("UTF-8", "IBM437");
  ASSERT_NE(cv, reinterpret_cast<iconv_t>(-1));
  std::string in = all.substr(1), out(4 * 255, '\0');
  char* src = in.data();
  char* dst = out.data();
  size_t inLeft = in.size(), outLeft = out.size();
  ASSERT_NE(iconv(cv, &src, &inLeft, &dst, &outLeft), static_cast<size_t>(-1));
  iconv_close(cv);
  out.resize(out.size() - outLeft);
  EXPECT_EQ(WideToUtf8(wide.substr(1)), out);
#endif
}

TEST(CodePages, OtherCodePagesGoThroughThePlatform) {
  EXPECT_EQ(BytesToWide("caf\xE9 \x80", 1252), u"caf\x00E9 \x20AC");
  EXPECT_EQ(WideToBytes(u"caf\x00E9 \x20AC", 1252), "caf\xE9 \x80");
  EXPECT_EQ(BytesToWide("abc", 12345), u"");
  // A lone lead byte at the end of a double-byte text is replaced, not a crash.
  std::u16string cut = BytesToWide("\x82\xA0\x82", 932);
  ASSERT_FALSE(cut.empty());
  EXPECT_EQ(cut[0], u'\x3042');
}

TEST(DecimalAndLowerCase, SignsLimitsAndOnlyAsciiLetters) {
  EXPECT_EQ(DecimalA(INT32_MIN) + DecimalA(UINT32_MAX), "-21474836484294967295");
  EXPECT_EQ(DecimalW(int32_t{0}), u"0");
  EXPECT_EQ(ToLowerCopy(u"@AZ[`az{\x00C4\x0410"), u"@az[`az{\x00C4\x0410");
  EXPECT_TRUE(EqualsNoCase(u"ABC", u"abc"));
  EXPECT_FALSE(EqualsNoCase(u"abc", u"abcd"));
  EXPECT_FALSE(EqualsNoCase(u"[", u"{"));  // '[' + 32 is '{': not a letter
}

}  // namespace
}  // namespace utils
