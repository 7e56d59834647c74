#include "utils/exception.h"

#include <cxxabi.h>

#include <atomic>
#include <cstdlib>
#include <typeinfo>
#include <utility>

namespace utils {

Exception::Exception(std::u16string message, std::u16string location)
    : message_(std::move(message)), location_(std::move(location)) {}

Exception::~Exception() = default;

const char16_t* Exception::GetTypeName() const { return nullptr; }
const std::u16string& Exception::GetMessage() const { return message_; }
const std::u16string& Exception::GetLocation() const { return location_; }
Exception* Exception::Clone() const { return new Exception(*this); }

namespace {

std::atomic<ExceptionTextsI*> installedTexts{nullptr};

// The run-time class name without its namespace ("Exception" for the base class).
std::u16string RuntimeClassName(const Exception& e) {
  int status = 0;
  char* demangled = abi::__cxa_demangle(typeid(e).name(), nullptr, nullptr, &status);
  std::string name = demangled ? demangled : typeid(e).name();
  std::free(demangled);
  size_t cut = name.find_last_of(':');
  if (cut != std::string::npos) name = name.substr(cut + 1);
  if (name.empty()) return u"Exception";
  return std::u16string(name.begin(), name.end());
}

}  // namespace

void SetExceptionTexts(ExceptionTextsI* texts) { installedTexts.store(texts); }
ExceptionTextsI* GetExceptionTexts() { return installedTexts.load(); }

std::u16string Exception::GetText() const {
  std::u16string text;
  if (const char16_t* type = GetTypeName()) {
    text = type;
    if (text.empty() && !location_.empty()) {
      if (ExceptionTextsI* texts = GetExceptionTexts()) text = texts->Caption(u"IDS_ERROR");
      if (text.empty()) text = u"Exception";
    }
  } else {
    text = RuntimeClassName(*this);
  }
  if (!location_.empty()) {
    text += u" in '";
    text += location_;
    text += u"'";
  }
  if (!message_.empty()) {
    if (!text.empty()) text += u'\n';
    text += message_;
  }
  return text;
}

NotInitializedException::~NotInitializedException() = default;
ResourceException::~ResourceException() = default;
ExhaustedException::~ExhaustedException() = default;
IoException::~IoException() = default;
CantReadException::~CantReadException() = default;
CantWriteException::~CantWriteException() = default;
NotImplementedException::~NotImplementedException() = default;
ParameterException::~ParameterException() = default;

}  // namespace utils

std::u16string FormatSourceLocation(const char16_t* sourcePath, unsigned line) {
  std::u16string file;
  if (sourcePath) {
    file = sourcePath;
    size_t cut = file.find_last_of(u"\\/");
    if (cut != std::u16string::npos) file = file.substr(cut + 1);
  }
  std::string number = std::to_string(line);
  return file + u", line " + std::u16string(number.begin(), number.end());
}
