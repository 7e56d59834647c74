// Pieces of the settings store shared by its platform halves and its tests.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace settings {

// The branch the program names for itself (version resource on Windows, build-time
// constant on POSIX); empty when it names none. Called once per process.
std::u16string LoadProgramBranch();

// A setting value as the POSIX settings file writes it: decimal digits, or "0x"/"0X"
// and hexadecimal digits, nothing else, and at most 0xFFFFFFFF.
std::optional<uint32_t> ParseDword(std::string_view text);

// The value of name in the text of a settings file: one "Name=value" per line, blanks
// and tabs around name and value ignored, CR LF accepted, lines starting with '#' (after
// blanks) are comments, names compared exactly. When a name appears more than once the
// last line counts; a value that is not a whole number 0..0xFFFFFFFF counts as absent.
std::optional<uint32_t> FindDword(std::string_view fileText, std::string_view name);

// fileText with the value of name set to value: the last line that sets name is
// rewritten (as "name=value"), or a line is added at the end; every other line is kept.
std::string SetDwordLine(std::string_view fileText, std::string_view name, uint32_t value);

// Tells whether the store may have changed. Platform halves; one object per user, which
// serialises its calls.
class StoreWatch {
 public:
  StoreWatch();
  ~StoreWatch();
  StoreWatch(const StoreWatch&) = delete;
  StoreWatch& operator=(const StoreWatch&) = delete;

  // An opaque text that is different whenever the store may hold other values than when
  // an equal text was answered; empty when it cannot tell (the store changed within the
  // last two seconds, or it cannot be checked).
  std::string Stamp();

 private:
  void* key_ = nullptr;  // Windows: the Expert key, kept open between checks
};

// How long a change must lie in the past before its stamp is trusted, in seconds.
inline constexpr int kSettleSeconds = 2;

}  // namespace settings
