// The runner's POSIX pieces against the real system: the runtime folder, the instance
// lock across processes, the server record files and the detached browser start.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "app/browser.h"
#include "app/instance_lock.h"
#include "app/run_state.h"
#include "app/runtime_folder.h"
#include "app/server_registry.h"
#include "app/settings.h"
#include "testing/runner_e2e.h"
#include "utils/encoding.h"

namespace {

namespace fs = std::filesystem;
using e2e::ReadFile;
using e2e::WriteFile;

// A process identifier that no process carries any more: a reaped child's.
std::string DeadPid() {
  pid_t child = fork();
  if (child == 0) _exit(0);
  waitpid(child, nullptr, 0);
  return std::to_string(child);
}

// Every test gets a fresh runtime folder of its own; the variables it changes come back.
class PosixPlatform : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : {"XDG_RUNTIME_DIR", "TMPDIR", "BROWSER", "PATH"}) {
      const char* value = std::getenv(name);
      saved_.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
    }
    alarm(60);  // a lock or walk that blocks ends the run by signal instead of hanging it
    root_ = e2e::MakeTempDir();
    ASSERT_FALSE(root_.empty());
    setenv("XDG_RUNTIME_DIR", root_.c_str(), 1);
    folder_ = root_ + "/" + utils::WideToUtf8(settings::GetRegistryBranch());
    records_ = folder_ + "/DeployedServers";
    app::ContentId = 0;
    app::ProcessId = static_cast<uint32_t>(getpid());
    app::ContentBaseUrl.clear();
  }
  void TearDown() override {
    alarm(0);
    for (auto& [name, value] : saved_) value ? setenv(name, value->c_str(), 1) : unsetenv(name);
    std::error_code ignored;
    fs::permissions(root_, fs::perms::owner_all, ignored);
    fs::remove_all(root_, ignored);
  }

  std::vector<std::pair<const char*, std::optional<std::string>>> saved_;
  std::string root_, folder_, records_;
};

TEST_F(PosixPlatform, RuntimeFolderIsPrivateAndFallsBackToTemporaryFolderWithUid) {
  EXPECT_EQ(app::RuntimeFolder(), folder_);
  EXPECT_EQ(app::RuntimeSubfolder("DeployedServers"), records_);
  for (const std::string& path : {folder_, records_}) {
    struct stat info;
    ASSERT_EQ(lstat(path.c_str(), &info), 0) << path;
    EXPECT_TRUE(S_ISDIR(info.st_mode));
    EXPECT_EQ(info.st_mode & 0777, 0700u) << path;
  }
  setenv("TMPDIR", root_.c_str(), 1);
  std::string expected = folder_ + "-" + std::to_string(geteuid());
  for (const char* runtime : {static_cast<const char*>(nullptr), "", "relative/dir"}) {
    runtime ? setenv("XDG_RUNTIME_DIR", runtime, 1) : unsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(app::RuntimeFolder(), expected) << (runtime ? runtime : "(unset)");
  }
  EXPECT_TRUE(fs::is_directory(expected));
}

// Records in a folder that others may write could be anybody's: the walk and the
// registration never see that folder.
TEST_F(PosixPlatform, RuntimeFolderRefusedWhenOthersMayWriteOwnOrLinkIt) {
  ASSERT_EQ(app::RuntimeSubfolder("DeployedServers"), records_);
  ASSERT_EQ(chmod(records_.c_str(), 0777), 0);
  EXPECT_EQ(app::RuntimeSubfolder("DeployedServers"), "");
  for (mode_t loose : {0770, 0702}) {
    ASSERT_EQ(chmod(folder_.c_str(), loose), 0);
    EXPECT_EQ(app::RuntimeFolder(), "") << std::oct << loose;
  }
  ASSERT_EQ(chmod(folder_.c_str(), 0750), 0);  // readable by others is fine
  EXPECT_EQ(app::RuntimeFolder(), folder_);
  if (geteuid() == 0) {  // giving a folder away needs root
    ASSERT_EQ(chown(folder_.c_str(), 4242, 4242), 0);
    EXPECT_EQ(app::RuntimeFolder(), "");
    ASSERT_EQ(chown(folder_.c_str(), 0, 0), 0);
    ASSERT_EQ(chmod(records_.c_str(), 0700), 0);
    ASSERT_EQ(chown(records_.c_str(), 4242, 4242), 0);
    EXPECT_EQ(app::RuntimeSubfolder("DeployedServers"), "");
  }
  // A link to a private folder of ours is still refused: the link itself could be
  // anybody's doing.
  fs::rename(folder_, root_ + "/real");
  fs::create_directory_symlink(root_ + "/real", folder_);
  EXPECT_EQ(app::RuntimeFolder(), "");
  fs::remove(folder_);
  WriteFile(folder_, "x");
  EXPECT_EQ(app::RuntimeFolder(), "");
}

