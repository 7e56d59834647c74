// The notification-area icon of a running server: its tooltip text (pure, every
// platform) and, on Windows, adding, removing and the one-item menu.
//
// The icon belongs to the server's message-only window and every call below is made on
// the network thread that owns that window. Results of the shell calls are not
// examined: a missing icon never stops the server. POSIX has no icon (the terminal and
// SIGINT/SIGTERM take its part), so only the tooltip text is built there.
#pragma once

#include <cstdint>
#include <string>

namespace storage {

// Window message the icon reports to (wParam: icon id, low word of lParam: the mouse
// message).
inline constexpr unsigned kWmHttpNotifyIcon = 1579;
// The menu command "Stop content server".
inline constexpr unsigned kIdmStopServer = 2222;
// Longest tooltip the record holds (plus its terminating zero).
inline constexpr size_t kMaxTipChars = 127;

// url + runPrefix (both 8-bit, widened as ASCII/ANSI), then "\n" + caption when the
// caption is not empty; a text longer than 127 characters becomes its first 124
// characters and "...".
std::u16string MakeNotificationTip(const std::string& url, const std::string& runPrefix,
                                   const std::u16string& caption);

// The calls below exist on Windows only; window is the server's HWND.

// Adds the icon (resource 1 of the program, small system size) with the tooltip and
// asks for the version 4 behaviour.
void AddNotificationIcon(void* window, const std::u16string& tip);
// Removes the icon of window.
void RemoveNotificationIcon(void* window);
// Shows the one-item menu at the cursor; the choice arrives as WM_COMMAND with
// kIdmStopServer at window.
void ShowNotificationMenu(void* window);
// The message Explorer broadcasts when the taskbar is (re)created ("TaskbarCreated").
// The window procedure answers it by adding the icon again: without that, the icon is
// gone for good after Explorer restarts.
unsigned TaskbarCreatedMessage();

}  // namespace storage
