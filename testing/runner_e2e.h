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

using Env = std::map<std::string, std::string>;

std::string BinaryDir();  // $CX_BINARY_DIR
std::string SourceDir();  // $CX_SOURCE_DIR
std::string MakeTempDir();
void WriteFile(const std::string& path, const std::string& data);
std::string ReadFile(const std::string& path);
bool FileExists(const std::string& path);
std::vector<std::string> ListDir(const std::string& path);

struct Child {
  pid_t pid = -1;
};
// Starts argv with the current environment plus env (an empty value unsets the
// variable); standard error goes to stderrPath.
Child Spawn(const std::vector<std::string>& argv, const Env& env, const std::string& stderrPath);
// Waits at most seconds; the exit code (signals as 128 + n), or -1 on time-out.
int WaitExit(Child& child, double seconds);
// Runs to completion (killed after seconds) and returns the exit code.
int Run(const std::vector<std::string>& argv, const Env& env, double seconds,
        std::string* stderrText = nullptr);
// Polls until path has content (or seconds pass); its content.
std::string WaitForFile(const std::string& path, double seconds);

struct HttpReply {
  int status = 0;
  std::string body;
};
// GET of an http://localhost:<port>/... URL; false when no HTTP/1.1 answer came.
bool HttpGet(const std::string& url, HttpReply& reply);

// A ZIP of entries (name -> raw bytes) made by Python's zipfile.
void MakeZip(const std::string& path, const Env& entries);

using app::test::Utf16Le;

}  // namespace e2e
