// Helpers of the end-to-end tests that run the real programs: temporary folders, files,
// and child processes with their own environment and captured standard error.
#pragma once

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
// Writes dir/browser.sh, a stand-in browser that appends the URL it is handed to the file
// named by $CX_URLS; its path, to be given as $BROWSER (with " %s").
std::string UrlRecorder(const std::string& dir);

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

}  // namespace e2e
