// Entry names and index keys.
#pragma once

#include <cstdint>
#include <string>

namespace amzip {

// The index key of an entry name: one prefix ("file://", "\\?\" or ".\") stripped,
// separators folded to single "\" (a leading "\\" kept), trailing separators dropped,
// letters lower-cased with the C runtime's towlower in the default locale.
// Examples: "Book/Index.HTML" and "book//index.html/" give "book\index.html".
std::u16string NormalizeEntryKey(const std::u16string& text);

// Decodes a raw entry name (up to its first zero byte): UTF-8 when the flag bit 11 is
// set, else the Info-ZIP Unicode Path extra field (0x7075) when its CRC-32 matches the
// raw name, else the OEM code page (CP437 on POSIX). Undecodable names give "".
std::u16string DecodeEntryName(const std::string& rawName, uint16_t flags, const uint8_t* extra,
                               uint16_t extraLength);

}  // namespace amzip
