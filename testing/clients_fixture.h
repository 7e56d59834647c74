// Helpers of the tests that drive the server with real clients (curl, headless Chromium,
// the runner): shell commands, parsed replies, and a content archive made by Info-ZIP's
// `zip` served by a real server.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "content/http_zip_provider.h"
#include "httpserver/http_server.h"
#include "testing/runner_e2e.h"
#include "zip/archive.h"

namespace storage::clients {

using ::e2e::MakeTempDir;
using ::e2e::ReadFile;
using ::e2e::SourceDir;
void RemoveTree(const std::string& path);
// Writes the file, making its folders first.
void WriteFile(const std::string& path, const std::string& data);
bool HaveCommand(const std::string& name);
// Runs a shell command; its standard output. exitCode gets the exit status (-1 when
// it did not end normally).
std::string Shell(const std::string& command, int* exitCode = nullptr);
std::string Quote(const std::string& text);

// Script-like text that deflates well, no two lines alike.
std::string ScriptText(size_t size);

struct Reply {
  int status = 0;
  std::string reason;
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;

  // The value of the first header of that name (case ignored), or "<absent>".
  std::string Value(const std::string& name) const;
};
// Status line and header lines, as curl's --dump-header writes them. When the text holds
// several header blocks (redirects, 100-continue), the last one counts.
Reply ParseHead(const std::string& text);

// A folder of content zipped by `zip` (".bin" and ".webm" stored, the rest deflated),
// opened from memory like the runner's appended archive, and served by a server on a
// free loopback port under the path prefix "c0ffee/".
class ServedContent {
 public:
  // entries: name -> bytes. Fails the calling test (and leaves Ok() false) when `zip`
  // fails or the archive cannot be opened.
  explicit ServedContent(const std::map<std::string, std::string>& entries);
  // The same archive read from its file (stored entries then lie in that file, as the
  // runner's own do), with one byte in the middle of corruptEntry's data flipped (none
  // when empty).
  struct FromFile {
    std::string corruptEntry;
    size_t turnBytes = 0;  // the server's send budget per event, when not 0
  };
  ServedContent(const std::map<std::string, std::string>& entries, const FromFile& file);
  ~ServedContent();

  bool Ok() const { return ok_; }
  uint16_t Port() const { return port_; }
  const std::string& Prefix() const { return prefix_; }
  // http://127.0.0.1:<port>/c0ffee/<name>
  std::string Url(const std::string& name) const;
  const std::string& Entry(const std::string& name) const { return entries_.at(name); }

 private:
  std::map<std::string, std::string> entries_;
  std::string dir_, prefix_ = "c0ffee/", zipBytes_;
  utils::SharedPtr<amzip::Archive> archive_;
  std::unique_ptr<HttpZipProvider> provider_;
  std::unique_ptr<HttpServer> server_;
  uint16_t port_ = 0;
  bool ok_ = false;

  ServedContent(const std::map<std::string, std::string>& entries,
                const std::optional<FromFile>& file);
};

}  // namespace storage::clients
