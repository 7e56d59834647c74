// The marker that tells the packer a program file is a runner it may append content to.
//
// The runner embeds the string (KeepRunnerMarker from its main keeps it in the program
// file whatever the optimiser and linker do); the packer searches a stub's bytes for it.
// The packer must not carry the plain string itself, or it would pass as a runner: it
// uses ReversedRunnerMarker, which holds the marker's characters back to front.
#pragma once

#include <array>
#include <cstddef>

namespace content {

inline constexpr char kRunnerMarker[] = "contentexe-runner:1";
inline constexpr size_t kRunnerMarkerLength = sizeof kRunnerMarker - 1;

// Call from the runner's main. The store through a volatile pointer cannot be removed,
// so the marker's bytes stay in the program's read-only data.
inline void KeepRunnerMarker() {
  const char* volatile keep = kRunnerMarker;
  (void)keep;
}

// The marker back to front, computed at compile time (the plain string is not emitted).
inline constexpr std::array<char, kRunnerMarkerLength> ReversedRunnerMarker() {
  std::array<char, kRunnerMarkerLength> reversed{};
  for (size_t i = 0; i < kRunnerMarkerLength; ++i)
    reversed[i] = kRunnerMarker[kRunnerMarkerLength - 1 - i];
  return reversed;
}

}  // namespace content
