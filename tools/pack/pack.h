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
  // Link-check warnings count as errors: nothing is written when there are any.
  bool strict = false;
};

// What went into the archive, for the report at the end.
struct PackStats {
  size_t entries = 0, stored = 0, deflated = 0;
  uint64_t bytesIn = 0, bytesOut = 0;               // content bytes; the archive's length
  uint64_t storedBytes = 0;                         // content bytes of stored entries
  uint64_t deflatedIn = 0, deflatedOut = 0;         // of deflated entries
  double seconds = 0;
};

struct PackResult {
  bool ok = false;
  std::string error;                  // why it failed
  std::vector<std::string> warnings;  // e.g. no index.html
  uint64_t archiveSize = 0;
  size_t entryCount = 0;
  bool strictRefused = false;  // options.strict and warnings: nothing written
  PackStats stats;
  size_t pagesChecked = 0, linksChecked = 0;  // by the link check
};

PackResult Pack(const PackOptions& options);

// The link check of options.source alone (--check): warnings as Pack gives them, ok
// false with error when the source cannot be read.
PackResult Check(const PackOptions& options);

// The end-of-packing report: one short block of lines.
std::string FormatReport(const std::filesystem::path& output, const PackResult& result);

// Why the control options' texts (--port, --use-ie) are refused, empty when they are fine.
std::string ControlOptionsError(const PackOptions& options);

// Whether the file extension (lower-cased, without the dot) names an already-compressed
// format that is stored rather than deflated.
bool IsPrecompressedExtension(const std::string& extension);

// Reasons a stub is refused, empty when it is a runner: not a program (no MZ or ELF
// magic), no runner marker, or content already appended.
std::string CheckStub(const std::vector<uint8_t>& stub);

// Writes a listing of the entries of a content executable or a ZIP archive to out, the
// control entries with their decoded texts. Empty string on success, else the error.
std::string List(const std::filesystem::path& file, std::FILE* out);

}  // namespace pack
