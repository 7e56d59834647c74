#include "httpserver/http_message.h"

#include <gtest/gtest.h>

namespace storage {
namespace {

TEST(HttpMessage, ParsesHeadersFoldedLinesAndStopsAtTheLastLineEnd) {
  HttpMessage empty;
  EXPECT_EQ(empty.Serialize(), "HTTP/1.1 200 OK\r\n\r\n");
  HttpMessage m(
      "GET /a HTTP/1.1\r\n  orphan\r\nHost:  example \t\r\nX-Long: one\r\n \t two\r\n\tthree\r\n"
      "NoColon\r\ncontent-type:text/plain\r\n\r\nx=1: y\r\nB: 2");
  EXPECT_EQ(m.status, 500);  // a request line sets no status
  ASSERT_EQ(m.headers.size(), 5u);
  EXPECT_EQ(m.Get("host"), "example");
  EXPECT_EQ(m.Get("X-LONG"), "one two three");
  EXPECT_TRUE(m.Has("NoColon"));
  EXPECT_EQ(m.Get("NoColon"), "");
  EXPECT_EQ(m.Get("Content-Type"), "text/plain");
  EXPECT_EQ(m.Get("x=1"), "y");  // body lines ending in CRLF read as headers
  EXPECT_FALSE(m.Has("B"));
  EXPECT_FALSE(m.Has("Missing"));
}

TEST(HttpMessage, SetReplacesInPlaceRemoveErasesFirst) {
  HttpMessage m;
  m.Set("Content-Type", "text/html");
  m.Set("Content-Length", "1");
  m.Set("content-type", "video/mp4");
  m.headers.emplace_back("X", "1");
  m.headers.emplace_back("x", "2");
  m.Remove("X");
  m.Remove("nothing");
  EXPECT_EQ(m.Serialize(),
            "HTTP/1.1 200 OK\r\nContent-Type: video/mp4\r\nContent-Length: 1\r\nx: 2\r\n\r\n");
}

TEST(HttpDate, FormatsAndConvertsUnixSeconds) {
  EXPECT_EQ(FormatHttpDate(HttpTime{99, 13, 7, 1, 0, 0, 0}), "???, 01 ??? 0099 00:00:00 GMT");
  EXPECT_EQ(FormatHttpDate(HttpTimeFromUnix(0)), "Thu, 01 Jan 1970 00:00:00 GMT");
  EXPECT_EQ(FormatHttpDate(HttpTimeFromUnix(1343038830)), "Mon, 23 Jul 2012 10:20:30 GMT");
  EXPECT_EQ(FormatHttpDate(HttpTimeFromUnix(1709217599)), "Thu, 29 Feb 2024 14:39:59 GMT");
  EXPECT_GE(CurrentHttpTime().year, 2024);
}

}  // namespace
}  // namespace storage
