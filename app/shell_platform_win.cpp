#include <windows.h>
// windows.h first: objbase.h depends on it.
#include <objbase.h>

#include "app/shell_platform.h"
#include "httpserver/http_server.h"

namespace app {

void ShowErrorMessage(const std::u16string& text) {
  MessageBoxW(nullptr, reinterpret_cast<const wchar_t*>(text.c_str()), nullptr, MB_ICONERROR);
}

bool IsExistingFile(const std::u16string& path) {
  DWORD attributes = GetFileAttributesW(reinterpret_cast<const wchar_t*>(path.c_str()));
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

uint32_t CurrentProcessId() { return GetCurrentProcessId(); }

uint32_t TickCount() { return GetTickCount(); }

void InitializeThread() { CoInitialize(nullptr); }

void UninitializeThread() { CoUninitialize(); }

void PrepareForServing() {}

void WaitForServer(storage::HttpServer& server) {
  HANDLE thread = static_cast<HANDLE>(server.GetThreadHandle());
  if (thread) WaitForSingleObject(thread, INFINITE);
}

}  // namespace app
