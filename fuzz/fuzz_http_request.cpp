// Request parsing on arbitrary bytes: the message parser, the request line, the path
// rewrite, the host check, request framing, ranges and the response headers must accept
// anything without
// reading past it.
#include <cstddef>
#include <cstdint>
#include <string>

#include "httpserver/http_message.h"
#include "httpserver/request.h"
#include "httpserver/request_framing.h"
#include "httpserver/response.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  storage::FindHeaderEnd(text, size > 7 ? size / 2 : 0);
  storage::HttpMessage request(text);
  const storage::ParsedRequest parsed =
      storage::ParseRequest(text, std::string("1a2b/").substr(0, size % 6));
  storage::IsLoopbackHost(request.Get("Host"));
  // Framing on a persistent connection: a broken length frames no body, and a head made to
  // close the connection says so.
  const storage::RequestFrame& frame = parsed.frame;
  if (!frame.valid && (frame.bodyLength != 0 || frame.keepAlive)) __builtin_trap();
  bool keepAlive = size % 3 != 0;
  const std::string framed =
      storage::FrameResponseHead(text + "\r\n\r\n", size % 2, keepAlive);
  if (!keepAlive && framed.find("Connection: close\r\n") == std::string::npos) __builtin_trap();

  storage::HttpMessage response;
  response.Set("Content-Type", size % 2 ? "video/mp4" : "text/html");
  storage::ServeOptions options;
  const uint64_t sizes[] = {0, 1, 1000, UINT64_MAX / 2};
  const uint64_t entrySize = sizes[size % 4];
  storage::ServePlan plan = storage::PrepareServe(request, response, entrySize,
                                                  request.Get("If-Modified-Since"), options);
  if (!plan.statusOnly) {
    // A planned range always lies inside the entry.
    if (plan.contentLength > entrySize || plan.start > entrySize - plan.contentLength) {
      __builtin_trap();
    }
    std::string head = storage::BuildResponseHead(response, plan.size, plan.contentLength, "");
    // Nothing from the request may start a header line of its own.
    if (head.find("\r\nInjected:") != std::string::npos) __builtin_trap();
  }
  return 0;
}
