#include <windows.h>
// windows.h first: objbase.h depends on it.
#include <objbase.h>
#include <winsock2.h>

#include <string>

#include "app/shell_platform.h"
#include "httpserver/http_server.h"

namespace app {

void ShowErrorMessage(const std::u16string& text) {
  MessageBoxW(nullptr, reinterpret_cast<const wchar_t*>(text.c_str()), nullptr, MB_ICONERROR);
}

namespace {

DWORD WINAPI ShowWarning(void* text) {
  auto* owned = static_cast<std::u16string*>(text);
  MessageBoxW(nullptr, reinterpret_cast<const wchar_t*>(owned->c_str()), nullptr,
              MB_ICONWARNING | MB_SETFOREGROUND);
  delete owned;
  return 0;
}

}  // namespace

void ShowBrowserFailure(const std::u16string& url, bool serving) {
  auto* text = new std::u16string(
      u"No web browser could be opened for the content. Open this "
      u"address in your browser:\n\n" +
      url);
  if (!serving) {
    ShowWarning(text);
    return;
  }
  *text +=
      u"\n\nThe content is served until you choose \"Stop content server\" in the menu "
      u"of its icon in the notification area.";
  // On a thread of its own, so that the run goes on (and the tray menu still ends it)
  // while the message is shown; the box goes with the process.
  HANDLE thread = CreateThread(nullptr, 0, ShowWarning, text, 0, nullptr);
  if (thread) {
    CloseHandle(thread);
  } else {
    delete text;
  }
}

int AddressInUseCode() { return WSAEADDRINUSE; }

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
