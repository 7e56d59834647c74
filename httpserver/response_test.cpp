#include "httpserver/response.h"

#include <gtest/gtest.h>

namespace storage {
namespace {

const HttpTime kNow{2024, 3, 3, 13, 14, 41, 56};
const char kLastModified[] = "Mon, 23 Jul 2012 10:20:30 GMT";

TEST(EvaluateRange, Table) {
  struct Case {
    const char* value;
    uint64_t size;
    int64_t start, end;
  } cases[] = {
      {"bytes=-100", 1000, 900, 999},    {"bytes=0-0", 1000, 0, 0},
      {"bytes=5-,9-9", 1000, 5, 999},    {"bytes=5- 0", 1000, 5, 0},  // then 416
      {"bytes=0-10,20-30", 1000, 0, 10}, {"bytes=700", 1000, 700, 999},
      {"bytes=-5000", 1000, 0, 999},     {"bytes= 5 -7", 1000, 5, 7},
      {"bytes=x-y", 1000, 0, 999},       {"bytes=99999999999999999999-", 10, INT64_MAX, 9},
      {"bytes=-0", 1000, 1000, 999},
  };
  for (const Case& c : cases) {
    ByteRange r = EvaluateRange(c.value, c.size);
    EXPECT_EQ(r.start, c.start) << c.value;
    EXPECT_EQ(r.end, c.end) << c.value;
  }
}

TEST(ComputeETag, FromLastModified) {
  EXPECT_EQ(ComputeETag(kLastModified), "4D6E334A6C323130323A304754");
  EXPECT_EQ(ComputeETag(""), "4D6F6E2C32334A756C32303");
  EXPECT_EQ(ComputeETag("\xE9"
                        "a"),
            "FFFFFFE9");
}

TEST(ContentKinds, MediaAndNavigation) {
  EXPECT_TRUE(IsMediaType("video/mp4"));
  EXPECT_TRUE(IsMediaType("AUDIO/x-wav"));
  EXPECT_FALSE(IsMediaType("video"));
  EXPECT_FALSE(IsMediaType("text/html"));
  EXPECT_TRUE(IsNavigationType("application/x-morvane-navigation"));
  EXPECT_FALSE(IsNavigationType("Application/x-morvane-navigation"));
}

HttpMessage ProviderResponse(const char* type, uint64_t size) {
  HttpMessage r;
  r.Set("Content-Type", type);
  r.Set("Content-Length", std::to_string(size));
  r.Set("Last-Modified", kLastModified);
  return r;
}

std::string Head(const std::string& request, HttpMessage response, uint64_t size,
                 int64_t maxAge = 5, bool crossOriginAny = false) {
  HttpMessage req(request);
  ServeOptions options;
  options.now = kNow;
  options.maxAge = maxAge;
  options.port = 4711;
  options.crossOriginAny = crossOriginAny;
  ServePlan plan = PrepareServe(req, response, size, kLastModified, options);
  if (plan.statusOnly) return plan.statusText;
  return BuildResponseHead(response, plan.size, plan.contentLength, kLastModified);
}

// The plain page's whole head, ranges and status answers are checked over the wire
// (server_test).
TEST(PrepareServe, PageWithItsOwnCacheControlKeepsIt) {
  HttpMessage r = ProviderResponse("text/css", 10);
  r.Set("Cache-Control", "no-store");
  r.Set("ETag", "x");
  std::string head = Head("GET / HTTP/1.1\r\n\r\n", r, 10, 3600);
  EXPECT_NE(head.find("Cache-Control: no-store\r\n"), std::string::npos);
  EXPECT_NE(head.find("ETag: x\r\n"), std::string::npos);
}

TEST(PrepareServe, VideoGetsDateRangesTagAndSafeSessionId) {
  EXPECT_EQ(Head("GET /v.mp4 HTTP/1.1\r\nX-Playback-Session-Id: AB-12\r\n\r\n",
                 ProviderResponse("video/mp4", 1000), 1000),
            "HTTP/1.1 200 OK\r\nContent-Type: video/mp4\r\nContent-Length: 1000\r\n"
            "Last-Modified: Mon, 23 Jul 2012 10:20:30 GMT\r\n"
            "Date: Wed, 13 Mar 2024 14:41:56 GMT\r\nAccept-Ranges: bytes\r\n"
            "Connection: keep-alive\r\nX-Playback-Session-Id: AB-12\r\n"
            "ETag: 4D6E334A6C323130323A304754\r\nVary: Origin\r\n\r\n");
  // A session id with a CR in it is not echoed.
  std::string head = Head("GET /v.mp4 HTTP/1.1\r\nX-Playback-Session-Id: a\rSet-Cookie: x\r\n\r\n",
                          ProviderResponse("video/mp4", 1000), 1000);
  EXPECT_EQ(head.find("Set-Cookie"), std::string::npos);
  EXPECT_EQ(head.find("X-Playback-Session-Id"), std::string::npos);
}

TEST(PrepareServe, UnsatisfiableRangesGet416) {
  for (const char* range :
       {"bytes=2000-3000", "bytes=600-500", "bytes=-0", "bytes=--9223372036854775808"}) {
    EXPECT_EQ(Head(std::string("GET /a HTTP/1.1\r\nRange: ") + range + "\r\n\r\n",
                   ProviderResponse("video/mp4", 1000), 1000),
              "HTTP/1.1 416 \r\nContent-Range: bytes */1000\r\n\r\n")
        << range;
  }
}

TEST(PrepareServe, RangeNotInBytesIsIgnored) {
  for (const char* range : {"items=0-5", "Bytes=0-5", "bytes="}) {
    std::string head = Head(std::string("GET /a HTTP/1.1\r\nRange: ") + range + "\r\n\r\n",
                            ProviderResponse("text/plain", 1000), 1000);
    EXPECT_EQ(head.find("Content-Range"), std::string::npos) << range;
    EXPECT_NE(head.find("Cache-Control: max-age=5"), std::string::npos) << range;
  }
}

// Only the server's own origins read across origins, each named back; other pages, a
// file:// page ("null") and look-alikes get nothing unless every origin was allowed.
TEST(PrepareServe, CrossOriginOnlyForTheServersOwnOriginsUnlessAnyIsAllowed) {
  // The allowed origin each answer names ("" for none); every answer varies by Origin.
  auto allowed = [](const std::string& origin, bool any) {
    const std::string head = Head("GET /a HTTP/1.1\r\nOrigin: " + origin + "\r\n\r\n",
                                  ProviderResponse("text/css", 10), 10, 5, any);
    EXPECT_NE(head.find("Vary: Origin\r\n"), std::string::npos) << origin;
    const size_t at = head.find("Access-Control-Allow-Origin: ");
    return at == std::string::npos ? "" : head.substr(at + 29, head.find('\r', at) - at - 29);
  };
  for (bool any : {false, true}) {
    for (const char* own : {"http://localhost:4711", "http://LocalHost:4711",
                            "http://127.0.0.1:4711", "http://[::1]:4711"})
      EXPECT_EQ(allowed(own, any), any ? "*" : own) << "any=" << any;
    for (const char* other :
         {"http://localhost:4712", "http://localhost:47110", "http://localhost",
          "https://localhost:4711", "http://evil.localhost:4711", "http://localhost.evil:4711",
          "null", "http://example.com", ""})
      EXPECT_EQ(allowed(other, any), any ? "*" : "") << other << " any=" << any;
  }
  // A cached answer without the header must not be reused for a cross-origin fetch.
  EXPECT_NE(Head("GET /a HTTP/1.1\r\n\r\n", ProviderResponse("text/css", 10), 10)
                .find("Vary: Origin\r\n"),
            std::string::npos);
}

// Every kind gets the cross-origin pair; an empty entry and a navigation document get
// none of the headers the server adds to media.
TEST(PrepareServe, CrossOriginPairOnEveryKindServerHeadersOnMediaOnly) {
  for (auto [type, size] : {std::pair<const char*, uint64_t>{"video/mp4", 10},
                            {"video/mp4", 0},
                            {"application/x-morvane-navigation", 50}}) {
    std::string head =
        Head("GET /a HTTP/1.1\r\nOrigin: http://localhost:4711\r\nRange: bytes=1-2\r\n\r\n",
             ProviderResponse(type, size), size);
    EXPECT_NE(head.find("Vary: Origin\r\nAccess-Control-Allow-Origin: http://localhost:4711\r\n"),
              std::string::npos)
        << type;
    if (size == 10) continue;  // a range of a video: served as media
    for (const char* absent : {"Date", "ETag", "Accept-Ranges", "Cache-Control", "Content-Range"}) {
      EXPECT_EQ(head.find(absent), std::string::npos) << type << " " << absent;
    }
  }
}

TEST(BuildResponseHead, DropsTransferEncodingKeepsLengthOfEmpty) {
  HttpMessage r;
  r.Set("Transfer-Encoding", "chunked");
  r.Set("Content-Length", "0");
  EXPECT_EQ(BuildResponseHead(r, 0, 0, ""), "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n");
}

}  // namespace
}  // namespace storage
