#include "testing/runner_e2e.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace e2e {

namespace fs = std::filesystem;

std::string BinaryDir() {
  const char* dir = std::getenv("CX_BINARY_DIR");
  return dir ? dir : "build";
}

std::string SourceDir() {
  const char* dir = std::getenv("CX_SOURCE_DIR");
  return dir ? dir : ".";
}

std::string MakeTempDir() {
  char pattern[] = "/tmp/cx-e2e.XXXXXX";
  char* dir = mkdtemp(pattern);
  return dir ? dir : "";
}

void WriteFile(const std::string& path, const std::string& data) {
  std::ofstream(path, std::ios::binary) << data;
}

std::string ReadFile(const std::string& path) {
  std::stringstream text;
  text << std::ifstream(path, std::ios::binary).rdbuf();
  return text.str();
}

bool FileExists(const std::string& path) { return fs::exists(path); }

std::string UrlRecorder(const std::string& dir) {
  const std::string path = dir + "/browser.sh";
  WriteFile(path, "#!/bin/sh\nprintf '%s\\n' \"$1\" >> \"$CX_URLS\"\n");
  fs::permissions(path, fs::perms::owner_all);
  return path;
}

Child Spawn(const std::vector<std::string>& argv, const Env& env, const std::string& stderrPath) {
  pid_t pid = fork();
  if (pid == 0) {
    for (const auto& [name, value] : env) {
      value.empty() ? unsetenv(name.c_str()) : setenv(name.c_str(), value.c_str(), 1);
    }
    int err = open(stderrPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (err >= 0) dup2(err, 2);
    int null = open("/dev/null", O_RDWR);
    if (null >= 0) dup2(null, 0), dup2(null, 1);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(126);
  }
  return {pid};
}

int WaitExit(Child& child, double seconds) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (child.pid > 0) {
    int status = 0;
    if (waitpid(child.pid, &status, WNOHANG) == child.pid) {
      child.pid = -1;
      return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    if (std::chrono::steady_clock::now() > deadline) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return -1;
}

int Run(const std::vector<std::string>& argv, const Env& env, double seconds,
        std::string* stderrText) {
  std::string dir = MakeTempDir();
  Child child = Spawn(argv, env, dir + "/stderr");
  int code = WaitExit(child, seconds);
  if (code == -1) kill(child.pid, SIGKILL), WaitExit(child, 5);
  if (stderrText) *stderrText = ReadFile(dir + "/stderr");
  fs::remove_all(dir);
  return code;
}

std::string WaitForFile(const std::string& path, double seconds) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  for (;;) {
    std::string text = ReadFile(path);
    if (!text.empty() || std::chrono::steady_clock::now() > deadline) return text;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

}  // namespace e2e
