// The packer: turns a folder or a ZIP archive into a content executable (a runner with
// the archive and the footer appended), and lists what a content executable or ZIP holds.
//
// Everything runs on the calling thread. Failures come back as a message; the output is
// written to a temporary file beside it and renamed only when complete, so a failed run
// leaves no output behind.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace pack {

struct PackOptions {
  std::filesystem::path source;  // folder or .zip
  std::filesystem::path output;
  std::filesystem::path stub;                              // the runner to append to
  std::optional<std::string> start, port, useIe, caption;  // UTF-8 texts
  std::optional<std::string> crossOrigin;                  // "any" or absent
  // Windows runners only: the program's icon (a .ico or a PNG file) and version texts.
  // A name without a caption is the caption too.
  std::filesystem::path icon;
  std::optional<std::string> name, version, company;  // UTF-8 texts
  bool force = false;
  // Upper bound of the archive's length; the footer holds it in 32 bits, and the whole
  // program file must stay below 4 GiB for the runner to map it.
  uint64_t maxArchiveSize = 0xFFFFFFFFull;
  // Progress lines ("\r"-refreshed) go here when set (the terminal's stderr).
  std::FILE* progress = nullptr;
};

struct PackResult {
  bool ok = false;
  std::string error;                  // why it failed
  std::vector<std::string> warnings;  // e.g. no index.html
  uint64_t archiveSize = 0;
  size_t entryCount = 0;
};

PackResult Pack(const PackOptions& options);

// Whether the file extension (lower-cased, without the dot) names an already-compressed
// format that is stored rather than deflated.
bool IsPrecompressedExtension(const std::string& extension);

// Reasons a stub is refused, empty when it is a runner: not a program (no MZ or ELF
// magic), no runner marker, or content already appended.
std::string CheckStub(const std::vector<uint8_t>& stub);

// The default stub: "contentexe" (".exe" on Windows) beside the running packer.
std::filesystem::path DefaultStub();

// Writes a listing of the entries of a content executable or a ZIP archive to out, the
// control entries with their decoded texts. Empty string on success, else the error.
std::string List(const std::filesystem::path& file, std::FILE* out);

}  // namespace pack
