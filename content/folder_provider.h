// HttpFolderProvider: serves the files of a folder on disk the way HttpZipProvider
// serves the entries of the packed archive: the author's live preview.
//
// A request path finds a file by the archive's own key rule (amzip::NormalizeEntryKey:
// '/' and '\' alike, letters matched ignoring case), one path segment at a time; an exact
// match on disk is taken first. Each request reads the file as it is on disk at that
// moment. Control entries (a name at the root starting with a dot) are not served, as the
// packed program does not serve them. Only what the packer would pack is served: nothing
// outside the folder (no ".."
// or "." segment, no drive or stream names, no link whose target lies outside it), only
// regular files.
//
// Files that the packer deflates (everything but media, see IsStoredExtension) and that
// are small enough are read whole and also offered as one gzip member, as the packed
// program offers its deflated entries; larger files and media are streamed from disk.
// Network thread only, like the server.
#pragma once

#include <filesystem>
#include <string>

#include "httpserver/http_stream_provider.h"

namespace storage {

class HttpFolderProvider : public HttpStreamProviderI {
 public:
  // Files up to this size that the packer would deflate get a gzip form.
  static constexpr uint64_t kMaxGzipSize = 8ull << 20;

  explicit HttpFolderProvider(std::filesystem::path root);

  // 404 for a path that names no servable file; 500 with "Content-Length: 0" when the
  // file cannot be read; otherwise 200 with its stream, "Content-Type" (from the path's
  // extension), "Content-Length" and "Last-Modified".
  ProviderReply Open(const std::string& path) override;

  // The file a request path (percent-decoded, no leading '/', as the server hands it
  // over) names inside the folder, or an empty path when it names none or one that is
  // refused.
  std::filesystem::path Resolve(const std::string& path) const;

  // Whether file, after following every link, is root or lies below it (root resolved the
  // same way). The one containment rule of the preview and the packer; what cannot be
  // resolved (missing, a link loop, no permission) is outside.
  static bool IsInside(const std::filesystem::path& root, const std::filesystem::path& file);
  // The same over paths already resolved (std::filesystem::canonical): compares whole
  // components, so "/site-old" is not inside "/site".
  static bool IsWithin(const std::filesystem::path& canonicalRoot,
                       const std::filesystem::path& canonicalFile);

  const std::filesystem::path& Root() const { return root_; }

 private:
  std::filesystem::path root_;
};

}  // namespace storage
