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
// InflatedCache. The entry is looked up once per request. Network thread only, like
// the server.
#pragma once

#include <string>
#include <unordered_map>
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

  // 404 for an unknown name (or a folder's own record); 500 with "Content-Length: 0"
  // for an entry whose data cannot be read (the first entry refused because the
  // archive's file changed since it was opened also writes a line for the author on
  // stderr); otherwise 200 with the entry's stream, "Content-Type" (from the path's
  // extension), "Content-Length" and "Last-Modified"; a deflated entry also gets its
  // gzip form, a stored entry of an archive in a file its file body.
  ProviderReply Open(const std::string& path) override;
  // Posted data is not kept: an empty pointer, status untouched.
  utils::SharedPtr<utils::ReadStreamI> PostStream(const std::string& path, const std::string& body,
                                                  int32_t& status,
                                                  const std::u16string& contentTypeLine) override;

  // The entry names a request path may stand for, most likely first.
  static std::vector<std::u16string> CandidateNames(const std::string& path);

 private:
  // What a request path resolved to, kept so the next request of the same path (a page
  // reloaded, assets on a kept-alive connection) skips the name conversions, the lookup
  // and the formatting of the entry's headers. entry null: no such entry (404).
  struct Resolved {
    const amzip::Entry* entry = nullptr;
    std::string contentType;
    std::string contentLength;
    std::string lastModified;  // empty: the entry has no date
    std::u16string streamName;
    std::u16string cacheKey;   // empty unless the entry is kept inflated
  };

  utils::SharedPtr<amzip::Archive> Archive() const;
  // The entry of the first candidate name the archive knows, or null.
  const amzip::Entry* Resolve(const amzip::Archive& archive, const std::string& path) const;
  // A deflated entry as a gzip member over its raw data; empty otherwise (stored or
  // encrypted entries, or data the archive refuses).
  static utils::SharedPtr<utils::ReadStreamI> OpenGzipForm(amzip::Archive& archive,
                                                           const amzip::Entry& entry,
                                                           const std::u16string& streamName);
  // The stream of one entry's bytes; empty when they cannot be read whole.
  utils::SharedPtr<utils::ReadStreamI> OpenEntry(amzip::Archive& archive, const Resolved& resolved);

  static std::u16string CacheKey(const amzip::Archive& archive, const amzip::Entry& entry);

  static constexpr size_t kMaxResolved = 4096;  // past it the table starts afresh
  const Resolved& Lookup(const utils::SharedPtr<amzip::Archive>& archive, const std::string& path);

  utils::SharedPtr<amzip::Archive> archive_;
  // Resolved paths of resolvedFor_, which the table keeps alive so that its entries stay
  // valid and another archive at the same address cannot be taken for it.
  utils::SharedPtr<amzip::Archive> resolvedFor_;
  uint64_t resolvedGeneration_ = 0;
  std::unordered_map<std::string, Resolved> resolved_;
  InflatedCache inflated_;
  bool warnedChanged_ = false;  // the author was told once that the archive changed
};

}  // namespace storage
