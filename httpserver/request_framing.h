// Where one request ends on a persistent connection, whether the connection may carry
// another, and the "Connection" header that says so. Pure functions over the header text.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace storage {

struct RequestFrame {
  // False for a "Content-Length" that is not a decimal number, or two that disagree (400).
  bool valid = true;
  // The request takes every byte that follows (an upgrade, a body whose length is not given
  // by "Content-Length"): nothing after it can be read as a request.
  bool toEnd = false;
  uint64_t bodyLength = 0;
  // HTTP/1.1 without "close" among the "Connection" tokens. HTTP/1.0 always closes.
  bool keepAlive = false;
};

// head: the request line and headers, up to and including the blank line (CRLF or LF
// line ends).
RequestFrame FrameRequest(std::string_view head);

// A response head (ending with its blank line) made to tell the truth about its framing
// and its connection. A head without "Content-Length" gets "Content-Length: 0" when no body
// follows (a HEAD answer gets the head of the GET's); when a body follows without one, only
// the close can end it and keepAlive is cleared. The "Connection" lines are replaced:
// "Connection: close" when the connection ends after this response; "Connection:
// keep-alive" when it stays open and the head named a connection before; otherwise none,
// as HTTP/1.1 connections persist by default.
std::string FrameResponseHead(const std::string& head, uint64_t bodyBytes, bool& keepAlive);

}  // namespace storage
