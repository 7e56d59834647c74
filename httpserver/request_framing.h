// Where one request ends on a persistent connection, whether the connection may carry
// another, and the "Connection" header that says so. Pure functions over the header text.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "httpserver/http_message.h"

namespace storage {

struct RequestFrame {
  // False (400, and the connection ends) for what RFC 9112 says to reject: a
  // "Content-Length" that is not a decimal number, or two that disagree; a header name that
  // is not a token (white space before its colon, no name at all); an HTTP/1.1 request
  // without exactly one non-empty "Host", or any request with two.
  bool valid = true;
  // The request takes every byte that follows (an upgrade, a body whose length is not given
  // by "Content-Length"): nothing after it can be read as a request.
  bool toEnd = false;
  uint64_t bodyLength = 0;
  // HTTP/1.1 without "close" among the "Connection" tokens, or HTTP/1.0 with "keep-alive"
  // among them (such a client closes unless the response says "Connection: keep-alive").
  bool keepAlive = false;
  bool announceKeepAlive = false;  // keepAlive on HTTP/1.0: the response must say so
};

// requestLine: the request's first line; headers: its header lines, parsed once.
RequestFrame FrameRequest(std::string_view requestLine, const HttpMessage& headers);

// A response head (ending with its blank line) made to tell the truth about its framing
// and its connection. A head without "Content-Length" gets "Content-Length: 0" when no body
// follows (a HEAD answer gets the head of the GET's); when a body follows without one, only
// the close can end it and keepAlive is cleared. The "Connection" lines are replaced:
// "Connection: close" when the connection ends after this response; "Connection:
// keep-alive" when it stays open and the head named a connection before or announce is
// set (an HTTP/1.0 client that asked to keep it); otherwise none, as HTTP/1.1 connections
// persist by default.
std::string FrameResponseHead(const std::string& head, uint64_t bodyBytes, bool& keepAlive,
                              bool announce = false);

}  // namespace storage
