#include <windows.h>
// windows.h first: the shell headers below depend on it.
#include <commctrl.h>
#include <shellapi.h>

#include <cstring>
#include <utility>

#include "httpserver/tray_icon.h"

namespace storage {

namespace {

// LoadIconMetric lives in Common Controls 6 and is exported by ordinal 380 only in some
// versions of comctl32, so it is looked up at run time; without it the icon falls back
// to LoadImageW at the small system metric. Either way the handle is the caller's to
// destroy.
using LoadIconMetricFn = HRESULT(WINAPI*)(HINSTANCE, PCWSTR, int, HICON*);

HICON LoadSmallProgramIcon() {
  // Common Controls 6 must be loaded for LoadIconMetric; the manifest asks for it.
  INITCOMMONCONTROLSEX init = {sizeof init, ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&init);
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

NOTIFYICONDATAW BaseRecord(HWND window) {
  NOTIFYICONDATAW data;
  std::memset(&data, 0, sizeof data);
  data.cbSize = sizeof data;
  data.hWnd = window;
  data.uID = 0;
  return data;
}

const wchar_t* ClassName() { return reinterpret_cast<const wchar_t*>(kNotificationWindowClass); }

UINT TaskbarCreatedMessage() {
  static const UINT message = RegisterWindowMessageW(L"TaskbarCreated");
  return message;
}

}  // namespace

struct NotificationIcon::Access {
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
      auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
      SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
      return DefWindowProcW(window, message, wParam, lParam);
    }
    auto* self = reinterpret_cast<NotificationIcon*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!self) return DefWindowProcW(window, message, wParam, lParam);
    if (message == kWmHttpNotifyIcon) {
      UINT event = LOWORD(lParam);
      if (self->version4_ && (event == WM_CONTEXTMENU || event == NIN_KEYSELECT)) {
        // The anchor: the click point, or the icon's place when the keyboard asked.
        self->ShowMenu(static_cast<short>(LOWORD(wParam)), static_cast<short>(HIWORD(wParam)));
      } else if (!self->version4_ && event == WM_RBUTTONUP) {
        POINT cursor = {0, 0};
        GetCursorPos(&cursor);
        self->ShowMenu(cursor.x, cursor.y);
      }
      // Left clicks and the other events do nothing.
      return 0;
    }
    if (message == WM_COMMAND) {
      if (LOWORD(wParam) == kIdmStopServer && self->onStop_) self->onStop_();
      return 0;
    }
    // Ending from outside: like the menu command, never a destroyed window with the
    // server left running.
    if (message == WM_CLOSE) {
      if (self->onStop_) self->onStop_();
      return 0;
    }
    if (message == WM_QUERYENDSESSION) return TRUE;
    if (message == WM_ENDSESSION) {
      if (wParam) {
        if (self->onSessionEnd_) self->onSessionEnd_();
        if (self->onStop_) self->onStop_();
      }
      return 0;
    }
    if (message == WM_NCDESTROY) SetWindowLongPtrW(window, GWLP_USERDATA, 0);
    // Explorer forgets every icon when it restarts and then broadcasts this message.
    if (message == TaskbarCreatedMessage()) {
      self->Add();
      return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
  }
};

NotificationIcon::NotificationIcon(const std::u16string& tip, std::function<void()> onStop,
                                   std::function<void()> onSessionEnd)
    : tip_(tip), onStop_(std::move(onStop)), onSessionEnd_(std::move(onSessionEnd)) {
  static const ATOM windowClass = [] {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = Access::WindowProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = ClassName();
    return RegisterClassExW(&wc);
  }();
  if (!windowClass) return;
  icon_ = LoadSmallProgramIcon();
  // Never shown; WS_EX_TOOLWINDOW keeps it off the taskbar and out of Alt+Tab.
  window_ = CreateWindowExW(WS_EX_TOOLWINDOW, ClassName(), L"", WS_POPUP, 0, 0, 0, 0, nullptr,
                            nullptr, GetModuleHandleW(nullptr), this);
  if (window_) Add();
}

NotificationIcon::~NotificationIcon() {
  if (window_) {
    NOTIFYICONDATAW data = BaseRecord(static_cast<HWND>(window_));
    Shell_NotifyIconW(NIM_DELETE, &data);
    DestroyWindow(static_cast<HWND>(window_));
  }
  if (icon_) DestroyIcon(static_cast<HICON>(icon_));
}

void NotificationIcon::Add() {
  NOTIFYICONDATAW data = BaseRecord(static_cast<HWND>(window_));
  data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP | NIF_SHOWTIP;
  data.uCallbackMessage = kWmHttpNotifyIcon;
  data.hIcon = static_cast<HICON>(icon_);
  size_t length = tip_.size() < kMaxTipChars ? tip_.size() : kMaxTipChars;
  std::memcpy(data.szTip, tip_.data(), length * sizeof(wchar_t));
  data.szTip[length] = L'\0';
  data.uVersion = NOTIFYICON_VERSION_4;
  Shell_NotifyIconW(NIM_ADD, &data);
  // A shell that refuses version 4 reports plain mouse messages: then the right-button
  // release opens the menu instead.
  version4_ = Shell_NotifyIconW(NIM_SETVERSION, &data) != FALSE;
}

void NotificationIcon::ShowMenu(int x, int y) {
  HWND window = static_cast<HWND>(window_);
  // A second request while the menu is tracked (Enter can report twice) is dropped.
  if (menuOpen_) return;
  HMENU menu = CreatePopupMenu();
  if (!menu) return;
  menuOpen_ = true;
  AppendMenuW(menu, MF_STRING, kIdmStopServer, L"Stop content server");
  // The menu's owner must be the foreground window, or the menu would stay open when the
  // user clicks elsewhere; the WM_NULL afterwards makes the next click on the icon work
  // at once. The choice arrives as WM_COMMAND at the window.
  SetForegroundWindow(window);
  UINT align = GetSystemMetrics(SM_MENUDROPALIGNMENT) ? TPM_RIGHTALIGN : TPM_LEFTALIGN;
  TrackPopupMenu(menu, TPM_RIGHTBUTTON | TPM_BOTTOMALIGN | align, x, y, 0, window, nullptr);
  PostMessageW(window, WM_NULL, 0, 0);
  DestroyMenu(menu);
  menuOpen_ = false;
}

}  // namespace storage
