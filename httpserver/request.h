// The pure part of request handling: completion of the header block, the request line,
// the resource path a request names, and the body it carries.
#pragma once

#include <cstddef>
#include <string>

namespace storage {

// Offset just past the first "\r\n\r\n" in buffer, searching from searchFrom (callers
// pass the previous length minus 3 so a growing buffer is scanned once); npos when the
// header block is not complete yet.
size_t FindHeaderEnd(const std::string& buffer, size_t searchFrom = 0);

enum class RequestVerdict {
  kServe,       // method and path are valid
  kBadRequest,  // no blank in the request: 400
  kNotAllowed,  // unknown method: 405 with the Allow line
  kNoResponse,  // no end of the target, or a path shorter than the run prefix
};

enum class RequestMethod { kGet, kHead, kPost };

struct RequestLine {
  RequestVerdict verdict = RequestVerdict::kNoResponse;
  RequestMethod method = RequestMethod::kGet;
  // Query dropped, percent-decoded, leading '/' and run prefix removed; not yet rewritten.
  std::string path;
};

// Reads the method and the resource path from the start of a request. The run prefix is
// removed by its length only, without comparing it.
RequestLine ParseRequestLine(const std::string& request, size_t runPrefixLength);

// The "_WA_/<segment>/" rewrite: "_WA_/abc/page.html" becomes "page.html"; any other path
// is returned unchanged.
std::string RewriteWebAppPath(const std::string& path);

// The text after the first "\r\n\r\n" (empty when there is none), cut at its first NUL
// byte when forPost is set.
std::string RequestBody(const std::string& request, bool forPost);

// A value that may be copied into a response header: no CR, LF or NUL bytes.
bool IsSafeHeaderValue(const std::string& value);

}  // namespace storage
