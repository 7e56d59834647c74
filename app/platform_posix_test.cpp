// The runner's POSIX pieces against the real system: the runtime folder, the instance
// lock across processes, the server record files and the detached browser start.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "app/browser.h"
#include "app/instance_lock.h"
#include "app/run_state.h"
#include "app/runtime_folder.h"
#include "app/server_registry.h"
#include "app/settings.h"
#include "utils/encoding.h"

// The start-up owns these in the program; the pieces under test only read and write them.
namespace app {
uint32_t ContentId = 0;
uint32_t ProcessId = 0;
std::u16string ContentBaseUrl;
}  // namespace app

namespace {

namespace fs = std::filesystem;

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteText(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// Keeps an environment variable's value and puts it back.
class SavedEnv {
 public:
  explicit SavedEnv(const char* name) : name_(name) {
    if (const char* v = std::getenv(name)) value_ = v, set_ = true;
  }
  ~SavedEnv() { set_ ? setenv(name_, value_.c_str(), 1) : unsetenv(name_); }

 private:
  const char* name_;
  std::string value_;
  bool set_ = false;
};

// Every test gets a fresh runtime folder of its own.
class PosixPlatform : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/cx-posix-XXXXXX";
    // A lock or walk that blocks ends the run by signal instead of hanging it.
    alarm(60);
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    root_ = tmpl;
    setenv("XDG_RUNTIME_DIR", root_.c_str(), 1);
    branch_ = utils::WideToUtf8(settings::GetRegistryBranch());
    app::ContentId = 0;
    app::ProcessId = static_cast<uint32_t>(getpid());
    app::ContentBaseUrl.clear();
  }
  void TearDown() override {
    alarm(0);
    std::error_code ignored;
    fs::permissions(root_, fs::perms::owner_all, ignored);
    fs::remove_all(root_, ignored);
  }

  std::string Folder() const { return root_ + "/" + branch_; }
  std::string Records() const { return Folder() + "/DeployedServers"; }

  SavedEnv savedRuntime_{"XDG_RUNTIME_DIR"};
  std::string root_;
  std::string branch_;
};

// ---- runtime folder -------------------------------------------------------------------

TEST_F(PosixPlatform, RuntimeFolderIsMadePrivateUnderXdgRuntimeDir) {
  EXPECT_EQ(app::RuntimeFolder(), Folder());
  EXPECT_EQ(app::RuntimeSubfolder("DeployedServers"), Records());
  for (const std::string& path : {Folder(), Records()}) {
    struct stat info;
    ASSERT_EQ(lstat(path.c_str(), &info), 0) << path;
    EXPECT_TRUE(S_ISDIR(info.st_mode));
    EXPECT_EQ(info.st_mode & 0777, 0700u) << path;
  }
}

TEST_F(PosixPlatform, RuntimeFolderFallsBackToTemporaryFolderWithUid) {
  SavedEnv savedTmp("TMPDIR");
  setenv("TMPDIR", root_.c_str(), 1);
  std::string expected = root_ + "/" + branch_ + "-" + std::to_string(geteuid());
  for (const char* runtime : {static_cast<const char*>(nullptr), "", "relative/dir"}) {
    runtime ? setenv("XDG_RUNTIME_DIR", runtime, 1) : unsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(app::RuntimeFolder(), expected) << (runtime ? runtime : "(unset)");
  }
  EXPECT_TRUE(fs::is_directory(expected));
}

TEST_F(PosixPlatform, RuntimeFolderRefusedWhenOthersMayWriteOrItIsALink) {
  ASSERT_EQ(app::RuntimeFolder(), Folder());
  for (mode_t loose : {0770, 0702, 0777}) {
    ASSERT_EQ(chmod(Folder().c_str(), loose), 0);
    EXPECT_EQ(app::RuntimeFolder(), "") << std::oct << loose;
    EXPECT_EQ(app::RuntimeSubfolder("DeployedServers"), "") << std::oct << loose;
  }
  ASSERT_EQ(chmod(Folder().c_str(), 0750), 0);  // readable by others is fine
  EXPECT_EQ(app::RuntimeFolder(), Folder());

  // A link to a private folder of ours is still refused: the link itself could be
  // anybody's doing.
  fs::rename(Folder(), root_ + "/real");
  fs::create_directory_symlink(root_ + "/real", Folder());
  EXPECT_EQ(app::RuntimeFolder(), "");
  // And a plain file in its place.
  fs::remove(Folder());
  WriteText(Folder(), "x");
  EXPECT_EQ(app::RuntimeFolder(), "");
}

