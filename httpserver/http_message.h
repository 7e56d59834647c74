// HttpMessage: the headers, status and reason of one HTTP request or response, and
// FormatHttpDate, the fixed-width HTTP date text.
//
// Parsing is a pure function of the given text: it never reads past it, throws nothing
// of its own and accepts any bytes (hostile input included). Header names compare
// ignoring ASCII case; values keep their bytes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace storage {

class HttpMessage {
 public:
  // An empty text gives 200 "OK" without headers; any other text is parsed: the first
  // line (a response status line sets status and reason), then every line ended by LF
  // (a CR before it is dropped) up to the last LF as a header line; lines starting with
  // white space continue the previous header.
  explicit HttpMessage(const std::string& raw = std::string());

  // Parses like the constructor, but stops at the first empty line after the first
  // line: returns the offset just past it (where a body starts), or npos when the text
  // holds none (every line was then read as a header).
  size_t ParseHead(const std::string& raw);

  // Value of the first header named name (ignoring case); empty when absent.
  std::string Get(std::string_view name) const;
  bool Has(std::string_view name) const;
  // Replaces the first header of that name in place, or appends the pair.
  void Set(std::string_view name, std::string_view value);
  // Erases the first header of that name.
  void Remove(std::string_view name);
  // "HTTP/1.1 <status> <reason>\r\n", "name: value\r\n" for every header, "\r\n".
  std::string Serialize() const;

  std::vector<std::pair<std::string, std::string>> headers;
  int32_t status = 200;
  std::string reason = "OK";

 private:
  size_t Parse(const std::string& raw, bool headOnly);
};

bool EqualsNoCaseA(std::string_view a, std::string_view b);

// Calendar time in UTC, in the fields of the Windows SYSTEMTIME it stands for.
struct HttpTime {
  uint16_t year = 1970;
  uint16_t month = 1;      // 1..12
  uint16_t dayOfWeek = 4;  // 0 = Sunday
  uint16_t day = 1;
  uint16_t hour = 0;
  uint16_t minute = 0;
  uint16_t second = 0;
};

// "Mon, 23 Jul 2012 10:20:30 GMT". Out-of-range day or month indexes give "???".
std::string FormatHttpDate(const HttpTime& time);
// The calendar form of a count of seconds since 1970-01-01 UTC.
HttpTime HttpTimeFromUnix(int64_t seconds);
// The current UTC time.
HttpTime CurrentHttpTime();

}  // namespace storage
