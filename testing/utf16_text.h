// Wide text as the UTF-16 little-endian bytes the control entries and the server records hold.
#pragma once

#include <string>

namespace app::test {

inline std::string Utf16Le(const std::u16string& text) {
  std::string bytes;
  for (char16_t u : text) bytes += {static_cast<char>(u & 0xFF), static_cast<char>(u >> 8)};
  return bytes;
}

}  // namespace app::test
