#include <windows.h>
// windows.h first: the shell headers below depend on it.
#include <commctrl.h>
#include <shellapi.h>

#include <cstring>

#include "httpserver/tray_icon.h"

namespace storage {

namespace {

// LoadIconMetric lives in Common Controls 6 and is exported by ordinal 380 only in some
// versions of comctl32, so it is looked up at run time; without it the icon falls back
// to LoadImageW at the small system metric.
using LoadIconMetricFn = HRESULT(WINAPI*)(HINSTANCE, PCWSTR, int, HICON*);

HICON LoadSmallProgramIcon() {
  HINSTANCE module = GetModuleHandleW(nullptr);
  HICON icon = nullptr;
  if (HMODULE comctl = GetModuleHandleW(L"comctl32.dll")) {
    auto load = reinterpret_cast<LoadIconMetricFn>(
        reinterpret_cast<void*>(GetProcAddress(comctl, MAKEINTRESOURCEA(380))));
    if (load && SUCCEEDED(load(module, MAKEINTRESOURCEW(1), 0 /* LIM_SMALL */, &icon))) {
      return icon;
    }
  }
  return static_cast<HICON>(LoadImageW(module, MAKEINTRESOURCEW(1), IMAGE_ICON,
                                       GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON),
                                       LR_DEFAULTCOLOR));
}

NOTIFYICONDATAW BaseRecord(void* window) {
  NOTIFYICONDATAW data;
  std::memset(&data, 0, sizeof data);
  data.cbSize = sizeof data;
  data.hWnd = static_cast<HWND>(window);
  data.uID = 0;
  return data;
}

}  // namespace

void AddNotificationIcon(void* window, const std::u16string& tip) {
  // Common Controls 6 must be loaded for LoadIconMetric; the manifest asks for it.
  INITCOMMONCONTROLSEX init = {sizeof init, ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&init);

  NOTIFYICONDATAW data = BaseRecord(window);
  data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP | NIF_SHOWTIP;
  data.uCallbackMessage = kWmHttpNotifyIcon;
  data.hIcon = LoadSmallProgramIcon();
  size_t length = tip.size() < kMaxTipChars ? tip.size() : kMaxTipChars;
  std::memcpy(data.szTip, tip.data(), length * sizeof(wchar_t));
  data.szTip[length] = L'\0';
  data.uVersion = NOTIFYICON_VERSION_4;
  Shell_NotifyIconW(NIM_ADD, &data);
  Shell_NotifyIconW(NIM_SETVERSION, &data);
}

void RemoveNotificationIcon(void* window) {
  NOTIFYICONDATAW data = BaseRecord(window);
  Shell_NotifyIconW(NIM_DELETE, &data);
}

void ShowNotificationMenu(void* window) {
  HWND hwnd = static_cast<HWND>(window);
  POINT cursor = {0, 0};
  GetCursorPos(&cursor);
  HMENU menu = CreatePopupMenu();
  if (!menu) return;
  AppendMenuW(menu, MF_STRING, kIdmStopServer, L"Stop content server");
  // Without the foreground switch the menu would not close when the user clicks
  // elsewhere; the WM_NULL afterwards makes the next click on the icon work at once.
  SetForegroundWindow(hwnd);
  TrackPopupMenu(menu, TPM_RIGHTBUTTON, cursor.x, cursor.y, 0, hwnd, nullptr);
  PostMessageW(hwnd, WM_NULL, 0, 0);
  DestroyMenu(menu);
}

unsigned TaskbarCreatedMessage() {
  static const UINT message = RegisterWindowMessageW(L"TaskbarCreated");
  return message;
}

}  // namespace storage
