// HTTP(S) URLs through WinINet's own cracker and builder.
#include <windows.h>
#include <wininet.h>

#include <vector>

#include "utils/url.h"

namespace utils {
namespace {

const wchar_t* W(const std::u16string& s) { return reinterpret_cast<const wchar_t*>(s.c_str()); }

}  // namespace

bool ParseUrl(UrlParts& parts, const std::u16string& url, bool withoutCredentials) {
  parts = UrlParts();
  // The cracker writes into caller buffers; sizes in characters, generous for any URL
  // the server could meet (INTERNET_MAX_* are the documented limits).
  std::vector<wchar_t> host(INTERNET_MAX_HOST_NAME_LENGTH + 1);
  std::vector<wchar_t> path(INTERNET_MAX_PATH_LENGTH + 1);
  std::vector<wchar_t> user(INTERNET_MAX_USER_NAME_LENGTH + 1);
  std::vector<wchar_t> password(INTERNET_MAX_PASSWORD_LENGTH + 1);
  URL_COMPONENTSW c = {};
  c.dwStructSize = sizeof c;
  c.lpszHostName = host.data();
  c.dwHostNameLength = static_cast<DWORD>(host.size());
  c.lpszUrlPath = path.data();
  c.dwUrlPathLength = static_cast<DWORD>(path.size());
  if (!withoutCredentials) {
    c.lpszUserName = user.data();
    c.dwUserNameLength = static_cast<DWORD>(user.size());
    c.lpszPassword = password.data();
    c.dwPasswordLength = static_cast<DWORD>(password.size());
  }
  if (!InternetCrackUrlW(W(url), static_cast<DWORD>(url.size()), 0, &c)) return false;
  if (c.nScheme != INTERNET_SCHEME_HTTP && c.nScheme != INTERNET_SCHEME_HTTPS) return false;
  parts.secure = c.nScheme == INTERNET_SCHEME_HTTPS;
  parts.host.assign(reinterpret_cast<const char16_t*>(host.data()), c.dwHostNameLength);
  parts.port = c.nPort;
  parts.path.assign(reinterpret_cast<const char16_t*>(path.data()), c.dwUrlPathLength);
  if (!withoutCredentials) {
    parts.userName.assign(reinterpret_cast<const char16_t*>(user.data()), c.dwUserNameLength);
    parts.password.assign(reinterpret_cast<const char16_t*>(password.data()), c.dwPasswordLength);
  }
  parts.path = NormalizePath(parts.path);
  return CreateUrl(parts.url, parts.host, parts.secure, parts.port, parts.path, parts.userName,
                   parts.password);
}

bool CreateUrl(std::u16string& out, const std::u16string& host, bool secure, uint16_t port,
               const std::u16string& path, const std::u16string& userName,
               const std::u16string& password) {
  out.clear();
  URL_COMPONENTSW c = {};
  c.dwStructSize = sizeof c;
  c.nScheme = secure ? INTERNET_SCHEME_HTTPS : INTERNET_SCHEME_HTTP;
  c.lpszHostName = const_cast<wchar_t*>(W(host));
  c.dwHostNameLength = static_cast<DWORD>(host.size());
  c.nPort = port;
  // An empty but present user name or password makes WinINet write "http://:@host":
  // leave them out instead. A password without a user name cannot be written at all.
  if (!userName.empty()) {
    c.lpszUserName = const_cast<wchar_t*>(W(userName));
    c.dwUserNameLength = static_cast<DWORD>(userName.size());
    if (!password.empty()) {
      c.lpszPassword = const_cast<wchar_t*>(W(password));
      c.dwPasswordLength = static_cast<DWORD>(password.size());
    }
  }
  c.lpszUrlPath = const_cast<wchar_t*>(W(path));
  c.dwUrlPathLength = static_cast<DWORD>(path.size());
  DWORD size = 0;
  if (InternetCreateUrlW(&c, 0, nullptr, &size) || GetLastError() != ERROR_INSUFFICIENT_BUFFER ||
      size == 0) {
    return false;
  }
  // The size query answers bytes on some systems and characters on others: a buffer of
  // that many characters is large enough either way.
  std::vector<wchar_t> buffer(size + 1);
  DWORD length = size;
  if (!InternetCreateUrlW(&c, 0, buffer.data(), &length)) return false;
  out.assign(reinterpret_cast<const char16_t*>(buffer.data()), length);
  return true;
}

}  // namespace utils
