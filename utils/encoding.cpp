// The platform-independent half of the text tools: byte-order marks, Base64, decimal
// text and ASCII lower-casing. Code page conversions are in encoding_win/_posix.cpp.
#include "utils/encoding.h"

#include <array>
#include <cstring>

#include "utils/exception.h"
#include "utils/utf8.h"

namespace utils {

std::u16string AnsiToWide(const std::string& bytes) { return BytesToWide(bytes, kCodePageAnsi); }
std::string WideToAnsi(const std::u16string& text) { return WideToBytes(text, kCodePageAnsi); }
std::u16string Utf8ToWide(const std::string& bytes) { return BytesToWide(bytes, kCodePageUtf8); }
std::string WideToUtf8(const std::u16string& text) { return WideToBytes(text, kCodePageUtf8); }

bool IsValidUtf8(const std::string& bytes) { return IsWellFormedUtf8(bytes.data(), bytes.size()); }

ByteOrderMark DetectByteOrderMark(const std::string& bytes) {
  auto starts = [&](const char* mark, size_t n) {
    return bytes.size() >= n && std::memcmp(bytes.data(), mark, n) == 0;
  };
  if (bytes.size() < 2) return {TextEncoding::Utf8, 0};
  if (starts("\x00\x00\xFE\xFF", 4)) return {TextEncoding::Unsupported, 4};  // UTF-32 BE
  if (starts("\x0E\xFE\xFF", 3)) return {TextEncoding::Unsupported, 3};      // SCSU
  if (starts("\xDD\x73\x66\x73", 4)) return {TextEncoding::Unsupported, 4};  // UTF-EBCDIC
  if (starts("\xEF\xBB\xBF", 3)) return {TextEncoding::Utf8, 3};
  if (starts("\xFE\xFF", 2)) return {TextEncoding::Utf16BE, 2};
  if (starts("\xFF\xFE\x00\x00", 4)) return {TextEncoding::Unsupported, 4};  // UTF-32 LE
  if (starts("\xFF\xFE", 2)) return {TextEncoding::Utf16LE, 2};
  return {TextEncoding::Utf8, 0};
}

void binary_to_text(std::string& bytes, std::u16string& text) {
  text.clear();
  ByteOrderMark mark = DetectByteOrderMark(bytes);
  if (mark.encoding == TextEncoding::Unsupported) {
    throw Exception(u"Character encoding scheme not supported.", u"binary_to_text");
  }
  bytes.erase(0, mark.length);
  if (bytes.empty()) return;
  switch (mark.encoding) {
    case TextEncoding::Utf16BE:
      if (bytes.size() % 2) bytes.push_back('\0');
      for (size_t i = 0; i + 1 < bytes.size(); i += 2) std::swap(bytes[i], bytes[i + 1]);
      [[fallthrough]];
    case TextEncoding::Utf16LE:
      text.resize(bytes.size() / 2);
      for (size_t i = 0; i < text.size(); ++i) {
        text[i] = static_cast<char16_t>(static_cast<uint8_t>(bytes[2 * i]) |
                                        (static_cast<uint8_t>(bytes[2 * i + 1]) << 8));
      }
      break;
    default:
      text = Utf8ToWide(bytes);
      break;
  }
}

void Base64Encode(const std::string& bytes, std::string& out, int lineLength) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  out.clear();
  out.reserve((bytes.size() + 2) / 3 * 4);
  size_t onLine = 0;
  auto put = [&](char c) {
    if (lineLength > 0 && onLine == static_cast<size_t>(lineLength)) {
      out.push_back('\n');
      onLine = 0;
    }
    out.push_back(c);
    ++onLine;
  };
  const auto* p = reinterpret_cast<const uint8_t*>(bytes.data());
  size_t n = bytes.size();
  for (size_t i = 0; i < n; i += 3) {
    size_t left = n - i;
    uint32_t group = uint32_t{p[i]} << 16;
    if (left > 1) group |= uint32_t{p[i + 1]} << 8;
    if (left > 2) group |= p[i + 2];
    put(kAlphabet[(group >> 18) & 63]);
    put(kAlphabet[(group >> 12) & 63]);
    put(left > 1 ? kAlphabet[(group >> 6) & 63] : '=');
    put(left > 2 ? kAlphabet[group & 63] : '=');
  }
}

namespace {

template <class Char, class Unsigned>
std::basic_string<Char> Digits(Unsigned value, bool negative) {
  Char buffer[24];
  Char* end = buffer + 24;
  Char* p = end;
  do {
    *--p = static_cast<Char>('0' + value % 10);
    value /= 10;
  } while (value);
  if (negative) *--p = '-';
  return std::basic_string<Char>(p, end);
}

// The magnitude of a signed value without overflow for INT32_MIN.
uint32_t Magnitude(int32_t value) {
  return value < 0 ? 0u - static_cast<uint32_t>(value) : static_cast<uint32_t>(value);
}

}  // namespace

std::string DecimalA(int32_t value) { return Digits<char>(Magnitude(value), value < 0); }
std::string DecimalA(uint32_t value) { return Digits<char>(value, false); }
std::string DecimalA(uint16_t value) { return Digits<char>(uint32_t{value}, false); }
std::u16string DecimalW(int32_t value) { return Digits<char16_t>(Magnitude(value), value < 0); }
std::u16string DecimalW(uint32_t value) { return Digits<char16_t>(value, false); }

namespace {

// The C library's lower-casing in its default ("C") locale: 'A'..'Z' only.
constexpr char16_t AsciiLower(char16_t unit) {
  return unit >= u'A' && unit <= u'Z' ? static_cast<char16_t>(unit + (u'a' - u'A')) : unit;
}

}  // namespace

std::u16string ToLowerCopy(const std::u16string& text) {
  std::u16string out(text);
  for (char16_t& c : out) c = AsciiLower(c);
  return out;
}

char16_t ToLowerChar(char16_t unit) {
  static const auto* table = [] {
    auto* t = new std::array<char16_t, 65536>;
    for (size_t i = 0; i < t->size(); ++i) (*t)[i] = AsciiLower(static_cast<char16_t>(i));
    return t;
  }();
  return (*table)[unit];
}

bool EqualsNoCase(const std::u16string& a, const std::u16string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}

}  // namespace utils
