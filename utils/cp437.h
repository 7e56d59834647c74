// Code page 437 (the IBM PC / DOS "OEM" set), the default encoding of ZIP entry names
// without the UTF-8 flag. Bytes 0x00-0x7F are ASCII (control codes stay control codes,
// as in Windows' table); 0x80-0xFF are the accented letters, box drawing and Greek
// symbols of the original PC.
#pragma once

#include <cstdint>
#include <string>

namespace utils {

char16_t Cp437ToUnit(uint8_t byte);
// False when the unit has no CP437 byte.
bool UnitToCp437(char16_t unit, uint8_t& byte);

std::u16string Cp437ToWide(const std::string& bytes);
// Units without a CP437 byte become '?'.
std::string WideToCp437(const std::u16string& text);

}  // namespace utils
