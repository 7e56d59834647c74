#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "app/runtime_folder.h"
#include "app/settings.h"
#include "utils/encoding.h"

namespace app {

namespace {

// Creates path with mode 0700 when missing; accepts it only when it is a directory of
// ours that nobody else may write to.
bool EnsurePrivateFolder(const std::string& path) {
  if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return false;
  struct stat info;
  if (lstat(path.c_str(), &info) != 0) return false;
  if (!S_ISDIR(info.st_mode) || info.st_uid != geteuid()) return false;
  return (info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

}  // namespace

std::string RuntimeFolder() {
  std::string branch = utils::WideToUtf8(settings::GetRegistryBranch());
  if (branch.empty() || branch.find('/') != std::string::npos) branch = "Trellium";
  std::string folder;
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime && runtime[0] == '/') {
    folder = std::string(runtime) + "/" + branch;
  } else {
    const char* temp = std::getenv("TMPDIR");
    std::string base = temp && temp[0] == '/' ? temp : "/tmp";
    // The temporary folder is shared by every user: the folder carries our uid.
    folder = base + "/" + branch + "-" + std::to_string(geteuid());
  }
  return EnsurePrivateFolder(folder) ? folder : std::string();
}

std::string RuntimeSubfolder(const std::string& name) {
  std::string folder = RuntimeFolder();
  if (folder.empty()) return {};
  folder += "/" + name;
  return EnsurePrivateFolder(folder) ? folder : std::string();
}

}  // namespace app
