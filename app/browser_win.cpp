#include <windows.h>
// windows.h first: shellapi.h depends on it.
#include <shellapi.h>

#include <cstring>

#include "app/browser.h"
#include "app/browser_command.h"
#include "app/run_state.h"

namespace app {

namespace {

// The public IELAUNCHURLINFO record of the Windows SDK (mingw-w64 does not declare it).
struct IeLaunchUrlInfo {
  DWORD cbSize;
  DWORD dwCreationFlags;
  DWORD dwLaunchOptions;
};
using IeLaunchUrlFn = HRESULT(WINAPI*)(LPCWSTR, PROCESS_INFORMATION*, void*);

constexpr HRESULT kNotImplemented = static_cast<HRESULT>(0x80004001L);

HRESULT LaunchInternetExplorer(const wchar_t* url, PROCESS_INFORMATION* processInformation,
                               IeLaunchUrlInfo* launchInfo) {
  HMODULE library = LoadLibraryExW(L"ieframe.dll", nullptr, 0);
  if (!library) return kNotImplemented;
  auto launch = reinterpret_cast<IeLaunchUrlFn>(
      reinterpret_cast<void*>(GetProcAddress(library, "IELaunchURL")));
  if (!launch) {
    FreeLibrary(library);
    return kNotImplemented;
  }
  HRESULT result = launch(url, processInformation, launchInfo);
  FreeLibrary(library);
  return result;
}

}  // namespace

bool LaunchBrowser(const std::u16string& query, bool useIe) {
  std::u16string url = MakeStartUrl(ContentBaseUrl, query);
  const wchar_t* wideUrl = reinterpret_cast<const wchar_t*>(url.c_str());
  if (useIe) {
    IeLaunchUrlInfo info = {sizeof info, 0, 0};
    PROCESS_INFORMATION process;
    std::memset(&process, 0, sizeof process);
    HRESULT result = LaunchInternetExplorer(wideUrl, &process, &info);
    // Nothing uses the browser's handles; keeping them would pin its process object.
    if (process.hThread) CloseHandle(process.hThread);
    if (process.hProcess) CloseHandle(process.hProcess);
    if (SUCCEEDED(result)) return true;
    // Internet Explorer is gone from current Windows: fall through to the default
    // browser rather than ending without showing anything.
  }
  HINSTANCE result = ShellExecuteW(nullptr, nullptr, wideUrl, nullptr, nullptr, SW_SHOW);
  return reinterpret_cast<INT_PTR>(result) > 32;
}

}  // namespace app
