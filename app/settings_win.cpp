// Settings on Windows: the branch from the program's version resource, DWORD values
// under HKEY_CURRENT_USER\SOFTWARE\<branch>\Expert.
#include <windows.h>

#include <vector>

#include "app/settings.h"
#include "app/settings_internal.h"
#include "utils/encoding.h"

namespace settings {
namespace {

const wchar_t* W(const std::u16string& s) { return reinterpret_cast<const wchar_t*>(s.c_str()); }

const std::u16string& ExpertKeyPath() {
  static const std::u16string path = GetSettingsKeyPath() + u"Expert";
  return path;
}

}  // namespace

int ReadVersionStrings(const std::u16string& filePath,
                       std::map<std::u16string, std::u16string>& names) {
  for (auto& [name, value] : names) value.clear();
  DWORD handle = 0;
  DWORD size = GetFileVersionInfoSizeW(W(filePath), &handle);
  if (size == 0 || size == 0xFFFFFFFF) return 0;
  std::vector<unsigned char> data(size);
  if (!GetFileVersionInfoW(W(filePath), 0, size, data.data())) return 0;
  void* translation = nullptr;
  UINT length = 0;
  if (!VerQueryValueW(data.data(), L"\\VarFileInfo\\Translation", &translation, &length) ||
      !translation || length < 4) {
    return 0;
  }
  // Only the first translation (language, code page) is consulted.
  const auto* pair = static_cast<const WORD*>(translation);
  std::u16string prefix = utils::FormatString(u"\\StringFileInfo\\%04x%04x\\", pair[0], pair[1]);
  int found = 0;
  for (auto& [name, value] : names) {
    std::u16string query = prefix + name;
    void* text = nullptr;
    UINT units = 0;
    if (VerQueryValueW(data.data(), W(query), &text, &units) && text && units) {
      value = static_cast<const char16_t*>(text);
      ++found;
    }
  }
  return found;
}

std::u16string ReadVersionString(const std::u16string& name, const std::u16string& filePath) {
  std::u16string path = filePath;
  if (path.empty()) {
    wchar_t buffer[1024];
    DWORD n = GetModuleFileNameW(nullptr, buffer, 1024);
    if (n == 0 || n >= 1024) return {};  // 1024 means the path was cut short
    path.assign(reinterpret_cast<const char16_t*>(buffer), n);
  }
  std::map<std::u16string, std::u16string> names{{name, u""}};
  if (ReadVersionStrings(path, names) != 1) return {};
  return names[name];
}

std::u16string LoadProgramBranch() { return ReadVersionString(u"RegistryBranch", u""); }

uint32_t GetDwordSetting(const std::u16string& name, uint32_t defaultValue) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, W(ExpertKeyPath()), 0, KEY_QUERY_VALUE, &key) !=
      ERROR_SUCCESS) {
    return defaultValue;
  }
  DWORD type = 0, value = 0, size = sizeof value;
  LONG rc = RegQueryValueExW(key, W(name), nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
  RegCloseKey(key);
  if (rc != ERROR_SUCCESS || type != REG_DWORD || size != sizeof value) return defaultValue;
  return value;
}

uint32_t GetStoredDword(const std::u16string& key, const std::u16string& name,
                        uint32_t defaultValue) {
  DWORD value = 0, size = sizeof value;
  LONG rc = RegGetValueW(HKEY_CURRENT_USER, W(GetSettingsKeyPath() + key), W(name),
                         RRF_RT_REG_DWORD, nullptr, &value, &size);
  return rc == ERROR_SUCCESS && size == sizeof value ? value : defaultValue;
}

bool SetStoredDword(const std::u16string& key, const std::u16string& name, uint32_t value) {
  DWORD data = value;
  return RegSetKeyValueW(HKEY_CURRENT_USER, W(GetSettingsKeyPath() + key), W(name), REG_DWORD,
                         &data, sizeof data) == ERROR_SUCCESS;
}

StoreWatch::StoreWatch() = default;

StoreWatch::~StoreWatch() {
  if (key_) RegCloseKey(static_cast<HKEY>(key_));
}

std::string StoreWatch::Stamp() {
  // The key stays open between checks, so a check is one call. A key deleted meanwhile
  // answers ERROR_KEY_DELETED: open it (or its successor) again.
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (!key_) {
      HKEY key = nullptr;
      if (RegOpenKeyExW(HKEY_CURRENT_USER, W(ExpertKeyPath()), 0, KEY_QUERY_VALUE, &key) !=
          ERROR_SUCCESS) {
        return "missing";
      }
      key_ = key;
    }
    FILETIME written{};
    if (RegQueryInfoKeyW(static_cast<HKEY>(key_), nullptr, nullptr, nullptr, nullptr, nullptr,
                         nullptr, nullptr, nullptr, nullptr, nullptr, &written) == ERROR_SUCCESS) {
      // Last-write times come from a coarse clock (about 16 ms): a recent time does not
      // prove the key unchanged.
      FILETIME now{};
      GetSystemTimeAsFileTime(&now);
      auto ticks = [](const FILETIME& t) {
        return uint64_t{t.dwHighDateTime} << 32 | t.dwLowDateTime;
      };
      if (ticks(written) + uint64_t{kSettleSeconds} * 10000000 >= ticks(now)) return {};
      return std::to_string(ticks(written));
    }
    RegCloseKey(static_cast<HKEY>(key_));
    key_ = nullptr;
  }
  return {};
}

}  // namespace settings
