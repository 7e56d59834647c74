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

bool HasToken(std::string_view list, std::string_view token) {
  while (!list.empty()) {
    const size_t comma = list.find(',');
    if (EqualsNoCase(Trim(list.substr(0, comma)), token)) return true;
    if (comma == std::string_view::npos) break;
    list.remove_prefix(comma + 1);
  }
  return false;
}

// RFC 9110 token characters: a header name is one token, nothing before its colon.
bool IsToken(std::string_view s) {
  if (s.empty()) return false;
  for (char c : s) {
    const bool alnum = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    if (!alnum && std::string_view("!#$%&'*+-.^_`|~").find(c) == std::string_view::npos) {
      return false;
    }
  }
  return true;
}

}  // namespace

RequestFrame FrameRequest(std::string_view requestLine, const HttpMessage& headers) {
  RequestFrame frame;
  const std::string_view line = Trim(requestLine.substr(0, requestLine.find('\n')));
  const size_t blank = line.rfind(' ');
  const std::string_view version =
      blank == std::string_view::npos ? std::string_view() : line.substr(blank + 1);
  const bool http11 = version == "HTTP/1.1";
  bool close = false;
  bool keep = false;
  bool haveLength = false;
  int hosts = 0;
  bool emptyHost = false;
  for (const auto& [name, value] : headers.headers) {
    // "Content-Length : 3" must not pass as some other header while its body is read as
    // the next request (request smuggling).
    if (!IsToken(name)) frame.valid = false;
    if (EqualsNoCase(name, "Host")) {
      ++hosts;
      emptyHost = emptyHost || Trim(value).empty();
    } else if (EqualsNoCase(name, "Connection")) {
      close = close || HasToken(value, "close");
      keep = keep || HasToken(value, "keep-alive");
    } else if (EqualsNoCase(name, "Upgrade") || EqualsNoCase(name, "Transfer-Encoding")) {
      frame.toEnd = true;
    } else if (EqualsNoCase(name, "Content-Length")) {
      const std::string_view text = Trim(value);
      uint64_t n = 0;
      bool digits = !text.empty();
      for (char c : text) {
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
  }
  if (hosts > 1 || (http11 && (hosts == 0 || emptyHost))) frame.valid = false;
  if (!frame.valid) frame.bodyLength = 0;
  const bool http10KeepAlive = version == "HTTP/1.0" && keep;
  frame.keepAlive = frame.valid && !close && !frame.toEnd && (http11 || http10KeepAlive);
  frame.announceKeepAlive = frame.keepAlive && !http11;
  return frame;
}

std::string FrameResponseHead(const std::string& head, uint64_t bodyBytes, bool& keepAlive,
                              bool announce) {
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
  } else if (named || announce) {
    out += "Connection: keep-alive\r\n";
  }
  out.append(head, std::min(at, head.size()), std::string::npos);
  return out;
}

}  // namespace storage
