#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "app/browser.h"
#include "app/browser_command.h"
#include "app/run_state.h"
#include "utils/encoding.h"

namespace app {

namespace {

// Closes every descriptor above standard error in a child before exec: the browser must
// not keep our listening socket, lock file or program-file mapping alive. The soft
// descriptor limit may have been lowered after descriptors above it were opened, so
// close_range is preferred over a loop up to that limit.
void CloseInheritedDescriptors(int keep) {
#if defined(__linux__) && defined(__GLIBC__) && \
    (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
  if (close_range(3, keep - 1, 0) == 0 && close_range(keep + 1, ~0U, 0) == 0) return;
#endif
  long maxFd = sysconf(_SC_OPEN_MAX);
  rlimit limit;
  if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_max != RLIM_INFINITY &&
      static_cast<long>(limit.rlim_max) > maxFd) {
    maxFd = static_cast<long>(limit.rlim_max);
  }
  if (maxFd < 0 || maxFd > 65536) maxFd = 65536;
  for (int fd = 3; fd < maxFd; ++fd) {
    if (fd != keep) close(fd);
  }
}

// The runner ignores SIGPIPE and blocks its stop signals while it serves; an ignored
// disposition and the signal mask survive exec, and a browser started with SIGTERM
// blocked could not be stopped the ordinary way.
void ResetSignals() {
  signal(SIGPIPE, SIG_DFL);
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
}

// Starts argv detached (a grandchild that init reaps) and reports whether its exec
// succeeded. Only the short-lived middle child is waited for.
bool SpawnDetached(const std::vector<std::string>& argv) {
  if (argv.empty()) return false;
  int status[2];
  if (pipe2(status, O_CLOEXEC) != 0) return false;
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);

  pid_t child = fork();
  if (child < 0) {
    close(status[0]);
    close(status[1]);
    return false;
  }
  if (child == 0) {
    close(status[0]);
    setsid();
    pid_t grandchild = fork();
    if (grandchild != 0) _exit(grandchild < 0 ? 1 : 0);
    CloseInheritedDescriptors(status[1]);
    ResetSignals();
    int devNull = open("/dev/null", O_RDONLY);
    if (devNull >= 0) {
      dup2(devNull, 0);
      if (devNull != 0) close(devNull);
    }
    execvp(args[0], args.data());
    int error = errno;
    ssize_t ignored = write(status[1], &error, sizeof error);
    (void)ignored;
    _exit(127);
  }
  close(status[1]);
  int childStatus = 0;
  while (waitpid(child, &childStatus, 0) < 0 && errno == EINTR) {
  }
  // The pipe closes on a successful exec (close-on-exec) without data.
  int error = 0;
  ssize_t n;
  do {
    n = read(status[0], &error, sizeof error);
  } while (n < 0 && errno == EINTR);
  close(status[0]);
  return WIFEXITED(childStatus) && WEXITSTATUS(childStatus) == 0 && n == 0;
}

}  // namespace

bool LaunchBrowser(const std::u16string& query, bool useIe) {
  (void)useIe;  // there is no Internet Explorer here
  std::string url = utils::WideToUtf8(MakeStartUrl(ContentBaseUrl, query));
  const char* variable = std::getenv("BROWSER");
  if (variable) {
    for (const std::vector<std::string>& command : BrowserCommands(variable, url)) {
      if (SpawnDetached(command)) return true;
    }
  }
#ifdef __APPLE__
  if (SpawnDetached(DefaultBrowserCommand(url, true))) return true;
#else
  if (SpawnDetached(DefaultBrowserCommand(url, false))) return true;
#endif
  return false;
}

}  // namespace app
