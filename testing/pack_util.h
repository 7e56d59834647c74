// Helpers of the packer's, the locator's and the ZIP interop tests: temporary folders,
// files, running commands and the programs built beside the tests.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "utils/file/mapped_file.h"
#include "testing/zip_builder.h"

namespace pack::testing {

namespace fs = std::filesystem;
using amzip::testing::RandomBytes;

// A fresh folder, removed with its contents at the end.
class TempDir {
 public:
  TempDir() { fs::create_directories(path_); }
  ~TempDir() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  const fs::path& path() const { return path_; }
  fs::path operator/(const std::string& name) const { return path_ / name; }

 private:
  fs::path path_ =
      fs::temp_directory_path() / ("cx-test-" + std::to_string(std::random_device()()));
};

inline std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

inline std::vector<uint8_t> ReadBytes(const fs::path& path) {
  std::string text = ReadText(path);
  return std::vector<uint8_t>(text.begin(), text.end());
}

// A file of the source tree ($CX_SOURCE_DIR, else the working folder).
inline fs::path SourceFile(const std::string& relative) {
  const char* dir = std::getenv("CX_SOURCE_DIR");
  return fs::path(dir ? dir : ".") / relative;
}

// Little-endian numbers in bytes.
inline uint16_t Le16(const std::vector<uint8_t>& b, size_t at) {
  return uint16_t(b[at] | b[at + 1] << 8);
}
inline uint32_t Le32(const std::vector<uint8_t>& b, size_t at) {
  return Le16(b, at) | uint32_t(Le16(b, at + 2)) << 16;
}

inline void WriteText(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

struct Outcome {
  int status = -1;
  std::string output;  // stdout, and stderr unless dropped
};

// Runs a shell command line, capturing its output.
inline Outcome RunShell(const std::string& command, bool withStderr = true) {
  Outcome outcome;
#ifdef _WIN32
  FILE* pipe = _popen((command + (withStderr ? " 2>&1" : " 2>NUL")).c_str(), "r");
#else
  FILE* pipe = popen((command + (withStderr ? " 2>&1" : " 2>/dev/null")).c_str(), "r");
#endif
  char buffer[4096];
  for (size_t n; pipe && (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;)
    outcome.output.append(buffer, n);
#ifdef _WIN32
  outcome.status = pipe ? _pclose(pipe) : -1;
#else
  int status = pipe ? pclose(pipe) : -1;
  outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
  return outcome;
}

inline std::string Quoted(const fs::path& path) { return "\"" + path.string() + "\""; }

// Programs built beside the tests: <build>/bin/name.
inline fs::path BuiltProgram(std::string name) {
#ifdef _WIN32
  name += ".exe";
#endif
  return fs::path(utils::ProgramFilePath()).parent_path().parent_path() / "bin" / name;
}

// An entry's bytes as `unzip -p` extracts them.
inline std::string Unzip(const fs::path& zip, const std::string& name) {
  return RunShell("unzip -p " + Quoted(zip) + " '" + name + "'", false).output;
}

}  // namespace pack::testing
