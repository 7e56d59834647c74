// HttpZipProvider: serves the entries of a ZIP archive to the HTTP server.
//
// Paths are looked up as entry names (case, '/' versus '\' and repeated separators do
// not matter). A path whose bytes are UTF-8 finds the entry with those characters,
// whether the archive recorded the name as UTF-8 or in the legacy code page; other
// bytes are read in the ANSI code page.
//
// Streams read the entry itself, whatever the archive's source (the mapped program file,
// a file named on the command line): stored entries straight from the archive, deflated
// ones inflated as they are read, small deflated ones inflated once and kept in an
// InflatedCache. An entry whose local header does not check out gets status 500 and no
// stream. Network thread only, like the server.
#pragma once

#include <string>
#include <vector>

#include "content/inflated_cache.h"
#include "httpserver/http_stream_provider.h"
#include "utils/shared_ptr.h"
#include "zip/archive.h"

namespace storage {

class HttpZipProvider : public HttpStreamProviderI {
 public:
  // An empty archive pointer stands for the process-wide archive object.
  explicit HttpZipProvider(utils::SharedPtr<amzip::Archive> archive = {})
      : archive_(std::move(archive)) {}

  utils::SharedPtr<utils::ReadStreamI> GetStream(const std::string& path, int32_t& status,
                                                 HttpMessage& streamHeaders) override;
  // 404 for an unknown name; otherwise "Content-Length" and "Last-Modified" and 200.
  int32_t GetInfo(const std::string& path, HttpMessage& response) override;
  // Posted data is not kept: an empty pointer, status untouched.
  utils::SharedPtr<utils::ReadStreamI> PostStream(const std::string& path, const std::string& body,
                                                  int32_t& status,
                                                  const std::u16string& contentTypeLine) override;

  // The entry names a request path may stand for, most likely first.
  static std::vector<std::u16string> CandidateNames(const std::string& path);

 private:
  utils::SharedPtr<amzip::Archive> Archive() const;
  // The first candidate name the archive knows, or an empty text.
  std::u16string Resolve(const amzip::Archive& archive, const std::string& path) const;

  static std::u16string CacheKey(const amzip::Archive& archive, const amzip::Entry& entry);

  utils::SharedPtr<amzip::Archive> archive_;
  InflatedCache inflated_;
};

}  // namespace storage
