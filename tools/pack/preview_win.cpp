#include <windows.h>

#include <atomic>

#include "app/shell_platform.h"
#include "httpserver/http_server.h"
#include "tools/pack/preview.h"

namespace pack {
namespace {

std::atomic<storage::HttpServer*> running{nullptr};

// Runs on a thread of its own that the system starts for the event. For a closed console
// the process ends once this returns, so it waits for the server to stop first.
BOOL WINAPI OnConsoleEvent(DWORD event) {
  storage::HttpServer* server = running.load();
  if (!server) return FALSE;
  server->RequestStop();
  if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT)
    server->WaitForThread(3000);
  return TRUE;
}

}  // namespace

// Ctrl+C, Ctrl+Break and closing the console stop the server; the wait is the runner's.
void WaitForPreviewStop(storage::HttpServer& server) {
  running.store(&server);
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
  app::WaitForServer(server);
  SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
  running.store(nullptr);
}

}  // namespace pack
