// Settings on POSIX: no version resources; the branch is fixed at build time and the
// values live in a small text file under the user's configuration folder.
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <sstream>

#include "app/settings.h"
#include "app/settings_internal.h"
#include "utils/encoding.h"

namespace settings {

int ReadVersionStrings(const std::u16string& filePath,
                       std::map<std::u16string, std::u16string>& names) {
  for (auto& [name, value] : names) value.clear();
  return 0;
}

std::u16string ReadVersionString(const std::u16string& name, const std::u16string& filePath) {
  return {};
}

std::u16string LoadProgramBranch() { return CONTENTEXE_REGISTRY_BRANCH; }

namespace {

// $XDG_CONFIG_HOME/<branch>/<key>, else ~/.config/<branch>/<key>. The XDG rules ignore
// a relative XDG_CONFIG_HOME. Asked at every read, like the registry.
std::string StoreFilePath(const std::u16string& key) {
  std::string base;
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg && xdg[0] == '/') {
    base = xdg;
  } else {
    const char* home = std::getenv("HOME");
    if (!home || !home[0]) return {};
    base = std::string(home) + "/.config";
  }
  return base + "/" + utils::WideToUtf8(GetRegistryBranch()) + "/" + utils::WideToUtf8(key);
}

std::string SettingsFilePath() { return StoreFilePath(u"Expert"); }

bool ReadWholeFile(const std::string& path, std::string& text) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return false;
  std::ostringstream out;
  out << file.rdbuf();
  text = out.str();
  return true;
}

}  // namespace

uint32_t GetStoredDword(const std::u16string& key, const std::u16string& name,
                        uint32_t defaultValue) {
  std::string path = StoreFilePath(key), text;
  if (path.empty() || !ReadWholeFile(path, text)) return defaultValue;
  std::optional<uint32_t> value = FindDword(text, utils::WideToUtf8(name));
  return value ? *value : defaultValue;
}

bool SetStoredDword(const std::u16string& key, const std::u16string& name, uint32_t value) {
  std::string path = StoreFilePath(key);
  if (path.empty()) return false;
  std::string folder = path.substr(0, path.rfind('/'));
  // The settings folder and the branch's folder below it, private to the user as the
  // XDG rules ask for new folders.
  mkdir(folder.substr(0, folder.rfind('/')).c_str(), 0700);
  if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return false;
  std::string text;
  ReadWholeFile(path, text);  // a missing file is an empty one
  std::string updated = SetDwordLine(text, utils::WideToUtf8(name), value);
  // Written aside and renamed, so a reader never sees half a file.
  std::string temp = path + ".new";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out << updated;
    out.flush();
    if (!out) {
      std::remove(temp.c_str());
      return false;
    }
  }
  if (std::rename(temp.c_str(), path.c_str()) != 0) {
    std::remove(temp.c_str());
    return false;
  }
  return true;
}

uint32_t GetDwordSetting(const std::u16string& name, uint32_t defaultValue) {
  std::string path = SettingsFilePath();
  if (path.empty()) return defaultValue;
  std::ifstream file(path, std::ios::binary);
  if (!file) return defaultValue;
  std::ostringstream text;
  text << file.rdbuf();
  std::optional<uint32_t> value = FindDword(text.str(), utils::WideToUtf8(name));
  return value ? *value : defaultValue;
}

StoreWatch::StoreWatch() = default;
StoreWatch::~StoreWatch() = default;

std::string StoreWatch::Stamp() {
  std::string path = SettingsFilePath();
  if (path.empty()) return "no folder";
  struct stat st;
  if (stat(path.c_str(), &st) != 0) {
    // Missing: stable until the file appears. Other failures may pass: read each time.
    return errno == ENOENT || errno == ENOTDIR ? "missing " + path : std::string();
  }
#ifdef __APPLE__
  const timespec& modified = st.st_mtimespec;
#else
  const timespec& modified = st.st_mtim;
#endif
  // File times come from a coarse clock: a second write in the same tick keeps the
  // time, so a recent time does not prove the file unchanged.
  if (modified.tv_sec >= std::time(nullptr) - kSettleSeconds) return {};
  std::ostringstream stamp;
  stamp << path << ' ' << st.st_dev << ' ' << st.st_ino << ' ' << st.st_size << ' '
        << modified.tv_sec << '.' << modified.tv_nsec;
  return stamp.str();
}

}  // namespace settings
