// The packer's view of a source folder: every file under the name an author gives it,
// with the checks that can refuse a source made before anything is compressed.
//
// Symbolic links are taken as authors mean them: a link to a file is stored under the
// link's own path with the target's bytes, a linked folder is walked like a folder. A
// link that leads outside the source is followed too (the author put it there; the
// packed program carries a copy), and listed in a warning. A loop, a dangling link or a
// target that is neither a file nor a folder is an error naming the path. Entry names
// come from the walk (the names of the links, never of their targets), so none holds
// ".." or is absolute.
//
// Everything runs on the calling thread; failures come back as a message.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace pack {

struct SourceFile {
  std::string name;            // UTF-8, "/" separators, relative to the source
  std::filesystem::path path;  // to open (the link's own path for a linked file)
  uint64_t size = 0;
};

struct SourceLimits {
  size_t maxFiles = 65535;
  uint64_t maxFileSize = 0xFFFFFFFFull;
};

// Walks root and appends its files to files (in no particular order), skipping the
// files that skip names (the output and its temporary file, when they lie inside).
// Refuses, with the path: a name that is not valid UTF-8 (escaped, "\xNN"), a loop, a
// dangling link, anything neither a file nor a folder, a file larger than
// limits.maxFileSize, more files than limits.maxFiles (the walk stops there). Warns
// about links leading outside root. Returns "" or the error.
std::string ScanFolder(const std::filesystem::path& root,
                       const std::vector<std::filesystem::path>& skip, const SourceLimits& limits,
                       std::vector<SourceFile>& files, std::vector<std::string>& warnings);

// A path's bytes for a message: printable ASCII and valid UTF-8 as they are, any other
// byte as "\xNN".
std::string EscapedPath(const std::filesystem::path& path);

// Groups of names that the runner cannot tell apart (it matches names ignoring case):
// each group as "'A.txt', 'a.txt'". Empty when every name is reachable.
std::vector<std::string> CaseCollisions(const std::vector<std::string>& names);

// Why name cannot be an entry of the archive ("" when it can): an absolute name, a drive,
// or an empty, "." or ".." component.
std::string EntryNameProblem(const std::string& name);

}  // namespace pack
