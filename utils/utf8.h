// A UTF-8 codec of our own, used where the platform has none we can rely on (POSIX code
// page conversions) and for validation of HTTP text.
//
// Decoding follows what MultiByteToWideChar(CP_UTF8, 0, ...) does on current Windows:
// every maximal ill-formed subsequence (a lead byte with too few continuation bytes, a
// stray continuation byte, an overlong form, an encoded surrogate, anything above
// U+10FFFF) becomes one U+FFFD. Encoding turns an unpaired surrogate into U+FFFD too.
#pragma once

#include <cstddef>
#include <string>

namespace utils {

std::u16string DecodeUtf8(const char* data, size_t size);
std::string EncodeUtf8(const char16_t* data, size_t size);
// Well-formed UTF-8: shortest forms only, no surrogates, nothing above U+10FFFF.
bool IsWellFormedUtf8(const char* data, size_t size);

}  // namespace utils
