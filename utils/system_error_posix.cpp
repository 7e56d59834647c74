// The C library's text for an error number, in the layout of the Windows messages.
#include <string.h>

#include "utils/encoding.h"
#include "utils/exception.h"

namespace {

// The text for code, or empty when the C library knows none (glibc answers unknown
// numbers with a made-up "Unknown error N", which is no message at all).
std::string ErrorText(uint32_t code) {
  if (code > 0x7FFFFFFF) return {};
#if defined(__GLIBC__) && (__GLIBC__ > 2 || __GLIBC_MINOR__ >= 32)
  const char* text = strerrordesc_np(static_cast<int>(code));
  return text ? text : "";
#else
  std::string text = strerror(static_cast<int>(code));
  if (text.rfind("Unknown error", 0) == 0) return {};
  return text;
#endif
}

}  // namespace

// The language is not used: the C library's texts come in its default locale.
std::u16string FormatSystemError(const std::u16string& prefix, uint32_t code, uint16_t language) {
  std::u16string result =
      prefix + utils::FormatString(u" [0x%08X] ", code) + utils::Utf8ToWide(ErrorText(code));
  while (!result.empty() && result.back() < 0x20) result.pop_back();
  return result;
}