TEST_F(PosixPlatform, RuntimeFolderRefusedWhenSomebodyElseOwnsIt) {
  if (geteuid() != 0) GTEST_SKIP() << "giving a folder away needs root";
  ASSERT_EQ(app::RuntimeFolder(), Folder());
  ASSERT_EQ(chown(Folder().c_str(), 4242, 4242), 0);
  EXPECT_EQ(app::RuntimeFolder(), "");
  ASSERT_EQ(chown(Folder().c_str(), 0, 0), 0);
  ASSERT_EQ(mkdir(Records().c_str(), 0700), 0);
  ASSERT_EQ(chown(Records().c_str(), 4242, 4242), 0);
  EXPECT_EQ(app::RuntimeSubfolder("DeployedServers"), "");
}

// ---- instance lock --------------------------------------------------------------------

// Runs Acquire in a forked child and returns its answer (or -1 when the child failed).
int AcquireInChild() {
  pid_t child = fork();
  if (child == 0) {
    alarm(10);  // an Acquire that blocks on another's hold ends by signal
    app::InstanceLock lock;
    _exit(lock.Acquire() ? 1 : 0);
  }
  int status = 0;
  if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

TEST_F(PosixPlatform, LockSeenByOtherProcessesWhileHeld) {
  EXPECT_EQ(AcquireInChild(), 0);  // nobody holds it
  app::InstanceLock lock;
  EXPECT_FALSE(lock.Acquire());  // alone
  EXPECT_TRUE(fs::exists(Folder() + "/Exedeploy.lock"));
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
}

TEST_F(PosixPlatform, LockHeldByChildEndsWithIt) {
  int ready[2], hold[2];
  ASSERT_EQ(pipe(ready), 0);
  ASSERT_EQ(pipe(hold), 0);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    close(ready[0]);
    close(hold[1]);
    app::InstanceLock lock;
    char answer = lock.Acquire() ? 'T' : 'F';
    if (write(ready[1], &answer, 1) != 1) _exit(2);
    char c;
    ssize_t ignored = read(hold[0], &c, 1);  // held until the parent closes the pipe
    (void)ignored;
    _exit(0);  // no Release: ending the process must drop it
  }
  close(ready[1]);
  close(hold[0]);
  char answer = 0;
  ASSERT_EQ(read(ready[0], &answer, 1), 1);
  EXPECT_EQ(answer, 'F');
  app::InstanceLock lock;
  alarm(20);  // an Acquire that blocks on the child's hold ends the run by signal
  EXPECT_TRUE(lock.Acquire());
  alarm(0);
  close(hold[1]);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  close(ready[0]);
  // Our shared hold stays ours; alone now, a fresh try reports nobody else.
  EXPECT_FALSE(lock.Acquire());
}

TEST_F(PosixPlatform, LockDescriptorIsNotInheritedByPrograms) {
  app::InstanceLock lock;
  ASSERT_FALSE(lock.Acquire());
  std::string lockPath = fs::canonical(Folder() + "/Exedeploy.lock");
  int found = 0;
  for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
    std::error_code ec;
    fs::path target = fs::read_symlink(entry.path(), ec);
    if (ec || target != lockPath) continue;
    ++found;
    int fd = std::stoi(entry.path().filename().string());
    EXPECT_TRUE(fcntl(fd, F_GETFD) & FD_CLOEXEC);
  }
  EXPECT_EQ(found, 1);
}

TEST_F(PosixPlatform, LockWithoutUsableFolderCountsAsAlone) {
  ASSERT_EQ(mkdir(Folder().c_str(), 0777), 0);
  ASSERT_EQ(chmod(Folder().c_str(), 0777), 0);
  app::InstanceLock lock;
  EXPECT_FALSE(lock.Acquire());
  EXPECT_FALSE(fs::exists(Folder() + "/Exedeploy.lock"));
}

// ---- server records -------------------------------------------------------------------

// A process identifier that no process carries any more: a reaped child's.
uint32_t DeadPid() {
  pid_t child = fork();
  if (child == 0) _exit(0);
  waitpid(child, nullptr, 0);
  return static_cast<uint32_t>(child);
}

