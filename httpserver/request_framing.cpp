#include "httpserver/request_framing.h"

#include <algorithm>
#include <cctype>

namespace storage {
namespace {

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n'))
    s.remove_suffix(1);
  return s;
}

// Calls visit(name, value) for each header line of head (the request line skipped).
template <typename Visit>
void ForEachHeader(std::string_view head, Visit visit) {
  size_t at = head.find('\n');
  while (at != std::string_view::npos && at + 1 < head.size()) {
    const size_t end = head.find('\n', at + 1);
    std::string_view line = head.substr(at + 1, end == std::string_view::npos ? end : end - at - 1);
    at = end;
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos) continue;
    visit(Trim(line.substr(0, colon)), Trim(line.substr(colon + 1)));
  }
}

bool HasToken(std::string_view list, std::string_view token) {
  while (!list.empty()) {
    const size_t comma = list.find(',');
    if (EqualsNoCase(Trim(list.substr(0, comma)), token)) return true;
    if (comma == std::string_view::npos) break;
    list.remove_prefix(comma + 1);
  }
  return false;
}

}  // namespace

RequestFrame FrameRequest(std::string_view head) {
  RequestFrame frame;
  std::string_view line = Trim(head.substr(0, head.find('\n')));
  const size_t blank = line.rfind(' ');
  const bool http11 = blank != std::string_view::npos && line.substr(blank + 1) == "HTTP/1.1";
  bool close = false;
  bool haveLength = false;
  ForEachHeader(head, [&](std::string_view name, std::string_view value) {
    if (EqualsNoCase(name, "Connection")) {
      close = close || HasToken(value, "close");
    } else if (EqualsNoCase(name, "Upgrade") || EqualsNoCase(name, "Transfer-Encoding")) {
      frame.toEnd = true;
    } else if (EqualsNoCase(name, "Content-Length")) {
      uint64_t n = 0;
      bool digits = !value.empty();
      for (char c : value) {
        if (c < '0' || c > '9' || n > (UINT64_MAX - 9) / 10) {
          digits = false;
          break;
        }
        n = n * 10 + static_cast<uint64_t>(c - '0');
      }
      if (!digits || (haveLength && n != frame.bodyLength)) frame.valid = false;
      haveLength = true;
      frame.bodyLength = n;
    }
  });
  if (!frame.valid) frame.bodyLength = 0;
  frame.keepAlive = frame.valid && http11 && !close && !frame.toEnd;
  return frame;
}

std::string FrameResponseHead(const std::string& head, uint64_t bodyBytes, bool& keepAlive) {
  std::string out;
  out.reserve(head.size() + 40);
  bool named = false;
  bool length = false;
  size_t at = 0;
  while (at < head.size()) {
    size_t end = head.find('\n', at);
    end = end == std::string::npos ? head.size() : end + 1;
    std::string_view line(head.data() + at, end - at);
    if (at != 0 && Trim(line).empty()) break;
    const size_t colon = at == 0 ? std::string_view::npos : line.find(':');
    std::string_view name = colon == std::string_view::npos ? "" : Trim(line.substr(0, colon));
    if (EqualsNoCase(name, "Connection")) {
      named = true;
    } else {
      length = length || EqualsNoCase(name, "Content-Length");
      out.append(line.data(), line.size());
    }
    at = end;
  }
  if (!length && bodyBytes != 0) keepAlive = false;
  if (!length && bodyBytes == 0) out += "Content-Length: 0\r\n";
  if (!keepAlive) {
    out += "Connection: close\r\n";
  } else if (named) {
    out += "Connection: keep-alive\r\n";
  }
  out.append(head, std::min(at, head.size()), std::string::npos);
  return out;
}

}  // namespace storage
