// How the packer is started by authors who never build anything: the runners it finds
// beside itself (a release holds contentexe-x64.exe and contentexe-x86.exe next to
// contentexe-pack.exe), and a folder dropped on it in Explorer, which is packed to
// FOLDER.exe beside the folder.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace pack {

enum class Arch { kAny, kX64, kX86 };

// "x64" (also "amd64", "x86_64") or "x86" (also "i686", "win32"); nothing for others.
std::optional<Arch> ParseArch(const std::string& text);

// The runner beside a packer in folder (windowsPacker: the packer is an .exe):
// - a Windows packer: contentexe-x64.exe, or with Arch::kX86 contentexe-x86.exe; failing
//   that contentexe.exe (a build folder), which must then be of the asked architecture
//   when one was asked for;
// - another packer: contentexe, or with an Arch the Windows runner contentexe-ARCH.exe.
// Returns the path, or sets error (naming what was looked for and --stub) and returns {}.
std::filesystem::path RunnerBeside(const std::filesystem::path& folder, bool windowsPacker,
                                   Arch arch, std::string& error);

// The machine a PE program is built for: 0x8664 (x86-64), 0x14c (i386), or 0 when the
// bytes are not a PE program.
uint16_t PeMachine(const std::vector<uint8_t>& image);

// Where a dropped source is packed: NAME.exe beside it (NAME: the folder's name, or a
// file's name without its extension), or "NAME (2).exe", "NAME (3).exe" ... when taken;
// an existing file is never chosen.
std::filesystem::path DropOutput(const std::filesystem::path& source);

// A dropped source packed with the default options to DropOutput(source) on stub, with
// progress lines to progress when set. text is the result as the message box shows it:
// the output, its entries and size and any warnings, or the error and that nothing was
// written.
struct DropResult {
  bool ok = false;
  std::filesystem::path output;
  std::string text;  // UTF-8
};
DropResult PackDropped(const std::filesystem::path& source, const std::filesystem::path& stub,
                       std::FILE* progress);

// Windows: true when the packer's console is its own (no other process is attached to
// it), as when Explorer starts it for a folder dropped on it or for a double-click; false
// when it runs in a console window the user opened, and on other systems.
bool OwnsConsole();

// Windows: shows text (UTF-8) in a message box titled "contentexe-pack", with the error
// icon when error is set, and returns when the user closes it. Elsewhere nothing.
void ShowMessage(const std::string& text, bool error);

}  // namespace pack
