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

// A reply's body whose bytes lie in an open file, so the server can have the system send
// them from the file (sendfile) instead of copying them through the process. It speaks
// for the reply's stream at that stream's current position; the server seeks the stream
// past what it sent.
class FileBodyI {
 public:
  virtual ~FileBodyI() = default;
  // The bytes from the stream's position on that may go out now: the file (a descriptor
  // on POSIX, a HANDLE on Windows), their offset in it and how many. Only bytes the
  // stream vouches for count (a stored entry's are checked against its CRC-32 ahead of
  // the send, the last ones only once it held). count 0: nothing more may be sent, and a
  // response still short of its length ends there.
  virtual void Next(uintptr_t& file, uint64_t& offset, uint64_t& count) = 0;
};

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
  // Optional, with stream: where stream's bytes lie in a file (a stored entry). Used
  // for stream only, never for gzipStream.
  utils::SharedPtr<FileBodyI> fileBody;
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
