#include "httpserver/response.h"

#include <cstdio>

#include "httpserver/request.h"

namespace storage {
namespace {

const char kFixedETag[] = "4D6F6E2C32334A756C32303";

// _atoi64: leading white space, a sign, digits up to the first non-digit; no digits
// give 0. Saturates instead of overflowing.
int64_t ReadInt64(const std::string& text, size_t pos) {
  while (pos < text.size() && (text[pos] == ' ' || (text[pos] >= '\t' && text[pos] <= '\r'))) {
    ++pos;
  }
  bool negative = false;
  if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
    negative = text[pos++] == '-';
  }
  uint64_t value = 0;
  const uint64_t limit = negative ? (1ULL << 63) : (1ULL << 63) - 1;
  while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
    value = value * 10 + static_cast<uint64_t>(text[pos] - '0');
    if (value > limit) value = limit;
    ++pos;
  }
  if (negative) return value == (1ULL << 63) ? INT64_MIN : -static_cast<int64_t>(value);
  return static_cast<int64_t>(value);
}

}  // namespace

// The status line has no reason text, but keeps the blank after the code that HTTP/1.1
// requires ("HTTP/1.1 404 "): strict clients such as WinHTTP reject the line without it.
std::string StatusResponse(int code, const std::string& extra) {
  return "HTTP/1.1 " + std::to_string(code) + " \r\n" + extra + "\r\n";
}

ByteRange EvaluateRange(const std::string& rangeValue, uint64_t size) {
  ByteRange r;
  const int64_t last = static_cast<int64_t>(size) - 1;
  size_t eq = rangeValue.find('=');
  size_t numbers = eq == std::string::npos ? rangeValue.size() : eq + 1;
  size_t dash = rangeValue.find('-', numbers);
  if (dash != std::string::npos && dash > numbers) {
    r.start = ReadInt64(rangeValue, numbers);
    r.end = ReadInt64(rangeValue, dash + 1);
    // Only a missing end means "to the end"; "0-0" is the first byte.
    size_t at = dash + 1;
    while (at < rangeValue.size() && rangeValue[at] == ' ') ++at;
    const char c = at < rangeValue.size() ? rangeValue[at] : ',';
    if ((c < '0' || c > '9') && c != '+' && c != '-') r.end = last;
  } else if (dash != std::string::npos) {
    int64_t suffix = ReadInt64(rangeValue, dash + 1);
    // A suffix longer than the entry stands for the whole entry; a negative one ("--5")
    // selects nothing, and must not overflow on the way.
    if (suffix < 0) {
      r.start = -1;
    } else {
      r.start = suffix > static_cast<int64_t>(size) ? 0 : static_cast<int64_t>(size) - suffix;
    }
    r.end = last;
  } else {
    r.start = ReadInt64(rangeValue, numbers);
    r.end = last;
  }
  if (r.end >= last) r.end = last;
  return r;
}

std::string ComputeETag(const std::string& lastModified) {
  if (lastModified.empty()) return kFixedETag;
  std::string tag;
  char digits[16];
  for (size_t i = 0; i < lastModified.size(); i += 2) {
    char c = lastModified[i];
    if (c == ' ') continue;
    std::snprintf(digits, sizeof(digits), "%X",
                  static_cast<unsigned>(static_cast<int>(static_cast<signed char>(c))));
    tag += digits;
  }
  return tag;
}

bool IsRangedRequest(const HttpMessage& request) {
  const std::string rangeValue = request.Get("Range");
  return rangeValue.size() >= 7 && rangeValue.compare(0, 6, "bytes=") == 0;
}

bool ChooseGzip(const HttpMessage& request, const std::string& contentType) {
  return AcceptsGzip(request.Get("Accept-Encoding")) && !IsRangedRequest(request) &&
         !IsMediaType(contentType);
}

bool IsMediaType(const std::string& contentType) {
  if (contentType.size() < 6) return false;
  return EqualsNoCaseA(contentType.substr(0, 6), "video/") ||
         EqualsNoCaseA(contentType.substr(0, 6), "audio/");
}

bool IsNavigationType(const std::string& contentType) {
  return contentType == "application/x-morvane-navigation";
}

ServePlan PrepareServe(const HttpMessage& request, HttpMessage& response, uint64_t size,
                       const std::string& lastModified, const ServeOptions& options) {
  ServePlan plan;
  plan.size = size;
  plan.contentLength = size;
  const std::string contentType = response.Get("Content-Type");
  const bool media = IsMediaType(contentType);
  const std::string rangeValue = request.Get("Range");
  const bool ranged = IsRangedRequest(request);

  if (size != 0 && !IsNavigationType(contentType)) {
    if (media || ranged) {
      response.Set("Date", FormatHttpDate(options.now));
      response.Set("Accept-Ranges", "bytes");
      response.Set("Connection", "keep-alive");
      if (request.Has("X-Playback-Session-Id")) {
        std::string id = request.Get("X-Playback-Session-Id");
        // Echoing CR or LF would let a request write headers of its own into the answer.
        if (IsSafeHeaderValue(id)) response.Set("X-Playback-Session-Id", id);
      }
      response.Set("ETag", ComputeETag(lastModified));
      if (ranged) {
        ByteRange r = EvaluateRange(rangeValue, size);
        if (r.start < 0 || static_cast<uint64_t>(r.start) >= size || r.start > r.end) {
          plan.statusOnly = true;
          plan.statusText =
              StatusResponse(416, "Content-Range: bytes */" + std::to_string(size) + "\r\n");
          return plan;
        }
        plan.start = static_cast<uint64_t>(r.start);
        response.Set("Content-Range", "bytes " + std::to_string(r.start) + "-" +
                                          std::to_string(r.end) + "/" + std::to_string(size));
        plan.contentLength = static_cast<uint64_t>(r.end - r.start + 1);
      }
    } else if (!response.Has("Cache-Control")) {
      response.Remove("ETag");
      response.Set("Cache-Control", "max-age=" + std::to_string(options.maxAge));
    }
  }
  response.Set("Vary", "Origin");
  if (request.Has("Origin")) {
    const std::string origin = request.Get("Origin");
    if (options.crossOriginAny) {
      response.Set("Access-Control-Allow-Origin", "*");
    } else if (IsOwnOrigin(origin, options.port)) {
      response.Set("Access-Control-Allow-Origin", origin);
    }
  }
  return plan;
}

std::string BuildResponseHead(HttpMessage& response, uint64_t size, uint64_t contentLength,
                              const std::string& lastModified) {
  response.Remove("Transfer-Encoding");
  if (size != 0 && contentLength != 0 && size != contentLength) {
    response.status = 206;
    response.reason = "Partial Content";
  }
  response.Set("Content-Length", std::to_string(contentLength));
  if (!lastModified.empty()) response.Set("Last-Modified", lastModified);
  return response.Serialize();
}

}  // namespace storage
