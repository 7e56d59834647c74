// The pure part of answering a request: the short status response, byte ranges, the
// entity tag, and the choice of headers for a full response. Nothing here touches a
// socket or a stream; the connection feeds in sizes and sends out the results.
#pragma once

#include <cstdint>
#include <string>

#include "httpserver/http_message.h"

namespace storage {

// "HTTP/1.1 <code>\r\n" + extra + "\r\n"; extra holds complete header lines.
std::string StatusResponse(int code, const std::string& extra = std::string());

// The first range of a "bytes=" value against an entry of size bytes (size > 0), read
// the way the C runtime's decimal conversion reads numbers. A missing end means the last
// byte ("bytes=0-0" is byte 0 alone); end is capped at size - 1.
struct ByteRange {
  int64_t start = 0;
  int64_t end = 0;
};
ByteRange EvaluateRange(const std::string& rangeValue, uint64_t size);

// The entity tag derived from a "Last-Modified" text (every other character, blanks
// skipped, each as "%X" of its signed code); a fixed tag when the text is empty.
std::string ComputeETag(const std::string& lastModified);

// A "Range" value of at least 7 characters that begins with "bytes=".
bool IsRangedRequest(const HttpMessage& request);

// Whether a response that has a gzip form goes out in it: the client accepts gzip, asks
// for no range (ranges count in the entry's own bytes) and the content is not media.
bool ChooseGzip(const HttpMessage& request, const std::string& contentType);

// "video/..." or "audio/..." (case ignored).
bool IsMediaType(const std::string& contentType);
bool IsNavigationType(const std::string& contentType);

struct ServeOptions {
  int64_t maxAge = 5;  // seconds of the "max-age=" directive
  HttpTime now;        // for "Date"
  unsigned port = 0;   // the server's port: its own origins may read across origins
  bool crossOriginAny = false;  // every origin may (the author's or the user's choice)
};

// What the connection does after PrepareServe.
struct ServePlan {
  // When set, statusText is the whole answer (a refused range) and nothing else is sent.
  bool statusOnly = false;
  std::string statusText;
  uint64_t start = 0;          // first body byte; the stream is positioned there
  uint64_t size = 0;           // the stream's size
  uint64_t contentLength = 0;  // bytes of body to send
};

// Adds the headers of a full response to response: for media and ranged requests the
// date, "Accept-Ranges", "Connection", the echoed "X-Playback-Session-Id", the entity
// tag and "Content-Range"; otherwise the caching directive. Every answer gets "Vary:
// Origin" (a cache must not hand one origin's answer to another), and
// "Access-Control-Allow-Origin" when the request's "Origin" is one of the server's own
// (that origin as the value) or crossOriginAny is set ("*"). A stream of 0 bytes, or a
// navigation document, gets only these two.
ServePlan PrepareServe(const HttpMessage& request, HttpMessage& response, uint64_t size,
                       const std::string& lastModified, const ServeOptions& options);

// Finishes the response (206 when only part is sent, "Content-Length" always,
// "Last-Modified") and returns its header text.
std::string BuildResponseHead(HttpMessage& response, uint64_t size, uint64_t contentLength,
                              const std::string& lastModified);

}  // namespace storage
