// The system's own text for a Windows error code.
#include <windows.h>

#include "utils/encoding.h"
#include "utils/exception.h"

namespace {

// FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM
constexpr DWORD kFlags = 0x1300;

// The message in one language, or empty when the system has none.
std::u16string SystemMessage(uint32_t code, uint16_t language) {
  wchar_t* buffer = nullptr;
  DWORD n = FormatMessageW(kFlags, nullptr, code, language, reinterpret_cast<wchar_t*>(&buffer), 0,
                           nullptr);
  std::u16string text;
  if (n && buffer) text.assign(reinterpret_cast<const char16_t*>(buffer), n);
  if (buffer) LocalFree(buffer);
  return text;
}

}  // namespace

std::u16string FormatSystemError(const std::u16string& prefix, uint32_t code, uint16_t language) {
  if (language == 0xFFFF) {
    utils::ExceptionTextsI* texts = utils::GetExceptionTexts();
    language = texts ? texts->Language() : 0;
  }
  std::u16string text = SystemMessage(code, language);
  if (text.empty()) text = SystemMessage(code, 0);  // neutral: the system's own choice
  std::u16string result = prefix + utils::FormatString(u" [0x%08X] ", code) + text;
  while (!result.empty() && result.back() < 0x20) result.pop_back();
  return result;
}
