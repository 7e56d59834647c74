// HTTP(S) URLs without WinINet: a small parser and builder that give WinINet's answers
// for the URLs the server meets (default ports left out of built URLs, the query and
// fragment kept in the path, credentials before the last '@').
#include <string_view>

#include "utils/url.h"

namespace utils {
namespace {

bool StartsWithNoCase(std::u16string_view text, std::u16string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    char16_t c = text[i];
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 32);
    if (c != prefix[i]) return false;
  }
  return true;
}

uint16_t DefaultPort(bool secure) { return secure ? 443 : 80; }

// "host", "host:port" or "[v6]:port" into host and port; false for an empty host or a
// port that is not a number up to 65535.
bool SplitHostPort(std::u16string_view hostPort, bool secure, std::u16string& host,
                   uint16_t& port) {
  size_t colon;
  if (!hostPort.empty() && hostPort[0] == u'[') {
    size_t close = hostPort.find(u']');
    if (close == std::u16string_view::npos) return false;
    colon = close + 1 < hostPort.size() ? close + 1 : std::u16string_view::npos;
    if (colon != std::u16string_view::npos && hostPort[colon] != u':') return false;
  } else {
    colon = hostPort.find(u':');
  }
  host.assign(hostPort.substr(0, colon));
  if (host.empty()) return false;
  port = DefaultPort(secure);
  if (colon == std::u16string_view::npos || colon + 1 == hostPort.size()) return true;
  uint32_t value = 0;
  for (char16_t c : hostPort.substr(colon + 1)) {
    if (c < u'0' || c > u'9') return false;
    value = value * 10 + (c - u'0');
    if (value > 65535) return false;
  }
  port = static_cast<uint16_t>(value);
  return true;
}

}  // namespace

bool ParseUrl(UrlParts& parts, const std::u16string& url, bool withoutCredentials) {
  parts = UrlParts();
  std::u16string_view rest(url);
  bool secure;
  if (StartsWithNoCase(rest, u"https://")) {
    secure = true;
    rest.remove_prefix(8);
  } else if (StartsWithNoCase(rest, u"http://")) {
    secure = false;
    rest.remove_prefix(7);
  } else {
    return false;
  }
  size_t end = rest.find_first_of(u"/?#\\");
  std::u16string_view authority = rest.substr(0, end);
  std::u16string_view path = end == std::u16string_view::npos ? u"" : rest.substr(end);

  std::u16string user, password;
  size_t at = authority.rfind(u'@');
  if (at != std::u16string_view::npos) {
    std::u16string_view info = authority.substr(0, at);
    size_t colon = info.find(u':');
    user.assign(info.substr(0, colon));
    if (colon != std::u16string_view::npos) password.assign(info.substr(colon + 1));
    authority.remove_prefix(at + 1);
  }
  if (!SplitHostPort(authority, secure, parts.host, parts.port)) {
    parts = UrlParts();
    return false;
  }
  parts.secure = secure;
  parts.path = NormalizePath(std::u16string(path));
  if (!withoutCredentials) {
    parts.userName = std::move(user);
    parts.password = std::move(password);
  }
  return CreateUrl(parts.url, parts.host, parts.secure, parts.port, parts.path, parts.userName,
                   parts.password);
}

bool CreateUrl(std::u16string& out, const std::u16string& host, bool secure, uint16_t port,
               const std::u16string& path, const std::u16string& userName,
               const std::u16string& password) {
  out.clear();
  if (host.empty()) return false;
  out = secure ? u"https://" : u"http://";
  if (!userName.empty()) {
    out += userName;
    if (!password.empty()) out += u":" + password;
    out += u"@";
  }
  out += host;
  // Port 0 stands for "the scheme's default", as INTERNET_INVALID_PORT_NUMBER does.
  if (port != 0 && port != DefaultPort(secure)) {
    std::string digits = std::to_string(port);
    out += u":" + std::u16string(digits.begin(), digits.end());
  }
  if (!path.empty() && path[0] != u'/') out += u"/";
  out += path;
  return true;
}

}  // namespace utils
