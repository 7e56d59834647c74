// The printf-style formatter behind FormatString: one implementation for every platform
// (the C libraries disagree on what "%s" means in a wide format, and glibc's wide printf
// works on 32-bit wchar_t), so Windows and POSIX produce the same text.
//
// Conversions: d i u o x X c C s S p % and the floating-point ones (e E f F g G a A,
// rendered by the C library's snprintf), with the flags - + blank # 0, width and
// precision (numbers or '*'), and the length prefixes hh h l ll L j z t I I32 I64.
// In this wide format "%s", "%ls" and "%ws" take a char16_t string, "%hs" and "%S" an
// 8-bit one (each byte one unit, as the C library's default locale does); "%c" takes a
// UTF-16 unit, "%hc" and "%C" a byte. A null string prints "(null)". "%p" prints the
// pointer in upper-case hexadecimal, zero-padded to the pointer's width, without "0x".
// "%n" and unknown conversions are copied to the output as written and consume nothing.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <string>

namespace utils {

// Writes at most size-1 units and a terminating zero into buffer. Returns the number of
// units written, or -1 when the text did not fit (buffer then holds the first size-1
// units). size 0 gives -1.
int FormatInto(char16_t* buffer, size_t size, const char16_t* format, va_list args);

// FormatString's growth loop: a 256-unit buffer, doubled while the formatter fails or
// fills exactly size-1 units, at most 12 times; text that does not fit the last buffer
// (256 x 4096 units) is formatted without a limit. attempts (if given) receives the
// number of bounded attempts made (1 to 13, or 14 for the unbounded one).
std::u16string FormatStringV(const char16_t* format, va_list args, int* attempts = nullptr);

}  // namespace utils
