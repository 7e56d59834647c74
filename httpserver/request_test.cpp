#include "httpserver/request.h"

#include <gtest/gtest.h>

namespace storage {
namespace {

TEST(FindHeaderEnd, FindsFirstBlankLine) {
  EXPECT_EQ(FindHeaderEnd("GET / HTTP/1.1\r\n\r\nbody"), 18u);
  EXPECT_EQ(FindHeaderEnd("GET / HTTP/1.1\r\n\r"), std::string::npos);
  EXPECT_EQ(FindHeaderEnd("GET / HTTP/1.1\r\n\n\n"), 17u);  // bare LF ends lines too
  EXPECT_EQ(FindHeaderEnd("GET / HTTP/1.1\nHost: a\n\r\nxy"), 25u);
  EXPECT_EQ(FindHeaderEnd("GET / HTTP/1.1\r\nA: \r\r\n"), std::string::npos);
  EXPECT_EQ(FindHeaderEnd("ab\r\n\r\n", 2), 6u);
}

TEST(ParseRequestLine, Verdicts) {
  struct Case {
    const char* request;
    RequestVerdict verdict;
  } cases[] = {
      {"GET\r\n\r\n", RequestVerdict::kBadRequest},
      {"GET /x", RequestVerdict::kBadRequest},  // no end of the target
      {"get /1a2b/x HTTP/1.1\r\n\r\n", RequestVerdict::kNotAllowed},
      {"GET\t/1a2b/x HTTP/1.1\r\n\r\n", RequestVerdict::kNotAllowed},  // method "GET\t/1a2b/x"
      {"GET / HTTP/1.1\r\n\r\n", RequestVerdict::kServe},             // the start page
      {"GET /1a2b HTTP/1.1\r\n\r\n", RequestVerdict::kRedirect},
      {"GET /1a2 HTTP/1.1\r\n\r\n", RequestVerdict::kServe},
      {"GET /1a2b/ HTTP/1.1\r\n\r\n", RequestVerdict::kServe},
      // A broken escape would otherwise be cut off and serve another entry.
      {"GET /%zz HTTP/1.1\r\n\r\n", RequestVerdict::kBadRequest},
      {"GET /index.html% HTTP/1.1\r\n\r\n", RequestVerdict::kBadRequest},
      {"GET /a%2 HTTP/1.1\r\n\r\n", RequestVerdict::kBadRequest},
      {"GET /a%2g?x HTTP/1.1\r\n\r\n", RequestVerdict::kBadRequest},
      {"GET /a?%zz HTTP/1.1\r\n\r\n", RequestVerdict::kServe},  // the query is not read
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ParseRequestLine(c.request, "1a2b/").verdict, c.verdict) << c.request;
  }
}

TEST(ParseRequestLine, PathDerivation) {
  struct Case {
    const char* request;
    const char* path;
  } cases[] = {
      {"GET /1a2b/dir%20a/b.txt?x=1 HTTP/1.1\r\n", "dir a/b.txt"},
      {"GET /1a2b/a+b%2fc HTTP/1.1\r\n", "a+b/c"},
      {"GET 1a2b/x HTTP/1.1\r\n", "x"},   // no leading '/'
      {"GET /zzzz/x HTTP/1.1\r\n", "zzzz/x"},  // not the prefix: from the root
      {"GET /1a2b/1a2b/x HTTP/1.1\r\n", "1a2b/x"},
      {"GET /css/a%2Fb.css HTTP/1.1\r\n", "css/a/b.css"},
      {"GET /1a2b/guide/?x HTTP/1.1\r\n", "guide/index.html"},
      {"GET /%31a2b/ HTTP/1.1\r\n", "index.html"},
      {"HEAD /1a2b/%C3%A9t%C3%A9.html HTTP/1.1\r\n", "\xC3\xA9t\xC3\xA9.html"},
      {"GET /1a2b/x?y/z.mp4 HTTP/1.1\r\n", "x"},
  };
  for (const Case& c : cases) {
    RequestLine line = ParseRequestLine(c.request, "1a2b/");
    EXPECT_EQ(line.verdict, RequestVerdict::kServe) << c.request;
    EXPECT_EQ(line.path, c.path) << c.request;
  }
  EXPECT_EQ(ParseRequestLine("HEAD /1a2b/x HTTP/1.1\r\n", "1a2b/").method, RequestMethod::kHead);
  EXPECT_EQ(ParseRequestLine("POST /1a2b/x HTTP/1.1\r\n", "1a2b/").method, RequestMethod::kPost);
  EXPECT_EQ(ParseRequestLine("GET /x HTTP/1.1\r\n", "").path, "x");
  EXPECT_EQ(ParseRequestLine("GET /1a2b?a=1 HTTP/1.1\r\n", "1a2b/").location, "/1a2b/?a=1");
  EXPECT_EQ(ParseRequestLine(std::string("GET /1a2b?a\0 HTTP/1.1\r\n", 23), "1a2b/").location,
            "/1a2b/");
}

TEST(RewriteWebAppPath, DropsMarkerAndFirstSegment) {
  const std::pair<const char*, const char*> cases[] = {
      {"_WA_//page.html", "page.html"}, {"_WA_/abc/d/e.js", "d/e.js"},  {"_WA_/abc", "_WA_/abc"},
      {"x/_WA_/abc/p", "x/_WA_/abc/p"}, {"_WA_/a\nb/p", "_WA_/a\nb/p"}, {"_WA_/a/p\nq", "p"},
  };
  for (const auto& [path, rewritten] : cases) EXPECT_EQ(RewriteWebAppPath(path), rewritten) << path;
}

TEST(ParseRequest, OnePassOverHeadersBodyCutAtNulForPostAndSafeHeaderValues) {
  ParsedRequest post = ParseRequest(std::string("POST /x HTTP/1.1\nA: 1\n\nab\0c\r\nB: d", 33), "");
  EXPECT_EQ(post.line.path, "x");
  EXPECT_EQ(post.body, "ab");
  ASSERT_EQ(post.headers.headers.size(), 1u);  // the body's lines are not headers
  EXPECT_EQ(post.headers.Get("A"), "1");
  ParsedRequest get = ParseRequest(std::string("GET /_WA_/s/y HTTP/1.1\r\n\r\nab\0cd", 31), "");
  EXPECT_EQ(get.line.path, "y");
  EXPECT_EQ(get.body, std::string("ab\0cd", 5));
  EXPECT_TRUE(IsSafeHeaderValue("abc def"));
  EXPECT_TRUE(IsLoopbackHost(""));
  for (const char* yes : {"gzip", "deflate, GZIP;q=0.5", "br,x-gzip", "*", "identity, *;q=1"}) {
    EXPECT_TRUE(AcceptsGzip(yes)) << yes;
  }
  for (const char* no : {"", "deflate, br", "gzip;q=0", "gzip; q=0.000, *", "*;q=0", "gzipx"}) {
    EXPECT_FALSE(AcceptsGzip(no)) << no;
  }
  EXPECT_FALSE(IsSafeHeaderValue("a\rb"));
  EXPECT_FALSE(IsSafeHeaderValue("a\nSet-Cookie: x"));
  EXPECT_FALSE(IsSafeHeaderValue(std::string("a\0b", 3)));
}

}  // namespace
}  // namespace storage
