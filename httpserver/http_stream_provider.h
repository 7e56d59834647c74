// storage::HttpStreamProviderI: where the server's content comes from.
//
// The server calls a provider on its network thread only, one request at a time. Paths
// arrive percent-decoded, without query, leading '/' or run prefix; a path naming a
// folder already ends in "index.html".
#pragma once

#include <cstdint>
#include <string>

#include "httpserver/http_message.h"
#include "utils/read_stream.h"
#include "utils/shared_ptr.h"

namespace storage {

// A provider's answer for one path.
struct ProviderReply {
  // Status, reason and headers: "Content-Type" always for a stream, and whatever else
  // the content knows ("Content-Length", "Last-Modified", ...). The server adds its own
  // (caching, ranges, cross-origin) and corrects "Content-Length" to what it sends.
  HttpMessage head;
  // The data. Served only with status 200; otherwise, or when empty, the server answers
  // with the status line and head's headers alone (a provider that refuses gives them
  // "Content-Length: 0" so the answer is complete as sent).
  utils::SharedPtr<utils::ReadStreamI> stream;
  // Optional, with stream: the same content as one gzip member (a stored entry's raw
  // deflate data wrapped, not compressed again). The server sends it instead, with
  // "Content-Encoding: gzip", to a client that accepts gzip and asks for no range.
  utils::SharedPtr<utils::ReadStreamI> gzipStream;
};

class HttpStreamProviderI {
 public:
  virtual ~HttpStreamProviderI() = default;
  // Opens path for GET and HEAD alike (HEAD sends the same head without the body). The
  // stream is read only after Open returned, as the socket drains.
  virtual ProviderReply Open(const std::string& path) = 0;
  // Posted data. This default answers nothing: status 200, empty pointer.
  virtual utils::SharedPtr<utils::ReadStreamI> PostStream(const std::string& path,
                                                          const std::string& body, int32_t& status,
                                                          const std::u16string& contentTypeLine) {
    status = 200;
    return utils::SharedPtr<utils::ReadStreamI>();
  }
};

}  // namespace storage
