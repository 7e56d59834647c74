// The pure part of request handling: completion of the header block, the request line,
// the resource path a request names, and the one parse of a request's header block.
#pragma once

#include <cstddef>
#include <string>

#include "httpserver/http_message.h"
#include "httpserver/request_framing.h"

namespace storage {

// Offset just past the first empty line in buffer (a line end, LF or CR LF, followed by
// another), searching from searchFrom (callers pass the previous length minus 3 so a
// growing buffer is scanned once); npos when the header block is not complete yet.
size_t FindHeaderEnd(const std::string& buffer, size_t searchFrom = 0);

enum class RequestVerdict {
  kServe,       // method and path are valid
  kBadRequest,  // no blank in the request, no end of the target, a broken escape: 400
  kNotAllowed,  // unknown method: 405 with the Allow line
  kRedirect,    // the run prefix without its closing '/': 301 to location
};

enum class RequestMethod { kGet, kHead, kPost };

struct RequestLine {
  RequestVerdict verdict = RequestVerdict::kBadRequest;
  RequestMethod method = RequestMethod::kGet;
  // Query dropped, percent-decoded, leading '/' and run prefix removed, "index.html"
  // added to a folder; not yet rewritten.
  std::string path;
  std::string location;  // kRedirect: where to
};

// Reads the method and the resource path from the start of a request. A path that
// starts with runPrefix ("1a2b/") loses it; any other path names an entry from the
// archive's root, so root-relative links ("/css/site.css") work. A path that is empty
// or ends in '/' names a folder and gets its "index.html" ("/" is the start page). The
// prefix without its '/' ("/1a2b") is redirected to "/1a2b/", its query kept.
RequestLine ParseRequestLine(const std::string& request, const std::string& runPrefix);

// One request, read in one pass over its header block: the line, the headers and the
// framing they give (where the request ends, whether the connection stays).
struct ParsedRequest {
  RequestLine line;     // the path already rewritten (RewriteWebAppPath)
  HttpMessage headers;  // the header lines of the block (not the body)
  RequestFrame frame;
  std::string body;  // what follows the block; for POST up to its first NUL byte

  // Takes the bytes behind the header block as the body (cut as said above).
  void SetBody(std::string bytes);
};

// Parses a request whose header block is complete (FindHeaderEnd found its end); what
// follows the block becomes the body.
ParsedRequest ParseRequest(const std::string& request, const std::string& runPrefix);

// The "_WA_/<segment>/" rewrite: "_WA_/abc/page.html" becomes "page.html"; any other path
// is returned unchanged.
std::string RewriteWebAppPath(const std::string& path);

// A "Host" value that names this machine by a loopback name: localhost, 127.0.0.1 or
// [::1], with or without ":port" (the name compared ignoring case). An empty value (no
// "Host" header) counts too: pages of other sites always name their host.
bool IsLoopbackHost(const std::string& host);

// An "Origin" value naming this server: "http://" + localhost, 127.0.0.1 or [::1] (the
// name ignoring case) + ":" + port (or no port when port is 80). "null" (a file:// page,
// a sandboxed frame) and every other origin are foreign.
bool IsOwnOrigin(const std::string& origin, unsigned port);

// True when an "Accept-Encoding" value admits gzip: "gzip", "x-gzip" or "*" among its
// codings (names ignoring case) with a weight other than q=0.
bool AcceptsGzip(const std::string& acceptEncoding);

// A value that may be copied into a response header: no CR, LF or NUL bytes.
bool IsSafeHeaderValue(const std::string& value);

}  // namespace storage
