// Helpers of the runner's end-to-end tests: temporary folders, child processes with
// their own environment and captured standard error, a minimal HTTP GET over loopback,
// and archives made with Python's zipfile.
#pragma once

#include "testing/utf16_text.h"

#include <sys/types.h>

#include <map>
#include <string>
#include <vector>

namespace e2e {

std::string BinaryDir();
std::string SourceDir();
std::string MakeTempDir();
void WriteFile(const std::string& path, const std::string& data);
std::string ReadFile(const std::string& path);
bool FileExists(const std::string& path);
std::vector<std::string> ListDir(const std::string& path);

struct Child {
  pid_t pid = -1;
  std::string stderrPath;
};

// Starts argv with the current environment plus env; standard error goes to a file.
Child Spawn(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
            const std::string& stderrPath);
// Waits at most seconds; the exit code (signals as 128 + n), or -1 on time-out.
int WaitExit(Child& child, double seconds);
// Runs to completion (at most seconds) and returns the exit code.
int Run(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
        double seconds, std::string* stderrText = nullptr);

// Polls until path exists with non-empty content (or seconds pass); its content.
std::string WaitForFile(const std::string& path, double seconds);

struct HttpReply {
  int status = 0;
  std::string headers;
  std::string body;
};
// GET of an http://localhost:<port>/... or http://127.0.0.1:... URL.
bool HttpGet(const std::string& url, HttpReply& reply);

// A ZIP made by Python's zipfile: entries name -> bytes (hex-free, raw).
void MakeZip(const std::string& path, const std::map<std::string, std::string>& entries);

using app::test::Utf16Le;

}  // namespace e2e
