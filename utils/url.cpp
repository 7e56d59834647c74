// The platform-independent URL tools: percent-decoding, path normalisation and joining.
// Taking HTTP(S) URLs apart and building them is in url_win.cpp / url_posix.cpp.
#include "utils/url.h"

namespace utils {
namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::string PercentDecode(const std::string& bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (size_t i = 0; i < bytes.size();) {
    if (bytes[i] != '%') {
      out.push_back(bytes[i++]);
      continue;
    }
    // Read like "%02X" would: one or two hex digits, at least one. Either way the
    // escape takes the '%' and both bytes after it.
    if (bytes.size() - i < 3) break;
    int high = HexValue(bytes[i + 1]);
    if (high < 0) break;
    int low = HexValue(bytes[i + 2]);
    out.push_back(static_cast<char>(low < 0 ? high : high * 16 + low));
    i += 3;
  }
  return out;
}

std::u16string NormalizePath(const std::u16string& path) {
  if (path.empty()) return u"/";
  if (path[0] == u'/') return path;
  return u"/" + path;
}

std::u16string EnsureTrailingSlash(const std::u16string& text) {
  if (text.empty()) return u"/";
  if (text.back() == u'/') return text;
  return text + u"/";
}

bool CombineUrl(UrlParts& result, const UrlParts& base, const std::u16string& relativePath,
                bool withoutCredentials) {
  std::u16string path = NormalizePath(base.path);
  if (!relativePath.empty()) {
    bool baseSlash = path.back() == u'/';
    bool relSlash = relativePath[0] == u'/';
    if (baseSlash && relSlash) {
      path.append(relativePath, 1);
    } else if (!baseSlash && !relSlash) {
      path += u'/';
      path += relativePath;
    } else {
      path += relativePath;
    }
  }
  result = UrlParts();
  result.host = base.host;
  result.port = base.port;
  result.secure = base.secure;
  result.path = NormalizePath(path);
  if (!withoutCredentials) {
    result.userName = base.userName;
    result.password = base.password;
  }
  return CreateUrl(result.url, result.host, result.secure, result.port, result.path,
                   result.userName, result.password);
}

std::u16string UrlCombine(const std::u16string& base, const std::u16string& relativePath,
                          bool withoutCredentials) {
  UrlParts parts;
  if (ParseUrl(parts, base, withoutCredentials)) {
    UrlParts result;
    if (!CombineUrl(result, parts, relativePath, withoutCredentials)) return {};
    return result.url;
  }
  if (base.empty()) return relativePath;
  if (relativePath.empty()) return base;
  std::u16string rel = relativePath[0] == u'/' ? relativePath.substr(1) : relativePath;
  return EnsureTrailingSlash(base) + rel;
}

}  // namespace utils
