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
// True when path names something that exists and is not a directory.
bool IsExistingFile(const std::u16string& path);
uint32_t CurrentProcessId();
// Milliseconds since some fixed point, wrapping at 2^32 (GetTickCount).
uint32_t TickCount();

// COM for the main thread (Windows); nothing elsewhere.
void InitializeThread();
void UninitializeThread();

// Called before the server's thread is created. POSIX blocks SIGINT and SIGTERM here,
// so that every thread inherits the mask and the main thread alone takes them.
void PrepareForServing();
// Blocks until the server's network thread has ended: Windows waits on its handle (the
// tray menu ends it); POSIX tells on standard error where the content is served and
// that Ctrl+C stops it, and turns SIGINT and SIGTERM into a stop request.
void WaitForServer(storage::HttpServer& server);

}  // namespace app
