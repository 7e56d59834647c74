#include "testing/runner_e2e.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
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

std::vector<std::string> ListDir(const std::string& path) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(path, ec)) {
    names.push_back(entry.path().filename());
  }
  return names;
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

bool HttpGet(const std::string& url, HttpReply& reply) {
  size_t colon = url.find(':', 7), slash = url.find('/', 7);
  if (url.compare(0, 7, "http://") != 0 || slash == std::string::npos || colon > slash) {
    return false;
  }
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return false;
  timeval timeout = {10, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(std::atoi(url.c_str() + colon + 1)));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::string response;
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
    std::string request = "GET " + url.substr(slash) +
                          " HTTP/1.1\r\nHost: " + url.substr(7, slash - 7) +
                          "\r\nConnection: close\r\n\r\n";
    send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    char buffer[65536];
    for (ssize_t n; (n = recv(fd, buffer, sizeof buffer, 0)) > 0;) response.append(buffer, n);
  }
  close(fd);
  size_t headerEnd = response.find("\r\n\r\n");
  if (headerEnd == std::string::npos || response.compare(0, 9, "HTTP/1.1 ") != 0) return false;
  reply.status = std::atoi(response.c_str() + 9);
  reply.body = response.substr(headerEnd + 4);
  return true;
}

void MakeZip(const std::string& path, const Env& entries) {
  // Each entry's bytes go through a file, so any byte survives the trip to Python.
  std::string dir = MakeTempDir();
  std::string script =
      "import sys, zipfile\nz = zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED)\n";
  int i = 0;
  for (const auto& [name, data] : entries) {
    std::string file = dir + "/" + std::to_string(i++);
    WriteFile(file, data);
    script += "z.write('" + file + "', '" + name + "')\n";
  }
  WriteFile(dir + "/make.py", script + "z.close()\n");
  Run({"/usr/bin/env", "python3", dir + "/make.py", path}, {}, 60);
  fs::remove_all(dir);
}

}  // namespace e2e
