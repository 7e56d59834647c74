#include "utils/encoding.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "utils/cp437.h"
#include "utils/exception.h"
#include "utils/utf8.h"

#ifndef _WIN32
#include <iconv.h>
#endif

namespace utils {
namespace {

using namespace std::string_literals;

TEST(ByteOrderMark, TableOfMarks) {
  struct Case {
    std::string bytes;
    TextEncoding encoding;
    size_t length;
  } cases[] = {
      {"", TextEncoding::Utf8, 0},
      {"\xFF", TextEncoding::Utf8, 0},
      {"\x00\x00\xFE\xFF"s, TextEncoding::Unsupported, 4},
      {"\x00\x00\xFE"s, TextEncoding::Utf8, 0},
      {"\x0E\xFE\xFF", TextEncoding::Unsupported, 3},
      {"\xDD\x73\x66\x73", TextEncoding::Unsupported, 4},
      {"\xEF\xBB\xBF", TextEncoding::Utf8, 3},
      {"\xEF\xBB", TextEncoding::Utf8, 0},
      {"\xFE\xFF", TextEncoding::Utf16BE, 2},
      {"\xFF\xFE\x00\x00"s, TextEncoding::Unsupported, 4},
      {"\xFF\xFE\x00\x01"s, TextEncoding::Utf16LE, 2},
      {"\xFF\xFE\x00"s, TextEncoding::Utf16LE, 2},
      {"\xFF\xFE", TextEncoding::Utf16LE, 2},
      {"ab", TextEncoding::Utf8, 0},
  };
  for (const Case& c : cases) {
    ByteOrderMark m = DetectByteOrderMark(c.bytes);
    EXPECT_EQ(m.encoding, c.encoding) << testing::PrintToString(c.bytes);
    EXPECT_EQ(m.length, c.length) << testing::PrintToString(c.bytes);
  }
}

TEST(BinaryToText, MarksAreRemovedAndUnitsAssembled) {
  struct Case {
    std::string bytes;
    std::u16string text;
    std::string bytesAfter;
  } cases[] = {
      {"\xEF\xBB\xBF"
       "abc",
       u"abc", "abc"},
      {"\xFF\xFE\x61\x00"s, u"a", "\x61\x00"s},
      {"\xFE\xFF\x00\x61"s, u"a", "\x61\x00"s},
      {"A", u"A", "A"},
      {"\xEF\xBB\xBF", u"", ""},
      {"\xFF\xFE", u"", ""},
      // Odd little-endian: the last byte is dropped from the text only.
      {"\xFF\xFE\x61\x00\x62"s, u"a", "\x61\x00\x62"s},
      // Odd big-endian: a zero byte completes the pair; the last byte is a high byte.
      {"\xFE\xFF\x00\x61\x62"s, u"a\x6200", "\x61\x00\x00\x62"s},
      {"\xFE\xFF\x30\x42"s, u"\x3042", "\x42\x30"s},
      {"\xEF\xBB\xBF\xC3\xA9t\xC3\xA9", u"\x00E9t\x00E9", "\xC3\xA9t\xC3\xA9"},
  };
  for (const Case& c : cases) {
    std::string bytes = c.bytes;
    std::u16string text = u"stale";
    binary_to_text(bytes, text);
    EXPECT_EQ(text, c.text) << testing::PrintToString(c.bytes);
    EXPECT_EQ(bytes, c.bytesAfter) << testing::PrintToString(c.bytes);
  }
}

TEST(BinaryToText, UnsupportedSchemesThrowAndLeaveBytesAlone) {
  for (std::string input :
       {"\xFF\xFE\x00\x00xy"s, "\x00\x00\xFE\xFF"s, "\x0E\xFE\xFFq"s, "\xDD\x73\x66\x73"s}) {
    std::string bytes = input;
    std::u16string text;
    try {
      binary_to_text(bytes, text);
      ADD_FAILURE() << "no exception for " << testing::PrintToString(input);
    } catch (const Exception& e) {
      EXPECT_EQ(e.GetText(),
                u"Exception in 'binary_to_text'\nCharacter encoding scheme not supported.");
    }
    EXPECT_EQ(bytes, input);
  }
}

// An independent decoder to check the encoder against, with RFC 4648's own vectors.
std::string Base64Decode(const std::string& text) {
  std::string out;
  uint32_t acc = 0;
  int bits = 0;
  for (char c : text) {
    int v;
    if (c >= 'A' && c <= 'Z')
      v = c - 'A';
    else if (c >= 'a' && c <= 'z')
      v = c - 'a' + 26;
    else if (c >= '0' && c <= '9')
      v = c - '0' + 52;
    else if (c == '+')
      v = 62;
    else if (c == '/')
      v = 63;
    else
      continue;
    acc = (acc << 6) | static_cast<uint32_t>(v);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out.push_back(static_cast<char>((acc >> bits) & 0xFF));
    }
  }
  return out;
}

TEST(Base64, RfcVectorsAtEveryLengthModThree) {
  const char* vectors[][2] = {{"", ""},
                              {"f", "Zg=="},
                              {"fo", "Zm8="},
                              {"foo", "Zm9v"},
                              {"foob", "Zm9vYg=="},
                              {"fooba", "Zm9vYmE="},
                              {"foobar", "Zm9vYmFy"}};
  for (auto& v : vectors) {
    std::string out = "junk";
    Base64Encode(v[0], out);
    EXPECT_EQ(out, v[1]);
  }
  std::mt19937 rng(3);
  for (size_t n = 0; n < 64; ++n) {
    std::string bytes(n, '\0');
    for (char& c : bytes) c = static_cast<char>(rng());
    std::string out;
    Base64Encode(bytes, out, -1);
    ASSERT_EQ(out.size(), (n + 2) / 3 * 4);
    size_t fill = out.size() - out.find_last_not_of('=') - 1;
    EXPECT_EQ(fill, (3 - n % 3) % 3) << n;
    EXPECT_EQ(Base64Decode(out), bytes) << n;
  }
}

TEST(Base64, LineBreaksEveryLineLengthCharacters) {
  std::string bytes(100, '\xA7');
  std::string flat, wrapped;
  Base64Encode(bytes, flat, -1);
  Base64Encode(bytes, wrapped, 76);
  ASSERT_EQ(flat.size(), 136u);
  EXPECT_EQ(wrapped, flat.substr(0, 76) + "\n" + flat.substr(76));
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
      {"a\x80"
       "b",
       u"a\xFFFD"
       u"b"},
      {"\xC0\x80", u"\xFFFD\xFFFD"},                      // overlong NUL
      {"\xE2\x82", u"\xFFFD"},                            // truncated at the end
      {"\xE2\x82x", u"\xFFFDx"},                          // truncated in the middle
      {"\xED\xA0\x80", u"\xFFFD\xFFFD\xFFFD"},            // encoded surrogate
      {"\xF4\x90\x80\x80", u"\xFFFD\xFFFD\xFFFD\xFFFD"},  // above U+10FFFF
      {"\xF0\x9F\x98\x80", u"\xD83D\xDE00"},              // U+1F600
      {"\xF0\x9F\x98", u"\xFFFD"},
      {"\xFF\xFE", u"\xFFFD\xFFFD"},
      {"\xE0\x9F\x80", u"\xFFFD\xFFFD\xFFFD"},  // overlong three-byte form
      {"\xEF\xBF\xBD", u"\xFFFD"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DecodeUtf8(c.bytes.data(), c.bytes.size()), c.text)
        << testing::PrintToString(c.bytes);
    bool replaced = c.bytes != "\xEF\xBF\xBD" && c.text.find(u'\xFFFD') != std::u16string::npos;
    EXPECT_EQ(IsValidUtf8(c.bytes), !replaced) << testing::PrintToString(c.bytes);
  }
}

