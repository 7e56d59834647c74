// The notification-area icon of a running server: its tooltip text (pure, every
// platform) and, on Windows, the icon itself with its one-item menu.
//
// On Windows the icon belongs to a hidden top-level window that NotificationIcon owns;
// it is created, used and destroyed on the server's network thread, whose message loop
// dispatches its messages. A hidden top-level window (unlike a message-only one) can
// become the foreground window, so the menu closes when the user clicks elsewhere, and
// it hears the "TaskbarCreated" broadcast. Results of the shell calls are not examined:
// a missing icon never stops the server. POSIX has no icon (the terminal and
// SIGINT/SIGTERM take its part), so only the tooltip text is built there.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace storage {

// Window message the icon reports to. With the version 4 behaviour the low word of
// lParam is the event (WM_CONTEXTMENU, NIN_KEYSELECT, mouse messages) and wParam the
// anchor point in screen coordinates; without it, the low word is the mouse message.
inline constexpr unsigned kWmHttpNotifyIcon = 1579;
// The menu command "Stop content server".
inline constexpr unsigned kIdmStopServer = 2222;
// Longest tooltip the record holds (plus its terminating zero).
inline constexpr size_t kMaxTipChars = 127;
// Window class of the icon's hidden window.
inline constexpr char16_t kNotificationWindowClass[] = u"mrv.http2.tray";

// url + runPrefix (both 8-bit, widened as ASCII/ANSI), then "\n" + caption when the
// caption is not empty; a text longer than 127 characters becomes its first 124
// characters and "...".
std::u16string MakeNotificationTip(const std::string& url, const std::string& runPrefix,
                                   const std::u16string& caption);

// Windows only. The icon (resource 1 of the program, small system size) with the tooltip
// and the menu "Stop content server", from construction until destruction, on the
// thread that constructs it. The menu opens on a right click, on the context-menu key or
// Shift+F10, and on Enter or Space at the focused icon; choosing the command calls onStop
// on that thread. The window is the program's one top-level window, so it also hears
// the requests to end from outside: WM_CLOSE (Task Manager's "End task") calls onStop;
// WM_QUERYENDSESSION is agreed to, and WM_ENDSESSION of a session that ends calls
// onSessionEnd and then onStop (the process may be ended once the message returns).
// When Explorer restarts and broadcasts "TaskbarCreated", the icon is added again. The
// destructor removes the icon, destroys the window and the icon handle.
class NotificationIcon {
 public:
  NotificationIcon(const std::u16string& tip, std::function<void()> onStop,
                   std::function<void()> onSessionEnd = {});
  ~NotificationIcon();
  NotificationIcon(const NotificationIcon&) = delete;
  NotificationIcon& operator=(const NotificationIcon&) = delete;

  // The hidden window the icon belongs to (an HWND); null when it could not be created.
  void* Window() const { return window_; }

 private:
  struct Access;
  void Add();
  void ShowMenu(int x, int y);

  std::u16string tip_;
  std::function<void()> onStop_;
  std::function<void()> onSessionEnd_;
  void* window_ = nullptr;
  void* icon_ = nullptr;   // HICON, owned
  bool version4_ = false;  // the shell took NOTIFYICON_VERSION_4
  bool menuOpen_ = false;  // TrackPopupMenu runs
};

}  // namespace storage