TEST_F(PosixPlatform, RecordWrittenFoundAndRemoved) {
  app::ContentId = 3735928559u;
  app::ContentBaseUrl = u"http://127.0.0.1:49152/r1/";
  app::RegisterServer();
  std::string path = Records() + "/3735928559";
  EXPECT_EQ(ReadText(path), std::to_string(getpid()) + "\nhttp://127.0.0.1:49152/r1/\n");
  struct stat info;
  ASSERT_EQ(stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  EXPECT_EQ(std::distance(fs::directory_iterator(Records()), fs::directory_iterator()), 1)
      << "the file written aside is left behind";

  app::ContentBaseUrl.clear();
  EXPECT_TRUE(app::FindRunningServer());
  EXPECT_EQ(app::ContentBaseUrl, u"http://127.0.0.1:49152/r1/");

  app::ContentId = 12;  // another content: not ours, and kept
  app::ContentBaseUrl = u"unchanged";
  EXPECT_FALSE(app::FindRunningServer());
  EXPECT_EQ(app::ContentBaseUrl, u"unchanged");
  EXPECT_TRUE(fs::exists(path));

  app::ContentId = 3735928559u;
  app::UnregisterServer();
  EXPECT_FALSE(fs::exists(path));
  EXPECT_FALSE(app::FindRunningServer());
}

TEST_F(PosixPlatform, RecordReplacedAndNotWrittenWithoutContentId) {
  ASSERT_FALSE(app::RuntimeSubfolder("DeployedServers").empty());
  app::ContentBaseUrl = u"http://127.0.0.1:1/x/";
  app::RegisterServer();  // ContentId 0 names no content
  EXPECT_TRUE(fs::is_empty(Records()));

  app::ContentId = 77;
  WriteText(Records() + "/77", std::to_string(DeadPid()) + "\nhttp://old/\n");
  app::ContentBaseUrl = u"http://127.0.0.1:2/\u00e9/";  // non-ASCII kept as UTF-8
  app::RegisterServer();
  EXPECT_EQ(ReadText(Records() + "/77"),
            std::to_string(getpid()) + "\nhttp://127.0.0.1:2/\xc3\xa9/\n");
  app::ContentBaseUrl.clear();
  EXPECT_TRUE(app::FindRunningServer());
  EXPECT_EQ(app::ContentBaseUrl, u"http://127.0.0.1:2/\u00e9/");
}

TEST_F(PosixPlatform, StaleRecordsRemovedLiveOnesKept) {
  ASSERT_FALSE(app::RuntimeSubfolder("DeployedServers").empty());
  uint32_t dead = DeadPid();
  std::string live = std::to_string(getppid());
  WriteText(Records() + "/100", std::to_string(dead) + "\nhttp://a/\n");  // ours, gone
  WriteText(Records() + "/200", std::to_string(dead) + "\nhttp://b/\n");  // other, gone
  WriteText(Records() + "/300", live + "\nhttp://c/\n");                  // other, alive
  // A number beyond pid_t's range is no process, whatever process group it mirrors.
  uint32_t negativeGroup = 0u - static_cast<uint32_t>(getpgrp());
  WriteText(Records() + "/400", std::to_string(negativeGroup) + "\nhttp://d/\n");

  app::ContentId = 100;
  app::ContentBaseUrl = u"mine";
  EXPECT_FALSE(app::FindRunningServer());
  EXPECT_EQ(app::ContentBaseUrl, u"mine");
  EXPECT_FALSE(fs::exists(Records() + "/100"));
  EXPECT_FALSE(fs::exists(Records() + "/200"));
  EXPECT_FALSE(fs::exists(Records() + "/400"));
  EXPECT_TRUE(fs::exists(Records() + "/300"));

  app::ContentId = 300;
  EXPECT_TRUE(app::FindRunningServer());
  EXPECT_EQ(app::ContentBaseUrl, u"http://c/");
}

TEST_F(PosixPlatform, FilesThatAreNoRecordsLeftAlone) {
  ASSERT_FALSE(app::RuntimeSubfolder("DeployedServers").empty());
  std::string dead = std::to_string(DeadPid());
  const char* names[] = {"notes.txt", ".hidden", "0", "4294967295", "12345678901", "-"};
  for (const char* name : names) WriteText(Records() + "/" + name, dead + "\nhttp://x/\n");
  WriteText(Records() + "/500", dead + "\n");                                  // no URL
  WriteText(Records() + "/501", dead + "\n\n");                                // empty URL
  WriteText(Records() + "/502", "");                                           // empty
  WriteText(Records() + "/503", "0\nhttp://x/\n");                             // no process
  WriteText(Records() + "/504", dead + "\n" + std::string(5000, 'u') + "\n");  // too large
  ASSERT_EQ(mkdir((Records() + "/505").c_str(), 0700), 0);

  app::ContentId = 500;
  EXPECT_FALSE(app::FindRunningServer());
  for (const char* name : names) EXPECT_TRUE(fs::exists(Records() + "/" + name)) << name;
  for (int id = 500; id <= 505; ++id)
    EXPECT_TRUE(fs::exists(Records() + "/" + std::to_string(id))) << id;
}

TEST_F(PosixPlatform, FifoInRecordsFolderDoesNotHangTheWalk) {
  ASSERT_FALSE(app::RuntimeSubfolder("DeployedServers").empty());
  ASSERT_EQ(mkfifo((Records() + "/600").c_str(), 0600), 0);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    alarm(10);  // a walk stuck in open() ends the child by signal
    app::ContentId = 600;
    _exit(app::FindRunningServer() ? 1 : 0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_TRUE(fs::exists(Records() + "/600"));
}

TEST_F(PosixPlatform, ClearRemovesEveryRecord) {
  ASSERT_FALSE(app::RuntimeSubfolder("DeployedServers").empty());
  WriteText(Records() + "/1", std::to_string(getpid()) + "\nhttp://a/\n");
  WriteText(Records() + "/2", std::to_string(DeadPid()) + "\nhttp://b/\n");
  app::ClearDeployedServers();
  EXPECT_TRUE(fs::is_empty(Records()));
  app::ContentId = 1;
  EXPECT_FALSE(app::FindRunningServer());
}

TEST_F(PosixPlatform, RecordsIgnoredInFolderOthersMayWrite) {
  ASSERT_FALSE(app::RuntimeSubfolder("DeployedServers").empty());
  WriteText(Records() + "/9", std::to_string(getpid()) + "\nhttp://evil/\n");
  ASSERT_EQ(chmod(Records().c_str(), 0777), 0);
  app::ContentId = 9;
  EXPECT_FALSE(app::FindRunningServer());
  app::ContentBaseUrl = u"http://mine/";
  app::RegisterServer();
  EXPECT_EQ(ReadText(Records() + "/9"), std::to_string(getpid()) + "\nhttp://evil/\n");
}

// ---- browser start ---------------------------------------------------------------------

// A stand-in browser: records its arguments, environment, signal state, session and
// descriptors, then waits for the test's go-ahead so that a runner that waited for its
// browser would be caught.
const char kProbeScript[] = R"(#!/bin/sh
out="$0.out"
printf '%s\n' "$@" > "$out.args"
printf '%s\n' "$CX_PROBE_ENV" > "$out.env"
grep -E '^Sig(Blk|Ign)' /proc/self/status > "$out.sig"
cut -d' ' -f6 /proc/$$/stat > "$out.sid"
/usr/bin/python3 -c '
import os
fds = []
for n in os.listdir("/proc/self/fd"):
    try:
        os.fstat(int(n))
        fds.append(int(n))
    except OSError:
        pass
print(" ".join(str(n) for n in sorted(fds)))' > "$out.fds"
i=0
while [ ! -e "$out.go" ] && [ $i -lt 100 ]; do sleep 0.1; i=$((i+1)); done
if [ -e "$out.go" ]; then echo ok > "$out.tmp"; else echo blocked > "$out.tmp"; fi
mv "$out.tmp" "$out.done"
)";

class BrowserStart : public PosixPlatform {
 protected:
  void SetUp() override {
    PosixPlatform::SetUp();
    fs::create_directory(root_ + "/bin");
    setenv("PATH", (root_ + "/bin:/usr/bin:/bin").c_str(), 1);
    setenv("CX_PROBE_ENV", "passed-on", 1);
    app::ContentBaseUrl = u"http://127.0.0.1:8080/run/";
  }

  std::string MakeProbe(const std::string& name) {
    std::string path = root_ + "/bin/" + name;
    WriteText(path, kProbeScript);
    fs::permissions(path, fs::perms::owner_all);
    return path;
  }

  struct Seen {
    std::string done, args, env, sig, sid, fds;
  };

  // Lets the probe finish and collects what it recorded.
  Seen Collect(const std::string& probe) {
    std::string out = probe + ".out";
    WriteText(out + ".go", "");
    for (int i = 0; i < 300 && !fs::exists(out + ".done"); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return {ReadText(out + ".done"), ReadText(out + ".args"), ReadText(out + ".env"),
            ReadText(out + ".sig"),  ReadText(out + ".sid"),  ReadText(out + ".fds")};
  }

  SavedEnv savedBrowser_{"BROWSER"};
  SavedEnv savedPath_{"PATH"};
  SavedEnv savedProbe_{"CX_PROBE_ENV"};
};

TEST_F(BrowserStart, DetachedCleanAndNotWaitedFor) {
  std::string probe = MakeProbe("probe");
  setenv("BROWSER", probe.c_str(), 1);

  // The runner's state while it serves: SIGPIPE ignored, stop signals blocked, and
  // descriptors without close-on-exec, one of them above a since lowered limit.
  int marker = open((root_ + "/marker").c_str(), O_CREAT | O_RDWR, 0600);
  ASSERT_GE(marker, 0);
  ASSERT_EQ(dup2(marker, 40), 40);
  ASSERT_EQ(dup2(marker, 900), 900);
  rlimit saved;
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
  rlimit lowered = saved;
  lowered.rlim_cur = 512;
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
  close(900);
  close(40);
  close(marker);

  ASSERT_TRUE(launched);
  Seen seen = Collect(probe);
  EXPECT_EQ(seen.done, "ok\n") << "the runner waited for its browser";
  EXPECT_EQ(seen.args, "http://127.0.0.1:8080/run/index.html?page=2&x=%41\n");
  EXPECT_EQ(seen.env, "passed-on\n");
  EXPECT_EQ(seen.fds, "0 1 2\n");
  EXPECT_NE(seen.sig.find("SigBlk:\t0000000000000000"), std::string::npos) << seen.sig;
  size_t ign = seen.sig.find("SigIgn:\t");
  ASSERT_NE(ign, std::string::npos);
  uint64_t ignored = std::stoull(seen.sig.substr(ign + 8, 16), nullptr, 16);
  EXPECT_EQ(ignored & (1ull << (SIGPIPE - 1)), 0u) << seen.sig;
  EXPECT_NE(std::stol(seen.sid), static_cast<long>(getsid(0))) << "not in a session of its own";
}

TEST_F(BrowserStart, FirstCommandThatStartsIsUsedWithUrlSubstituted) {
  std::string first = MakeProbe("first");
  std::string second = MakeProbe("second");
  setenv("BROWSER",
         ("/nonexistent/browser --x:" + first + " --new-tab 'open=%s' %s:" + second).c_str(), 1);
  ASSERT_TRUE(app::LaunchBrowser(u"", false));
  Seen seen = Collect(first);
  EXPECT_EQ(seen.done, "ok\n");
  EXPECT_EQ(seen.args,
            "--new-tab\nopen=http://127.0.0.1:8080/run/index.html\n"
            "http://127.0.0.1:8080/run/index.html\n");
  EXPECT_FALSE(fs::exists(second + ".out.args")) << "more than one browser started";
}

TEST_F(BrowserStart, UrlAppendedWhenCommandHasNoPlaceholder) {
  std::string probe = MakeProbe("probe");
  setenv("BROWSER", (probe + " --private").c_str(), 1);
  ASSERT_TRUE(app::LaunchBrowser(u"#top", false));
  EXPECT_EQ(Collect(probe).args, "--private\nhttp://127.0.0.1:8080/run/index.html#top\n");
}

TEST_F(BrowserStart, DesktopOpenerWhenBrowserVariableFails) {
  std::string opener = MakeProbe("xdg-open");
  for (const char* variable : {static_cast<const char*>(nullptr), "", "/nonexistent/a:/dev/null"}) {
    variable ? setenv("BROWSER", variable, 1) : unsetenv("BROWSER");
    fs::remove(opener + ".out.done");
    fs::remove(opener + ".out.go");
    fs::remove(opener + ".out.args");
    ASSERT_TRUE(app::LaunchBrowser(u"", false)) << (variable ? variable : "(unset)");
    Seen seen = Collect(opener);
    EXPECT_EQ(seen.done, "ok\n");
    EXPECT_EQ(seen.args, "http://127.0.0.1:8080/run/index.html\n");
  }
}

TEST_F(BrowserStart, NothingStartsIsReportedWhenNoTerminalShowsTheUrl) {
  setenv("BROWSER", "/nonexistent/browser", 1);
  setenv("PATH", (root_ + "/bin").c_str(), 1);  // no xdg-open there
  int savedErr = dup(STDERR_FILENO);
  int devNull = open("/dev/null", O_WRONLY);
  ASSERT_GE(devNull, 0);
  dup2(devNull, STDERR_FILENO);
  bool launched = app::LaunchBrowser(u"", false);
  dup2(savedErr, STDERR_FILENO);
  close(savedErr);
  close(devNull);
  EXPECT_FALSE(launched);
}

}  // namespace
