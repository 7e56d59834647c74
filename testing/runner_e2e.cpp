#include "testing/runner_e2e.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace e2e {

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
  std::ofstream out(path, std::ios::binary);
  out << data;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

bool FileExists(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0;
}

std::vector<std::string> ListDir(const std::string& path) {
  std::vector<std::string> names;
  if (DIR* dir = opendir(path.c_str())) {
    while (dirent* entry = readdir(dir)) {
      std::string name = entry->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    closedir(dir);
  }
  return names;
}

Child Spawn(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
            const std::string& stderrPath) {
  Child child;
  child.stderrPath = stderrPath;
  pid_t pid = fork();
  if (pid == 0) {
    for (const auto& [name, value] : env) {
      if (value.empty()) {
        unsetenv(name.c_str());
      } else {
        setenv(name.c_str(), value.c_str(), 1);
      }
    }
    int err = open(stderrPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (err >= 0) dup2(err, 2);
    int null = open("/dev/null", O_RDWR);
    if (null >= 0) {
      dup2(null, 0);
      dup2(null, 1);
    }
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(126);
  }
  child.pid = pid;
  return child;
}

int WaitExit(Child& child, double seconds) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (child.pid > 0) {
    int status = 0;
    pid_t done = waitpid(child.pid, &status, WNOHANG);
    if (done == child.pid) {
      child.pid = -1;
      if (WIFEXITED(status)) return WEXITSTATUS(status);
      return 128 + WTERMSIG(status);
    }
    if (std::chrono::steady_clock::now() > deadline) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return -1;
}

int Run(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
        double seconds, std::string* stderrText) {
  std::string errPath = MakeTempDir() + "/stderr";
  Child child = Spawn(argv, env, errPath);
  int code = WaitExit(child, seconds);
  if (code == -1) {
    kill(child.pid, SIGKILL);
    WaitExit(child, 5);
  }
  if (stderrText) *stderrText = ReadFile(errPath);
  std::filesystem::remove_all(std::filesystem::path(errPath).parent_path());
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
  const std::string scheme = "http://";
  if (url.compare(0, scheme.size(), scheme) != 0) return false;
  size_t hostEnd = url.find('/', scheme.size());
  std::string hostPort = url.substr(scheme.size(), hostEnd - scheme.size());
  std::string path = hostEnd == std::string::npos ? "/" : url.substr(hostEnd);
  size_t colon = hostPort.find(':');
  if (colon == std::string::npos) return false;
  int port = std::atoi(hostPort.c_str() + colon + 1);
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return false;
  timeval timeout = {10, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    return false;
  }
  std::string request =
      "GET " + path + " HTTP/1.1\r\nHost: " + hostPort + "\r\nConnection: close\r\n\r\n";
  send(fd, request.data(), request.size(), MSG_NOSIGNAL);
  std::string response;
  char buffer[65536];
  ssize_t n;
  while ((n = recv(fd, buffer, sizeof buffer, 0)) > 0) response.append(buffer, n);
  close(fd);
  size_t headerEnd = response.find("\r\n\r\n");
  if (headerEnd == std::string::npos || response.compare(0, 9, "HTTP/1.1 ") != 0) return false;
  reply.status = std::atoi(response.c_str() + 9);
  reply.headers = response.substr(0, headerEnd);
  reply.body = response.substr(headerEnd + 4);
  return true;
}

void MakeZip(const std::string& path, const std::map<std::string, std::string>& entries) {
  // Each entry's bytes go through a file, so any byte survives the trip to Python.
  std::string dir = MakeTempDir();
  std::string script =
      "import sys, zipfile\nz = zipfile.ZipFile(sys.argv[1], 'w', "
      "zipfile.ZIP_DEFLATED)\n";
  int i = 0;
  for (const auto& [name, data] : entries) {
    std::string file = dir + "/" + std::to_string(i++);
    WriteFile(file, data);
    script += "z.write(" + std::string("'") + file + "', '" + name + "')\n";
  }
  script += "z.close()\n";
  WriteFile(dir + "/make.py", script);
  Run({"/usr/bin/env", "python3", dir + "/make.py", path}, {}, 60);
  std::filesystem::remove_all(dir);
}

}  // namespace e2e
