// URL tools for request paths: percent-decoding and joining a base URL with a relative
// path. HTTP and HTTPS URLs are taken apart and built by the platform's URL functions
// (WinINet on Windows, a small parser of our own on POSIX; both give the same answers).
#pragma once

#include <cstdint>
#include <string>

namespace utils {

struct UrlParts {
  std::u16string host;
  uint16_t port = 0;
  std::u16string path;  // starts with '/' once parsed
  std::u16string userName;
  std::u16string password;
  bool secure = true;  // true for HTTPS
  std::u16string url;  // the canonical URL built from the fields above
};

// Decodes %XX escapes; a '%' with fewer than two bytes after it, or with no hex digit
// after it, ends the result before that '%'. '+' is copied unchanged.
std::string PercentDecode(const std::string& bytes);
std::u16string NormalizePath(const std::u16string& path);
std::u16string EnsureTrailingSlash(const std::u16string& text);

bool ParseUrl(UrlParts& parts, const std::u16string& url, bool withoutCredentials);
bool CreateUrl(std::u16string& out, const std::u16string& host, bool secure, uint16_t port,
               const std::u16string& path, const std::u16string& userName,
               const std::u16string& password);
bool CombineUrl(UrlParts& result, const UrlParts& base, const std::u16string& relativePath,
                bool withoutCredentials);
std::u16string UrlCombine(const std::u16string& base, const std::u16string& relativePath,
                          bool withoutCredentials);

}  // namespace utils
