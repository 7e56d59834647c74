// Text encodings: code-page conversions between byte strings and wide (UTF-16) text,
// byte-order marks, Base64, printf-style formatting into wide text, decimal text and
// lower-casing.
//
// Code pages: Windows converts with MultiByteToWideChar/WideCharToMultiByte. On POSIX
// code page 0 (the ANSI code page) is UTF-8, CP_OEMCP (1) and 437 are CP437, 65001 is
// UTF-8, and other code page numbers go through iconv ("CP<n>", or the ISO name for
// 28591..28606).
//
// Invalid input is replaced, not reported, as MultiByteToWideChar/WideCharToMultiByte
// with flags 0 do: in UTF-8 every maximal ill-formed byte sequence becomes U+FFFD, an
// unpaired surrogate is written as U+FFFD; a unit without a byte in the target code page
// becomes '?' on POSIX (Windows may pick a best-fit byte instead). An unknown code page
// gives an empty result.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

namespace utils {

inline constexpr unsigned kCodePageAnsi = 0;
inline constexpr unsigned kCodePageOem = 1;
inline constexpr unsigned kCodePageUtf8 = 65001;

std::u16string BytesToWide(const std::string& bytes, unsigned codePage);
std::string WideToBytes(const std::u16string& text, unsigned codePage);
std::u16string AnsiToWide(const std::string& bytes);
std::string WideToAnsi(const std::u16string& text);
std::u16string Utf8ToWide(const std::string& bytes);
std::string WideToUtf8(const std::u16string& text);
// Well-formed UTF-8: shortest forms only, no encoded surrogates, nothing above U+10FFFF.
bool IsValidUtf8(const std::string& bytes);

enum class TextEncoding { Utf8, Utf16LE, Utf16BE, Unsupported };

struct ByteOrderMark {
  TextEncoding encoding;
  size_t length;  // bytes of the mark, 0 when there is none
};

ByteOrderMark DetectByteOrderMark(const std::string& bytes);
inline ByteOrderMark DetectByteOrderMark(const char* data, size_t size) {
  return DetectByteOrderMark(std::string(data, size));
}

// Bytes whose encoding is told by their byte-order mark, to wide text. Removes the mark
// from bytes (and, for odd big-endian input, appends a zero byte and swaps pairs in
// place). Throws utils::Exception("Character encoding scheme not supported.",
// "binary_to_text") for unsupported encodings, leaving bytes unchanged.
void binary_to_text(std::string& bytes, std::u16string& text);

// RFC 4648 Base64 of bytes into out (replaced). lineLength 0 or below (the usual -1):
// no line breaks; otherwise lines of exactly lineLength characters separated by a single
// line feed, the last line possibly shorter and not followed by a line feed (76 gives
// the MIME layout without carriage returns).
void Base64Encode(const std::string& bytes, std::string& out, int lineLength = -1);

// printf-style formatting into wide text. The format is wide; "%s" takes a wide
// (char16_t) string, "%hs" an 8-bit one; %d %i %u %x %X %c %ld %lu %lld %llu %I64d
// %p %% with flags, width and precision (the full list is in format_string.h). The same
// formatter runs on every platform. A null format gives an empty string; a result with
// no characters gives "(null)".
std::u16string FormatString(const char16_t* format, ...);

std::string DecimalA(int32_t value);
std::string DecimalA(uint32_t value);
std::string DecimalA(uint16_t value);
std::u16string DecimalW(int32_t value);
std::u16string DecimalW(uint32_t value);

// 'A'..'Z' to 'a'..'z'; every other unit unchanged.
std::u16string ToLowerCopy(const std::u16string& text);
char16_t ToLowerChar(char16_t unit);
bool EqualsNoCase(const std::u16string& a, const std::u16string& b);

}  // namespace utils