// Runs Acquire and EndStart in a forked child and returns its answer (or -1 when the
// child failed).
int AcquireInChild() {
  pid_t child = fork();
  if (child == 0) {
    alarm(10);  // an Acquire that blocks on another's hold ends by signal
    app::InstanceLock lock;
    bool other = lock.Acquire();
    lock.EndStart();
    _exit(other ? 1 : 0);
  }
  int status = 0;
  if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

TEST_F(PosixPlatform, LockSeenByOtherProcessesWhileHeld) {
  EXPECT_EQ(AcquireInChild(), 0);  // nobody holds it
  app::InstanceLock lock;
  EXPECT_FALSE(lock.Acquire());  // alone
  lock.EndStart();
  EXPECT_EQ(AcquireInChild(), 1);
  EXPECT_EQ(AcquireInChild(), 1);  // a second comer does not take it from us
  {
    app::InstanceLock second;  // another open of it in this process counts as well
    EXPECT_TRUE(second.Acquire());
  }
  EXPECT_EQ(AcquireInChild(), 1);  // our own hold survives the other's release
  lock.Release();
  EXPECT_EQ(AcquireInChild(), 0);
  EXPECT_FALSE(lock.Acquire());

  // Without a usable folder every instance is alone, and no lock file is made there.
  lock.Release();
  fs::remove(folder_ + "/Exedeploy.lock");
  fs::remove(folder_ + "/Exedeploy.run");
  ASSERT_EQ(chmod(folder_.c_str(), 0777), 0);
  EXPECT_FALSE(lock.Acquire());
  EXPECT_FALSE(fs::exists(folder_ + "/Exedeploy.lock"));
  EXPECT_FALSE(fs::exists(folder_ + "/Exedeploy.run"));
}

// A start between taking the lock and writing its record keeps the next start waiting,
// so that the next one finds the record; the waiting one then counts the first as running.
TEST_F(PosixPlatform, StartWindowKeepsTheNextStartWaitingUntilItCloses) {
  app::InstanceLock lock;
  EXPECT_FALSE(lock.Acquire());
  std::string marker = root_ + "/acquired";
  pid_t child = fork();
  if (child == 0) {
    alarm(20);
    app::InstanceLock second;
    bool other = second.Acquire();
    WriteFile(marker, "x");
    _exit(other ? 1 : 0);
  }
  ASSERT_GT(child, 0);
  usleep(600 * 1000);
  EXPECT_FALSE(fs::exists(marker)) << "a start went on inside another start's window";
  lock.EndStart();
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status)) << "the waiting start never went on";
  EXPECT_EQ(WEXITSTATUS(status), 1);
  EXPECT_TRUE(fs::exists(marker));
}

// Writing, reuse, clearing and removal at exit are run end to end (app/e2e_test.cpp).
TEST_F(PosixPlatform, StaleRecordsRemovedLiveOnesAndNonRecordsKept) {
  ASSERT_FALSE(app::RuntimeSubfolder("DeployedServers").empty());
  std::string dead = DeadPid();
  WriteFile(records_ + "/100", dead + "\nhttp://a/\n");                       // ours, gone
  WriteFile(records_ + "/200", dead + "\nhttp://b/\n");                       // other, gone
  WriteFile(records_ + "/300", std::to_string(getppid()) + "\nhttp://c/\n");  // alive
  // A number beyond pid_t's range is no process, whatever process group it mirrors.
  WriteFile(records_ + "/400", std::to_string(0u - static_cast<uint32_t>(getpgrp())) + "\nx\n");
  // Files that are no records stay, even when no process answers.
  WriteFile(records_ + "/notes.txt", dead + "\nhttp://x/\n");
  WriteFile(records_ + "/500", dead + "\n");                                  // no URL
  WriteFile(records_ + "/502", "");                                           // empty
  WriteFile(records_ + "/504", dead + "\n" + std::string(5000, 'u') + "\n");  // too large
  ASSERT_EQ(mkdir((records_ + "/505").c_str(), 0700), 0);
  ASSERT_EQ(mkfifo((records_ + "/506").c_str(), 0600), 0);  // must not hang the walk

  app::ContentId = 100;
  app::ContentBaseUrl = u"mine";
  EXPECT_FALSE(app::FindRunningServer());
  EXPECT_EQ(app::ContentBaseUrl, u"mine");
  for (const char* gone : {"100", "200", "400"}) EXPECT_FALSE(fs::exists(records_ + "/" + gone));
  for (const char* kept : {"notes.txt", "500", "502", "504", "505", "506"}) {
    EXPECT_TRUE(fs::exists(records_ + "/" + kept)) << kept;
  }
  app::ContentId = 300;
  EXPECT_TRUE(app::FindRunningServer());
  EXPECT_EQ(app::ContentBaseUrl, u"http://c/");
}

