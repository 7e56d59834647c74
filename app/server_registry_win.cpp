#include <windows.h>

#include <cstdlib>
#include <string>

#include "app/run_state.h"
#include "app/server_record.h"
#include "app/server_registry.h"
#include "app/settings.h"

namespace app {

namespace {

const wchar_t* Wide(const std::u16string& text) {
  return reinterpret_cast<const wchar_t*>(text.c_str());
}

// The 64-bit view is tried second for 32-bit programs on 64-bit systems whose first
// attempt was refused.
constexpr REGSAM kAllAccess64 = KEY_ALL_ACCESS | KEY_WOW64_64KEY;

HKEY OpenDeployedServersKey() {
  std::u16string path = settings::GetSettingsKeyPath() + u"DeployedServers";
  for (REGSAM access : {static_cast<REGSAM>(KEY_ALL_ACCESS), kAllAccess64}) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, Wide(path), 0, nullptr, 0, access, nullptr, &key,
                        nullptr) == ERROR_SUCCESS &&
        key) {
      return key;
    }
  }
  return nullptr;
}

bool ProcessRuns(uint32_t pid) {
  HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, pid);
  if (!process) return false;
  CloseHandle(process);
  return true;
}

}  // namespace

void ClearDeployedServers() {
  std::u16string branchPath = settings::GetSettingsKeyPath();
  if (!branchPath.empty() && branchPath.back() == u'\\') branchPath.pop_back();
  for (REGSAM access : {static_cast<REGSAM>(KEY_ALL_ACCESS), kAllAccess64}) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, Wide(branchPath), 0, access, &key) == ERROR_SUCCESS &&
        key) {
      RegDeleteKeyW(key, L"DeployedServers");
      RegCloseKey(key);
      return;
    }
  }
}

bool FindRunningServer() {
  HKEY key = OpenDeployedServersKey();
  if (!key) return false;
  bool found = false;
  for (DWORD index = 0;; ++index) {
    wchar_t name[256];
    DWORD nameChars = 256;
    BYTE data[2048];
    DWORD dataBytes = sizeof data;
    DWORD type = 0;
    LONG result = RegEnumValueW(key, index, name, &nameChars, nullptr, &type, data, &dataBytes);
    if (result == ERROR_MORE_DATA) continue;
    if (result != ERROR_SUCCESS) break;
    // The buffer has no room for our own terminator when the data fills it.
    if (dataBytes >= sizeof data) continue;
    std::u16string valueName(reinterpret_cast<const char16_t*>(name), nameChars);
    std::u16string url;
    switch (ExamineServerRecord(valueName, type,
                                std::string(reinterpret_cast<const char*>(data), dataBytes),
                                ContentId, ProcessRuns, url)) {
      case RecordAction::DeleteStale:
        // The next value now sits at this index: look at it again, so that the walk
        // examines every remaining value.
        if (RegDeleteValueW(key, name) == ERROR_SUCCESS) --index;
        break;
      case RecordAction::Found:
        found = true;
        ContentBaseUrl = url;
        break;
      default:
        break;
    }
  }
  RegCloseKey(key);
  return found;
}

void RegisterServer() {
  HKEY key = OpenDeployedServersKey();
  if (!key) return;
  std::u16string name = RecordName(ContentId);
  std::string data = EncodeRecordData(ProcessId, ContentBaseUrl);
  LONG result = RegSetKeyValueW(key, nullptr, Wide(name), REG_MULTI_SZ, data.data(),
                                static_cast<DWORD>(data.size()));
  if (result == ERROR_SUCCESS) std::atexit(UnregisterServer);
  RegCloseKey(key);
}

void UnregisterServer() {
  if (ContentId == 0) return;
  HKEY key = OpenDeployedServersKey();
  if (!key) return;
  RegDeleteValueW(key, Wide(RecordName(ContentId)));
  RegCloseKey(key);
}

}  // namespace app