TEST(Utf8, PlatformConversionRoundTripsEveryScalarValue) {
  std::u16string all;
  for (uint32_t v = 1; v < 0x10000; ++v) {
    if (v < 0xD800 || v > 0xDFFF) all.push_back(static_cast<char16_t>(v));
  }
  for (uint32_t v = 0x10000; v <= 0x10FFFF; v += 0x777) {
    all.push_back(static_cast<char16_t>(0xD800 + ((v - 0x10000) >> 10)));
    all.push_back(static_cast<char16_t>(0xDC00 + ((v - 0x10000) & 0x3FF)));
  }
  std::string bytes = WideToUtf8(all);
  EXPECT_TRUE(IsValidUtf8(bytes));
  EXPECT_EQ(bytes, EncodeUtf8(all.data(), all.size()));
  EXPECT_EQ(Utf8ToWide(bytes), all);
  EXPECT_EQ(Utf8ToWide(""), u"");
  EXPECT_EQ(WideToUtf8(u""), "");
  // Unpaired surrogates are written as U+FFFD by both our encoder and Windows.
  EXPECT_EQ(WideToUtf8(u"a\xD800"
                       u"b"),
            "a\xEF\xBF\xBD"
            "b");
  EXPECT_EQ(WideToUtf8(u"\xDC00"), "\xEF\xBF\xBD");
}

TEST(Utf8, PlatformConversionReplacesInvalidBytes) {
  std::u16string text = Utf8ToWide(
      "ok\xC3(\xFF"
      "end");
  EXPECT_EQ(text.substr(0, 2), u"ok");
  EXPECT_EQ(text.substr(text.size() - 3), u"end");
  EXPECT_NE(text.find(u'\xFFFD'), std::u16string::npos);
  EXPECT_NE(text.find(u'('), std::u16string::npos);
}

