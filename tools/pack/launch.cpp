#include "tools/pack/launch.h"

#include <fstream>

#include "tools/pack/pack.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace pack {

namespace fs = std::filesystem;

std::optional<Arch> ParseArch(const std::string& text) {
  if (text == "x64" || text == "amd64" || text == "x86_64") return Arch::kX64;
  if (text == "x86" || text == "i686" || text == "win32") return Arch::kX86;
  return std::nullopt;
}

uint16_t PeMachine(const std::vector<uint8_t>& image) {
  auto u32 = [&](size_t at) {
    return static_cast<uint32_t>(image[at]) | image[at + 1] << 8 | image[at + 2] << 16 |
           static_cast<uint32_t>(image[at + 3]) << 24;
  };
  if (image.size() < 0x40 || image[0] != 'M' || image[1] != 'Z') return 0;
  uint32_t pe = u32(0x3C);
  if (pe > image.size() || image.size() - pe < 6 || u32(pe) != 0x00004550) return 0;
  return static_cast<uint16_t>(image[pe + 4] | image[pe + 5] << 8);
}

namespace {

std::string Utf8(const fs::path& path) {
  return std::string(reinterpret_cast<const char*>(path.u8string().c_str()));
}

std::string Show(const fs::path& path) { return "\"" + Utf8(path) + "\""; }

// 1234567 -> "1.2 MB"; below 1000 bytes: "N bytes".
std::string Size(uint64_t bytes) {
  const char* units[] = {"KB", "MB", "GB"};
  if (bytes < 1000) return std::to_string(bytes) + " bytes";
  double value = static_cast<double>(bytes);
  int unit = -1;
  while (value >= 1000 && unit < 2) value /= 1000, ++unit;
  char text[32];
  std::snprintf(text, sizeof text, "%.1f %s", value, units[unit]);
  return text;
}

// The first 4 KiB of a file: enough for the PE headers.
std::vector<uint8_t> Head(const fs::path& path) {
  std::vector<uint8_t> bytes(4096);
  std::ifstream in(path, std::ios::binary);
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  bytes.resize(in ? bytes.size() : static_cast<size_t>(in.gcount()));
  return bytes;
}

}  // namespace

fs::path RunnerBeside(const fs::path& folder, bool windowsPacker, Arch arch, std::string& error) {
  std::error_code ec;
  const char* suffix = arch == Arch::kX86 ? "x86" : "x64";
  fs::path named = folder / (std::string("contentexe-") + suffix + ".exe");
  if (!windowsPacker) {
    fs::path runner = arch == Arch::kAny ? folder / "contentexe" : named;
    if (fs::is_regular_file(runner, ec)) return runner;
    error = "no runner beside the packer: " + Show(runner) + " is missing; choose one with --stub";
    return {};
  }
  if (fs::is_regular_file(named, ec)) return named;
  fs::path plain = folder / "contentexe.exe";
  if (fs::is_regular_file(plain, ec)) {
    uint16_t machine = PeMachine(Head(plain));
    bool fits = arch == Arch::kAny || (arch == Arch::kX64 && machine == 0x8664) ||
                (arch == Arch::kX86 && machine == 0x14c);
    if (fits) return plain;
    error = std::string("no ") + (arch == Arch::kX86 ? "32-bit" : "64-bit") +
            " runner beside the packer: " + Show(named) + " is missing and " + Show(plain) +
            " is for another architecture; choose one with --stub";
    return {};
  }
  error = "no runner beside the packer: " + Show(named) +
          " is missing (keep the files of the download together, or choose one with --stub)";
  return {};
}

fs::path DropOutput(const fs::path& source) {
  fs::path base = source;
  while (base.has_relative_path() && !base.has_filename()) base = base.parent_path();
  std::error_code ec;
  fs::path name = fs::is_directory(base, ec) ? base.filename() : base.stem();
  if (name.empty()) name = "content";  // a drive's root
  for (int n = 1;; ++n) {
    fs::path candidate = base.parent_path() / name;
    if (n > 1) candidate += " (" + std::to_string(n) + ")";
    candidate += ".exe";
    if (!fs::exists(fs::symlink_status(candidate, ec))) return candidate;
  }
}

DropResult PackDropped(const fs::path& source, const fs::path& stub, std::FILE* progress) {
  DropResult drop;
  PackOptions options;
  options.source = source;
  options.stub = stub;
  options.output = drop.output = DropOutput(source);
  options.progress = progress;
  PackResult result = Pack(options);
  if (!result.ok) {
    drop.text = "Could not pack " + Show(source) + ":\n\n" + result.error +
                "\n\nNothing was written.";
    return drop;
  }
  std::error_code ec;
  uint64_t size = fs::file_size(drop.output, ec);
  drop.ok = true;
  drop.text = "Packed " + Show(source) + " into\n" + Utf8(drop.output) + "\n(" +
              std::to_string(result.entryCount) +
              (result.entryCount == 1 ? " entry, " : " entries, ") + Size(ec ? 0 : size) +
              ").\n\nSend this one file: opening it shows the content in the browser.";
  if (!result.warnings.empty()) {
    drop.text += "\n\nWarnings:";
    for (const std::string& warning : result.warnings) drop.text += "\n- " + warning;
  }
  return drop;
}

#ifdef _WIN32
bool OwnsConsole() {
  DWORD processes[2];
  return GetConsoleProcessList(processes, 2) == 1;
}

void ShowMessage(const std::string& text, bool error) {
  int n = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
  std::wstring wide(n > 0 ? n : 1, L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, wide.data(), n);
  MessageBoxW(nullptr, wide.c_str(), L"contentexe-pack",
              MB_OK | MB_SETFOREGROUND | (error ? MB_ICONERROR : MB_ICONINFORMATION));
}
#else
bool OwnsConsole() { return false; }
void ShowMessage(const std::string&, bool) {}
#endif

}  // namespace pack