// A stand-in browser: records its arguments, environment, signal state, session and
// descriptors, then waits for the test's go-ahead so that a runner that waited for its
// browser would be caught.
const char kProbeScript[] = R"(#!/bin/sh
out="$0.out"
printf '%s\n' "$@" "$CX_PROBE_ENV" > "$out.args"
grep -E '^Sig(Blk|Ign)' /proc/self/status > "$out.sig"
cut -d' ' -f6 /proc/$$/stat > "$out.sid"
ls /proc/self/fd > "$out.fds"  # ls's own listing is 3
for i in $(seq 100); do [ -e "$out.go" ] && break; sleep 0.1; done
{ [ -e "$out.go" ] && echo ok || echo blocked; } > "$out.tmp" && mv "$out.tmp" "$out.done"
)";

// The first command of $BROWSER that starts is the only one started; with none (or no
// $BROWSER) the desktop's opener takes the page.
TEST_F(PosixPlatform, BrowserDetachedCleanNotWaitedForAndTheFirstThatStarts) {
  std::string bin = root_ + "/bin/";
  fs::create_directory(bin);
  for (const char* name : {"probe", "second", "xdg-open"}) {
    WriteFile(bin + name, kProbeScript);
    fs::permissions(bin + name, fs::perms::owner_all);
  }
  setenv("PATH", (bin + ":/usr/bin:/bin").c_str(), 1);
  setenv("CX_PROBE_ENV", "passed-on", 1);
  setenv("BROWSER",
         ("/nonexistent/browser --x:" + bin + "probe --new-tab 'open=%s' %s:" + bin + "second")
             .c_str(),
         1);
  app::ContentBaseUrl = u"http://127.0.0.1:8080/run/";
  // Lets a probe finish; what it recorded, by suffix (".done": "ok\n" unless waited for).
  auto collect = [&bin](const std::string& name) {
    std::string out = bin + name + ".out";
    WriteFile(out + ".go", "");
    e2e::WaitForFile(out + ".done", 30);
    std::map<std::string, std::string> seen;
    for (const char* s : {".done", ".args", ".sig", ".sid", ".fds"}) {
      seen[s] = ReadFile(out + s);
      fs::remove(out + s);
    }
    fs::remove(out + ".go");
    return seen;
  };

  // The runner's state while it serves: SIGPIPE ignored, stop signals blocked, and
  // descriptors without close-on-exec, one of them above a since lowered limit.
  int marker = open((root_ + "/marker").c_str(), O_CREAT | O_RDWR, 0600);
  ASSERT_GE(marker, 0);
  ASSERT_EQ(dup2(marker, 40), 40);
  ASSERT_EQ(dup2(marker, 900), 900);
  rlimit saved, lowered;
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
  lowered = {512, saved.rlim_max};
  auto* oldPipe = signal(SIGPIPE, SIG_IGN);
  sigset_t stop, oldMask;
  sigemptyset(&stop);
  sigaddset(&stop, SIGINT);
  sigaddset(&stop, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop, &oldMask);
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &lowered), 0);

  bool launched = app::LaunchBrowser(u"?page=2&x=%41", false);

  setrlimit(RLIMIT_NOFILE, &saved);
  pthread_sigmask(SIG_SETMASK, &oldMask, nullptr);
  signal(SIGPIPE, oldPipe);
  for (int fd : {900, 40, marker}) close(fd);

  ASSERT_TRUE(launched);
  auto seen = collect("probe");
  EXPECT_EQ(seen[".done"], "ok\n") << "the runner waited for its browser";
  const std::string url = "http://127.0.0.1:8080/run/index.html";
  EXPECT_EQ(seen[".args"],
            "--new-tab\nopen=" + url + "?page=2&x=%41\n" + url + "?page=2&x=%41\npassed-on\n");
  EXPECT_FALSE(fs::exists(bin + "second.out.args")) << "more than one browser started";
  EXPECT_EQ(seen[".fds"], "0\n1\n2\n3\n");
  EXPECT_NE(seen[".sig"].find("SigBlk:\t0000000000000000"), std::string::npos) << seen[".sig"];
  size_t ign = seen[".sig"].find("SigIgn:\t");
  ASSERT_NE(ign, std::string::npos);
  uint64_t ignored = std::stoull(seen[".sig"].substr(ign + 8, 16), nullptr, 16);
  EXPECT_EQ(ignored & (1ull << (SIGPIPE - 1)), 0u) << seen[".sig"];
  EXPECT_NE(std::stol(seen[".sid"]), static_cast<long>(getsid(0))) << "not in a session of its own";

  for (const char* variable : {static_cast<const char*>(nullptr), "/nonexistent/a:/dev/null"}) {
    variable ? setenv("BROWSER", variable, 1) : unsetenv("BROWSER");
    ASSERT_TRUE(app::LaunchBrowser(u"#top", false)) << (variable ? variable : "(unset)");
    seen = collect("xdg-open");
    EXPECT_EQ(seen[".done"], "ok\n");
    EXPECT_EQ(seen[".args"], url + "#top\npassed-on\n");
  }
}

}  // namespace
