#include "httpserver/request.h"

#include <cctype>
#include <utility>

#include "utils/url.h"

namespace storage {

size_t FindHeaderEnd(const std::string& buffer, size_t searchFrom) {
  for (size_t lf = buffer.find('\n', searchFrom); lf != std::string::npos;
       lf = buffer.find('\n', lf + 1)) {
    if (lf + 1 < buffer.size() && buffer[lf + 1] == '\n') return lf + 2;
    if (lf + 2 < buffer.size() && buffer[lf + 1] == '\r' && buffer[lf + 2] == '\n') return lf + 3;
  }
  return std::string::npos;
}

RequestLine ParseRequestLine(const std::string& request, const std::string& runPrefix) {
  RequestLine line;
  size_t blank = request.find(' ');
  if (blank == std::string::npos) {
    line.verdict = RequestVerdict::kBadRequest;
    return line;
  }
  size_t targetEnd = request.find_first_of(std::string(" \t\r\n", 4), blank + 1);
  if (targetEnd == std::string::npos) return line;  // kBadRequest

  std::string method = request.substr(0, blank);
  if (method == "GET") {
    line.method = RequestMethod::kGet;
  } else if (method == "HEAD") {
    line.method = RequestMethod::kHead;
  } else if (method == "POST") {
    line.method = RequestMethod::kPost;
  } else {
    line.verdict = RequestVerdict::kNotAllowed;
    return line;
  }

  std::string target = request.substr(blank + 1, targetEnd - blank - 1);
  std::string query;
  const size_t mark = target.find('?');
  if (mark != std::string::npos) {
    query = target.substr(mark);
    target.resize(mark);
  }
  // A broken escape ("%zz", a '%' at the end) is refused rather than cut off: a cut path
  // would serve some other entry than the one the client named.
  for (size_t at = target.find('%'); at != std::string::npos; at = target.find('%', at + 1)) {
    if (at + 2 >= target.size() || !std::isxdigit(static_cast<unsigned char>(target[at + 1])) ||
        !std::isxdigit(static_cast<unsigned char>(target[at + 2]))) {
      return line;  // kBadRequest
    }
  }
  std::string path = utils::PercentDecode(target);
  if (!path.empty() && path[0] == '/') path.erase(0, 1);
  if (!runPrefix.empty()) {
    if (path.compare(0, runPrefix.size(), runPrefix) == 0) {
      path.erase(0, runPrefix.size());
    } else if (runPrefix.back() == '/' && path.size() + 1 == runPrefix.size() &&
               runPrefix.compare(0, path.size(), path) == 0) {
      // Relative links of the start page resolve against its folder only with the slash.
      line.verdict = RequestVerdict::kRedirect;
      line.location = "/" + runPrefix + (IsSafeHeaderValue(query) ? query : std::string());
      return line;
    }
  }
  if (path.empty() || path.back() == '/') path += "index.html";
  line.path = std::move(path);
  line.verdict = RequestVerdict::kServe;
  return line;
}

ParsedRequest ParseRequest(const std::string& request, const std::string& runPrefix) {
  ParsedRequest parsed;
  parsed.line = ParseRequestLine(request, runPrefix);
  parsed.line.path = RewriteWebAppPath(parsed.line.path);
  const size_t end = parsed.headers.ParseHead(request);
  parsed.frame = FrameRequest(request, parsed.headers);
  if (end != std::string::npos) parsed.SetBody(request.substr(end));
  return parsed;
}

void ParsedRequest::SetBody(std::string bytes) {
  body = std::move(bytes);
  // A posted body is text: it ends at its first NUL byte.
  if (line.method == RequestMethod::kPost) {
    const size_t nul = body.find('\0');
    if (nul != std::string::npos) body.resize(nul);
  }
}

std::string RewriteWebAppPath(const std::string& path) {
  // Equivalent to searching "^_WA_/(.*?)/(.*)" and taking the second group: '.' matches
  // neither CR nor LF, so the first segment may not hold them and the rest stops at them.
  static const std::string kPrefix = "_WA_/";
  if (path.compare(0, kPrefix.size(), kPrefix) != 0) return path;
  size_t p = kPrefix.size();
  while (p < path.size() && path[p] != '/') {
    if (path[p] == '\r' || path[p] == '\n') return path;
    ++p;
  }
  if (p >= path.size()) return path;
  size_t restEnd = path.find_first_of("\r\n", p + 1);
  if (restEnd == std::string::npos) restEnd = path.size();
  return path.substr(p + 1, restEnd - p - 1);
}

bool IsLoopbackHost(const std::string& host) {
  if (host.empty()) return true;
  size_t nameEnd = host.size();
  const size_t colon = host.rfind(':');
  // A colon after the closing bracket of an IPv6 literal, or in a name without brackets.
  if (colon != std::string::npos && (host[0] != '[' || host.find(']') < colon)) {
    if (colon + 1 == host.size()) return false;
    for (size_t i = colon + 1; i < host.size(); ++i) {
      if (host[i] < '0' || host[i] > '9') return false;
    }
    nameEnd = colon;
  }
  const std::string name = host.substr(0, nameEnd);
  return EqualsNoCaseA(name, "localhost") || name == "127.0.0.1" || name == "[::1]";
}

bool IsOwnOrigin(const std::string& origin, unsigned port) {
  static const std::string kScheme = "http://";
  if (port == 0 || origin.size() <= kScheme.size() ||
      !EqualsNoCaseA(origin.substr(0, kScheme.size()), kScheme)) {
    return false;
  }
  const std::string host = origin.substr(kScheme.size());
  const std::string suffix = ":" + std::to_string(port);
  std::string name;
  if (host.size() > suffix.size() && host.compare(host.size() - suffix.size(), suffix.size(), suffix) == 0) {
    name = host.substr(0, host.size() - suffix.size());
  } else if (port == 80) {
    name = host;
  } else {
    return false;
  }
  return EqualsNoCaseA(name, "localhost") || name == "127.0.0.1" || name == "[::1]";
}

bool AcceptsGzip(const std::string& acceptEncoding) {
  bool gzip = false, gzipRefused = false, any = false;
  size_t begin = 0;
  while (begin <= acceptEncoding.size()) {
    size_t end = acceptEncoding.find(',', begin);
    if (end == std::string::npos) end = acceptEncoding.size();
    const std::string item = acceptEncoding.substr(begin, end - begin);
    begin = end + 1;
    const size_t semicolon = item.find(';');
    std::string coding = item.substr(0, semicolon);
    while (!coding.empty() && (coding.front() == ' ' || coding.front() == '\t')) coding.erase(0, 1);
    while (!coding.empty() && (coding.back() == ' ' || coding.back() == '\t')) coding.pop_back();
    bool refused = false;
    if (semicolon != std::string::npos) {
      // "q=0", "q=0.", "q=0.000": refused; any other weight admits.
      std::string weight;
      for (char c : item.substr(semicolon + 1)) {
        if (c != ' ' && c != '\t') weight += c;
      }
      if (weight.size() >= 3 && (weight[0] == 'q' || weight[0] == 'Q') && weight[1] == '=') {
        refused = weight.find_first_not_of("0.", 2) == std::string::npos;
      }
    }
    if (EqualsNoCaseA(coding, "gzip") || EqualsNoCaseA(coding, "x-gzip")) {
      (refused ? gzipRefused : gzip) = true;
    } else if (coding == "*" && !refused) {
      any = true;
    }
  }
  return gzip || (any && !gzipRefused);
}

bool IsSafeHeaderValue(const std::string& value) {
  return value.find_first_of(std::string("\r\n\0", 3)) == std::string::npos;
}

}  // namespace storage
