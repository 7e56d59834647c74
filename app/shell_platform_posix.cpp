#include <signal.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "app/run_state.h"
#include "app/shell_platform.h"
#include "httpserver/http_server.h"
#include "utils/encoding.h"

namespace app {

namespace {

sigset_t StopSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  // The terminal the runner was started from has closed.
  sigaddset(&set, SIGHUP);
  return set;
}

}  // namespace

void ShowErrorMessage(const std::u16string& text) {
  std::string line = utils::WideToUtf8(text);
  if (line.empty() || line.back() != '\n') line += '\n';
  std::fputs(line.c_str(), stderr);
  std::fflush(stderr);
}

void ShowBrowserFailure(const std::u16string& url, bool serving) {
  std::u16string text =
      u"No web browser could be started for the content. Open " + url + u" in your browser";
  ShowErrorMessage(text +
                   (serving ? u"; the content is served until you stop it (Ctrl+C)." : u"."));
}

int AddressInUseCode() { return EADDRINUSE; }

bool IsExistingFile(const std::u16string& path) {
  struct stat info;
  return !path.empty() && stat(utils::WideToUtf8(path).c_str(), &info) == 0 &&
         !S_ISDIR(info.st_mode);
}

uint32_t CurrentProcessId() { return static_cast<uint32_t>(getpid()); }

uint32_t TickCount() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint32_t>(static_cast<uint64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000);
}

void InitializeThread() {
  // A browser that closed its end must not kill us with SIGPIPE while we send.
  signal(SIGPIPE, SIG_IGN);
}

void UninitializeThread() {}

void PrepareForServing() {
  sigset_t set = StopSignals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

void WaitForServer(storage::HttpServer& server) {
  std::fprintf(stderr, "Serving %s - press Ctrl+C to stop the content server.\n",
               utils::WideToUtf8(ContentBaseUrl).c_str());
  std::fflush(stderr);
  sigset_t set = StopSignals();
  // The signals are blocked in every thread (PrepareForServing), so they wait here
  // until taken; a stop request then ends the network thread like the tray menu does.
  while (!server.WaitForThread(0)) {
    timespec interval = {0, 200 * 1000 * 1000};
    int signal = sigtimedwait(&set, nullptr, &interval);
    if (signal == SIGINT || signal == SIGTERM || signal == SIGHUP) {
      server.RequestStop();
      server.WaitForThread();
      break;
    }
  }
}

}  // namespace app
