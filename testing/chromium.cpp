#include "testing/chromium.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstdlib>

extern char** environ;

namespace storage::test {

HeadlessChromium::HeadlessChromium(const std::string& url, const std::string& profile,
                                   const std::vector<std::string>& extraFlags)
    : profile_(profile) {
  std::system(("rm -rf '" + profile_ + "'").c_str());
  // Without the background-networking flags Chromium keeps trying hosts this machine
  // cannot reach.
  std::vector<std::string> args = {"chromium",
                                   "--headless",
                                   "--no-sandbox",
                                   "--disable-gpu",
                                   "--disable-quic",
                                   "--no-first-run",
                                   "--disable-background-networking",
                                   "--disable-component-update",
                                   "--disable-sync"};
  args.insert(args.end(), extraFlags.begin(), extraFlags.end());
  args.push_back("--user-data-dir=" + profile_);
  args.push_back(url);
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  if (posix_spawnp(&pid_, "chromium", &actions, nullptr, argv.data(), environ) != 0) pid_ = 0;
  posix_spawn_file_actions_destroy(&actions);
}

HeadlessChromium::~HeadlessChromium() {
  if (pid_ != 0) {
    kill(pid_, SIGTERM);
    int status;
    waitpid(pid_, &status, 0);
  }
  std::system(("rm -rf '" + profile_ + "'").c_str());
}

}  // namespace storage::test