TEST(Utf8, Validation) {
  EXPECT_TRUE(IsValidUtf8(""));
  EXPECT_TRUE(IsValidUtf8("/caf\xC3\xA9/\xE2\x82\xAC/\xF0\x90\x80\x80"));
  for (std::string bad : {"\x80", "\xC3", "\xC1\xBF", "\xE0\x80\xAF", "\xED\xBF\xBF",
                          "\xF4\x90\x80\x80", "\xF5\x80\x80\x80", "a\xFE"}) {
    EXPECT_FALSE(IsValidUtf8(bad)) << testing::PrintToString(bad);
  }
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
  EXPECT_EQ(wide[0x81], u'\x00FC');
  EXPECT_EQ(wide[0xE1], u'\x00DF');
  EXPECT_EQ(wide[0xFF], u'\x00A0');
  uint8_t b = 0;
  EXPECT_FALSE(UnitToCp437(u'\x20AC', b));
  EXPECT_EQ(WideToCp437(u"a\x20AC"
                        u"b"),
            "a?b");
#ifndef _WIN32
  // glibc's IBM437 converter as an independent source.
  iconv_t cv = iconv_open("UTF-16LE", "IBM437");
  ASSERT_NE(cv, reinterpret_cast<iconv_t>(-1));
  std::string in = all.substr(1), out(2 * 255, '\0');
  char* src = in.data();
  char* dst = out.data();
  size_t inLeft = in.size(), outLeft = out.size();
  ASSERT_NE(iconv(cv, &src, &inLeft, &dst, &outLeft), static_cast<size_t>(-1));
  iconv_close(cv);
  for (int i = 1; i < 256; ++i) {
    char16_t unit = static_cast<char16_t>(static_cast<uint8_t>(out[2 * (i - 1)]) |
                                          static_cast<uint8_t>(out[2 * (i - 1) + 1]) << 8);
    // glibc maps the C0 controls of IBM437 to the same code points as Windows does.
    EXPECT_EQ(wide[i], unit) << "byte " << i;
  }
#endif
}

TEST(CodePages, OtherCodePagesGoThroughThePlatform) {
  EXPECT_EQ(BytesToWide("caf\xE9 \x80", 1252), u"caf\x00E9 \x20AC");
  EXPECT_EQ(WideToBytes(u"caf\x00E9 \x20AC", 1252), "caf\xE9 \x80");
  EXPECT_EQ(BytesToWide("\xCF\xF0\xE8", 1251), u"\x041F\x0440\x0438");
  EXPECT_EQ(WideToBytes(u"\x041F\x0440\x0438", 1251), "\xCF\xF0\xE8");
  EXPECT_EQ(BytesToWide("\x82\xA0", 932), u"\x3042");
  EXPECT_EQ(BytesToWide("\xE9", 28591), u"\x00E9");
  EXPECT_EQ(BytesToWide("abc", 12345), u"");
  EXPECT_EQ(BytesToWide("", 1252), u"");
  EXPECT_EQ(AnsiToWide("plain ascii"), u"plain ascii");
  EXPECT_EQ(WideToAnsi(u"plain ascii"), "plain ascii");
  // A lone lead byte at the end of a double-byte text is replaced, not dropped silently
  // into a crash.
  std::u16string cut = BytesToWide("\x82\xA0\x82", 932);
  ASSERT_FALSE(cut.empty());
  EXPECT_EQ(cut[0], u'\x3042');
}

TEST(Decimal, SignsAndLimits) {
  EXPECT_EQ(DecimalA(int32_t{0}), "0");
  EXPECT_EQ(DecimalA(int32_t{-7}), "-7");
  EXPECT_EQ(DecimalA(INT32_MIN), "-2147483648");
  EXPECT_EQ(DecimalA(INT32_MAX), "2147483647");
  EXPECT_EQ(DecimalA(UINT32_MAX), "4294967295");
  EXPECT_EQ(DecimalA(uint16_t{65535}), "65535");
  EXPECT_EQ(DecimalA(uint16_t{0}), "0");
  EXPECT_EQ(DecimalW(INT32_MIN), u"-2147483648");
  EXPECT_EQ(DecimalW(uint32_t{1000000}), u"1000000");
  EXPECT_EQ(DecimalW(int32_t{42}), u"42");
}

TEST(LowerCase, OnlyAsciiLettersChange) {
  for (uint32_t u = 0; u < 0x10000; ++u) {
    char16_t c = static_cast<char16_t>(u);
    char16_t expected = (c >= u'A' && c <= u'Z') ? c + 32 : c;
    ASSERT_EQ(ToLowerChar(c), expected) << u;
    ASSERT_EQ(ToLowerCopy(std::u16string(1, c)), std::u16string(1, expected)) << u;
  }
  EXPECT_EQ(ToLowerCopy(u"Index.HTML \x00C4"), u"index.html \x00C4");
  EXPECT_TRUE(EqualsNoCase(u"ABC", u"abc"));
  EXPECT_FALSE(EqualsNoCase(u"abc", u"abcd"));
  EXPECT_TRUE(EqualsNoCase(u"", u""));
  EXPECT_FALSE(EqualsNoCase(u"\x00C4", u"\x00E4"));
  EXPECT_FALSE(EqualsNoCase(u"[", u"{"));  // '[' + 32 is '{': not a letter
}

}  // namespace
}  // namespace utils
