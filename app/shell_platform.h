// The few things the start-up asks of the operating system, one implementation per
// platform (shell_platform_win.cpp, shell_platform_posix.cpp).
//
// All of it runs on the main thread.
#pragma once

#include <cstdint>
#include <string>

namespace storage {
class HttpServer;
}

namespace app {

// Windows: a message box without owner or title, with the error icon. POSIX: a line on
// standard error.
void ShowErrorMessage(const std::u16string& text);
// A start page that could not be opened: tells the user the address to open by hand.
// serving: this process's server goes on (Windows shows the message without blocking the
// run; the tray menu still ends it); otherwise the message is waited for.
void ShowBrowserFailure(const std::u16string& url, bool serving);
// The socket error code of an address in use (EADDRINUSE, WSAEADDRINUSE).
int AddressInUseCode();
// True when path names something that exists and is not a directory.
bool IsExistingFile(const std::u16string& path);
uint32_t CurrentProcessId();
// Milliseconds since some fixed point, wrapping at 2^32 (GetTickCount).
uint32_t TickCount();

// COM for the main thread (Windows); nothing elsewhere.
void InitializeThread();
void UninitializeThread();

// Called before the server's thread is created. POSIX blocks SIGINT, SIGTERM and SIGHUP here,
// so that every thread inherits the mask and the main thread alone takes them.
void PrepareForServing();
// Blocks until the server's network thread has ended: Windows waits on its handle (the
// tray menu ends it); POSIX tells on standard error where the content is served and
// that Ctrl+C stops it, and turns SIGINT, SIGTERM and SIGHUP into a stop request.
void WaitForServer(storage::HttpServer& server);

}  // namespace app
