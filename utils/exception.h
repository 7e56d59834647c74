// The exception family of the support library.
//
// Every failure of the support library is thrown by value as a member of this family.
// An exception carries a message (what went wrong) and a location (a qualified operation
// name such as "File::Seek64", or a source location from FormatSourceLocation). Nothing
// catches these by type: catch-all handlers at the edges of an operation end them.
#pragma once

#include <cstdint>
#include <string>

namespace utils {

class Exception {
 public:
  Exception(std::u16string message, std::u16string location);
  Exception(const Exception&) = default;
  virtual ~Exception();

  // The class's own name ("IoException", ...); null for the base class.
  virtual const char16_t* GetTypeName() const;
  virtual const std::u16string& GetMessage() const;
  virtual const std::u16string& GetLocation() const;
  // A new heap copy of the same class; the caller owns it.
  virtual Exception* Clone() const;
  // The display text: type name, " in '<location>'", a line feed and the message.
  virtual std::u16string GetText() const;

 private:
  std::u16string message_;
  std::u16string location_;
};

#define CX_DECLARE_EXCEPTION(Name, Base)                               \
  class Name : public Base {                                           \
   public:                                                             \
    Name(std::u16string message, std::u16string location)              \
        : Base(std::move(message), std::move(location)) {}             \
    Name(const Name&) = default;                                       \
    ~Name() override;                                                  \
    const char16_t* GetTypeName() const override { return u"" #Name; } \
    Exception* Clone() const override { return new Name(*this); }      \
  }

CX_DECLARE_EXCEPTION(NotInitializedException, Exception);
CX_DECLARE_EXCEPTION(ResourceException, Exception);
CX_DECLARE_EXCEPTION(ExhaustedException, ResourceException);
CX_DECLARE_EXCEPTION(IoException, Exception);
CX_DECLARE_EXCEPTION(CantReadException, IoException);
CX_DECLARE_EXCEPTION(CantWriteException, IoException);
CX_DECLARE_EXCEPTION(NotImplementedException, Exception);
CX_DECLARE_EXCEPTION(ParameterException, Exception);

// The translated parts of exception and system-error texts. The support library knows
// no dictionary: the program installs one (t9n::InstallExceptionTexts) at start. Without
// one, captions are empty and the language is 0 (neutral), which is what an empty
// dictionary answers too.
class ExceptionTextsI {
 public:
  virtual ~ExceptionTextsI() = default;
  // The text for key (such as "IDS_ERROR"), empty when there is none. Must not throw.
  virtual std::u16string Caption(const std::u16string& key) = 0;
  // The language identifier the texts are in.
  virtual uint16_t Language() = 0;
};

// Installs texts (not owned; null removes them). They must stay alive while exception
// texts may be built, static destruction included. Any thread may install and read;
// the usual place is the start of the program, before other threads exist.
void SetExceptionTexts(ExceptionTextsI* texts);
ExceptionTextsI* GetExceptionTexts();

}  // namespace utils

// "file.cpp, line 12": the file part of the path (after the last '\' or '/') and the line.
// A null path gives ", line 12".
std::u16string FormatSourceLocation(const char16_t* sourcePath, unsigned line);

// prefix + " [0x%08X] " + the system's message text for code, trailing control
// characters removed. language 0xFFFF stands for the language of the installed
// exception texts (0 when none are installed).
// Windows asks FormatMessageW; POSIX uses the C library's error text.
std::u16string FormatSystemError(const std::u16string& prefix, uint32_t code, uint16_t language);
