// Code page conversions through the Windows API, flags 0 and no default character, as
// the rest of the system expects: invalid input is replaced, never reported.
#include <windows.h>

#include <climits>
#include <string>

#include "utils/encoding.h"

namespace utils {

std::u16string BytesToWide(const std::string& bytes, unsigned codePage) {
  if (bytes.empty() || bytes.size() > INT_MAX) return {};
  int length = static_cast<int>(bytes.size());
  int needed = MultiByteToWideChar(codePage, 0, bytes.data(), length, nullptr, 0);
  if (needed <= 0) return {};
  std::u16string out(static_cast<size_t>(needed), u'\0');
  int written = MultiByteToWideChar(codePage, 0, bytes.data(), length,
                                    reinterpret_cast<wchar_t*>(out.data()), needed);
  out.resize(written > 0 ? static_cast<size_t>(written) : 0);
  return out;
}

std::string WideToBytes(const std::u16string& text, unsigned codePage) {
  if (text.empty() || text.size() > INT_MAX) return {};
  int length = static_cast<int>(text.size());
  const auto* wide = reinterpret_cast<const wchar_t*>(text.data());
  int needed = WideCharToMultiByte(codePage, 0, wide, length, nullptr, 0, nullptr, nullptr);
  if (needed <= 0) return {};
  std::string out(static_cast<size_t>(needed), '\0');
  int written =
      WideCharToMultiByte(codePage, 0, wide, length, out.data(), needed, nullptr, nullptr);
  out.resize(written > 0 ? static_cast<size_t>(written) : 0);
  return out;
}

}  // namespace utils
