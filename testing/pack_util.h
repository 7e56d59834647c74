// Helpers of the packer's tests: temporary folders, files, running commands.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "content/program_file.h"

namespace pack::testing {

namespace fs = std::filesystem;

class TempDir {
 public:
  TempDir() {
    std::random_device random;
    path_ = fs::temp_directory_path() / ("cx-pack-" + std::to_string(random()));
    fs::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  const fs::path& path() const { return path_; }
  fs::path operator/(const std::string& name) const { return path_ / name; }

 private:
  fs::path path_;
};

inline std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void WriteText(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

struct Outcome {
  int status = -1;
  std::string output;  // stdout and stderr together
};

// Runs a shell command line (POSIX), capturing its output.
inline Outcome RunShell(const std::string& command, bool withStderr = true) {
  Outcome outcome;
  FILE* pipe = popen((command + (withStderr ? " 2>&1" : " 2>/dev/null")).c_str(), "r");
  if (!pipe) return outcome;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) outcome.output.append(buffer, n);
  int status = pclose(pipe);
  outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return outcome;
}

inline std::string Quoted(const fs::path& path) { return "'" + path.string() + "'"; }

// Programs built beside the tests: <build>/bin/name.
inline fs::path BuiltProgram(const std::string& name) {
  return fs::path(content::ProgramFilePath()).parent_path().parent_path() / "bin" / name;
}

// An entry's bytes as `unzip -p` extracts them.
inline std::string Unzip(const fs::path& zip, const std::string& name) {
  return RunShell("unzip -p '" + zip.string() + "' '" + name + "'", false).output;
}

// Bytes that deflate cannot shrink.
inline std::string RandomBytes(size_t n, unsigned seed) {
  std::mt19937 random(seed);
  std::string bytes(n, '\0');
  for (char& c : bytes) c = char(random());
  return bytes;
}

}  // namespace pack::testing
