#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/run_state.h"
#include "app/runtime_folder.h"
#include "app/server_record.h"
#include "app/server_registry.h"
#include "utils/encoding.h"

// A record is a file named by ContentId in decimal that holds two lines: the process
// identifier and the URL (UTF-8). It is read back into the multi-string layout of the
// Windows value so that both platforms judge records by the same rules.

namespace app {

namespace {

std::string RecordsFolder() { return RuntimeSubfolder("DeployedServers"); }

bool ProcessRuns(uint32_t pid) {
  // A number beyond pid_t's range would turn negative and ask kill() about a whole
  // process group (or every process we may signal): no process carries it.
  if (pid > static_cast<uint32_t>(INT32_MAX)) return false;
  // EPERM: the process exists but is somebody else's; only "no such process" is gone.
  return kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

// The file's text as the UTF-16LE layout "<line 1>\0<line 2>\0...\0" (bytes).
std::string RecordFileToData(const std::string& text) {
  std::u16string units;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    units += utils::Utf8ToWide(text.substr(start, end - start));
    units += u'\0';
    start = end + 1;
  }
  if (!units.empty()) units += u'\0';
  std::string bytes;
  for (char16_t u : units) {
    bytes += static_cast<char>(u & 0xFF);
    bytes += static_cast<char>(u >> 8);
  }
  return bytes;
}

bool ReadSmallFile(const std::string& path, std::string& text) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) return false;
  char buffer[1024];
  ssize_t n;
  text.clear();
  // A record larger than the Windows reader's buffer is passed over there, and here.
  while ((n = read(fd, buffer, sizeof buffer)) > 0 && text.size() <= 4096) text.append(buffer, n);
  close(fd);
  return n == 0;
}

}  // namespace

void ClearDeployedServers() {
  std::string folder = RecordsFolder();
  if (folder.empty()) return;
  if (DIR* dir = opendir(folder.c_str())) {
    while (dirent* entry = readdir(dir)) {
      std::string name = entry->d_name;
      if (name == "." || name == "..") continue;
      unlink((folder + "/" + name).c_str());
    }
    closedir(dir);
  }
}

bool FindRunningServer() {
  std::string folder = RecordsFolder();
  if (folder.empty()) return false;
  DIR* dir = opendir(folder.c_str());
  if (!dir) return false;
  bool found = false;
  while (dirent* entry = readdir(dir)) {
    std::string name = entry->d_name;
    if (name.empty() || name[0] == '.') continue;
    std::string path = folder + "/" + name;
    std::string text;
    if (!ReadSmallFile(path, text)) continue;
    std::u16string url;
    switch (ExamineServerRecord(utils::Utf8ToWide(name), kRegMultiSz, RecordFileToData(text),
                                ContentId, ProcessRuns, url)) {
      case RecordAction::DeleteStale:
        unlink(path.c_str());
        break;
      case RecordAction::Found:
        found = true;
        ContentBaseUrl = url;
        break;
      default:
        break;
    }
  }
  closedir(dir);
  return found;
}

void RegisterServer() {
  std::string folder = RecordsFolder();
  if (folder.empty() || ContentId == 0) return;
  std::string name = utils::WideToUtf8(RecordName(ContentId));
  std::string text = std::to_string(ProcessId) + "\n" + utils::WideToUtf8(ContentBaseUrl) + "\n";
  // Written aside and renamed, so a reader never sees half a record.
  std::string temp = folder + "/." + name + "." + std::to_string(ProcessId);
  int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return;
  bool written = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  written = close(fd) == 0 && written;
  if (!written || rename(temp.c_str(), (folder + "/" + name).c_str()) != 0) {
    unlink(temp.c_str());
    return;
  }
  std::atexit(UnregisterServer);
}

void UnregisterServer() {
  if (ContentId == 0) return;
  std::string folder = RecordsFolder();
  if (folder.empty()) return;
  unlink((folder + "/" + utils::WideToUtf8(RecordName(ContentId))).c_str());
}

}  // namespace app
