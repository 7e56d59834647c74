#include "httpserver/http_message.h"

#include <chrono>
#include <cstdio>

namespace storage {
namespace {

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

bool IsBlankOrTab(char c) { return c == ' ' || c == '\t'; }

// The C locale's isspace, without its locale and sign pitfalls.
bool IsWhiteSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// Reads a decimal number the way "%d" does: leading white space, an optional sign, at
// least one digit. Clamps instead of overflowing. Advances pos past what it read.
bool ScanInt(const std::string& text, size_t end, size_t& pos, int32_t& out) {
  size_t p = pos;
  while (p < end && IsWhiteSpace(text[p])) ++p;
  bool negative = false;
  if (p < end && (text[p] == '+' || text[p] == '-')) negative = text[p++] == '-';
  if (p >= end || text[p] < '0' || text[p] > '9') return false;
  int64_t value = 0;
  while (p < end && text[p] >= '0' && text[p] <= '9') {
    if (value < 0x80000000LL) value = value * 10 + (text[p] - '0');
    ++p;
  }
  if (value > 0x7FFFFFFFLL) value = negative ? 0x80000000LL : 0x7FFFFFFFLL;
  out = static_cast<int32_t>(negative ? -value : value);
  pos = p;
  return true;
}

}  // namespace

bool EqualsNoCaseA(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return true;
}

HttpMessage::HttpMessage(const std::string& raw) {
  if (!raw.empty()) Parse(raw, false);
}

size_t HttpMessage::ParseHead(const std::string& raw) { return Parse(raw, true); }

// Lines end in LF, with or without a CR before it (HTTP/1.1 lets a recipient take a bare
// LF as the end of a line).
size_t HttpMessage::Parse(const std::string& raw, bool headOnly) {
  headers.clear();
  reason.clear();
  status = 500;
  const size_t firstLf = raw.find('\n');
  if (firstLf == std::string::npos) return std::string::npos;
  const size_t firstEnd = firstLf > 0 && raw[firstLf - 1] == '\r' ? firstLf - 1 : firstLf;

  // "HTTP/1.%d %d" over the first line only: a request line leaves status alone.
  static const char kPrefix[] = "HTTP/1.";
  if (raw.compare(0, sizeof(kPrefix) - 1, kPrefix) == 0) {
    size_t pos = sizeof(kPrefix) - 1;
    int32_t minor = 0, code = 0;
    if (ScanInt(raw, firstEnd, pos, minor) && ScanInt(raw, firstEnd, pos, code)) status = code;
  }
  if (firstEnd > 10) {
    size_t blank = raw.find(' ', 10);
    if (blank != std::string::npos && blank < firstEnd) {
      reason = raw.substr(blank + 1, firstEnd - blank - 1);
    }
  }

  std::vector<std::string> lines;
  size_t headEnd = std::string::npos;
  size_t start = firstLf + 1;
  for (;;) {
    const size_t lf = raw.find('\n', start);
    if (lf == std::string::npos) break;
    const size_t end = lf > start && raw[lf - 1] == '\r' ? lf - 1 : lf;
    if (end == start && headOnly) {
      headEnd = lf + 1;
      break;
    }
    if (end > start) {
      if (IsWhiteSpace(raw[start])) {
        // A folded line continues the previous header; with none before it, it is dropped.
        if (!lines.empty()) {
          size_t p = start + 1;
          while (p < end && IsBlankOrTab(raw[p])) ++p;
          lines.back() += ' ';
          lines.back().append(raw, p, end - p);
        }
      } else {
        lines.emplace_back(raw, start, end - start);
      }
    }
    start = lf + 1;
  }
  for (const std::string& line : lines) {
    size_t colon = line.find(':');
    if (colon == std::string::npos) {
      headers.emplace_back(line, std::string());
      continue;
    }
    size_t b = colon + 1;
    size_t e = line.size();
    while (b < e && IsBlankOrTab(line[b])) ++b;
    while (e > b && IsBlankOrTab(line[e - 1])) --e;
    headers.emplace_back(line.substr(0, colon), line.substr(b, e - b));
  }
  return headEnd;
}

std::string HttpMessage::Get(std::string_view name) const {
  for (const auto& h : headers) {
    if (EqualsNoCaseA(h.first, name)) return h.second;
  }
  return std::string();
}

bool HttpMessage::Has(std::string_view name) const {
  for (const auto& h : headers) {
    if (EqualsNoCaseA(h.first, name)) return true;
  }
  return false;
}

void HttpMessage::Set(std::string_view name, std::string_view value) {
  for (auto& h : headers) {
    if (EqualsNoCaseA(h.first, name)) {
      h.second = value;
      return;
    }
  }
  headers.emplace_back(name, value);
}

void HttpMessage::Remove(std::string_view name) {
  for (auto it = headers.begin(); it != headers.end(); ++it) {
    if (EqualsNoCaseA(it->first, name)) {
      headers.erase(it);
      return;
    }
  }
}

std::string HttpMessage::Serialize() const {
  size_t size = 32 + reason.size();
  for (const auto& h : headers) size += h.first.size() + h.second.size() + 4;
  std::string out;
  out.reserve(size);
  out += "HTTP/1.1 ";
  out += std::to_string(status);
  out += ' ';
  out += reason;
  out += "\r\n";
  for (const auto& h : headers) {
    out += h.first;
    out += ": ";
    out += h.second;
    out += "\r\n";
  }
  out += "\r\n";
  return out;
}

std::string FormatHttpDate(const HttpTime& t) {
  static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const char* day = t.dayOfWeek < 7 ? kDays[t.dayOfWeek] : "???";
  const char* month = (t.month >= 1 && t.month <= 12) ? kMonths[t.month - 1] : "???";
  char buffer[100];
  std::snprintf(buffer, sizeof(buffer), "%3s, %02hu %3s %04hu %02hu:%02hu:%02hu GMT", day, t.day,
                month, t.year, t.hour, t.minute, t.second);
  return buffer;
}

HttpTime HttpTimeFromUnix(int64_t seconds) {
  using namespace std::chrono;
  sys_seconds point{std::chrono::seconds(seconds)};
  sys_days days = floor<std::chrono::days>(point);
  year_month_day ymd{days};
  hh_mm_ss<std::chrono::seconds> hms{point - days};
  HttpTime t;
  t.year = static_cast<uint16_t>(static_cast<int>(ymd.year()));
  t.month = static_cast<uint16_t>(static_cast<unsigned>(ymd.month()));
  t.day = static_cast<uint16_t>(static_cast<unsigned>(ymd.day()));
  t.dayOfWeek = static_cast<uint16_t>(weekday{days}.c_encoding());
  t.hour = static_cast<uint16_t>(hms.hours().count());
  t.minute = static_cast<uint16_t>(hms.minutes().count());
  t.second = static_cast<uint16_t>(hms.seconds().count());
  return t;
}

HttpTime CurrentHttpTime() {
  auto now = std::chrono::system_clock::now();
  return HttpTimeFromUnix(
      std::chrono::duration_cast<std::chrono::seconds>(now.time_since_epoch()).count());
}

}  // namespace storage
