// Request framing on persistent connections and the framing of response heads, and the
// send queue's order and accounting across its blocks.
#include "httpserver/request_framing.h"

#include "httpserver/request.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "httpserver/send_queue.h"

namespace storage {
namespace {

TEST(FrameRequest, LengthsVersionsAndConnectionTokens) {
  struct Case {
    const char* head;
    bool valid, toEnd, keepAlive;
    uint64_t body;
  } cases[] = {
      {"GET / HTTP/1.1\r\nHost: localhost\r\n\r\n", true, false, true, 0},
      {"GET / HTTP/1.1\nHost: a\n\n", true, false, true, 0},
      {"GET / HTTP/1.0\r\n\r\n", true, false, false, 0},
      {"GET / HTTP/1.0\r\nConnection: keep-alive\r\n\r\n", true, false, true, 0},
      {"GET / HTTP/1.0\r\nConnection: keep-alive, close\r\n\r\n", true, false, false, 0},
      {"GET /\r\n\r\n", true, false, false, 0},
      {"GET / HTTP/1.1\r\nHost: localhost\r\nconnection: Keep-Alive, CLOSE\r\n\r\n", true, false, false, 0},
      {"GET / HTTP/1.1\r\nHost: localhost\r\nConnection: keep-alive\r\nX-Close: close\r\n\r\n", true, false, true, 0},
      {"POST / HTTP/1.1\r\nHost: localhost\r\nContent-Length:  42 \r\n\r\n", true, false, true, 42},
      {"POST / HTTP/1.1\r\nHost: localhost\r\nContent-Length: 4\r\nContent-Length: 4\r\n\r\n", true, false, true, 4},
      {"POST / HTTP/1.1\r\nHost: localhost\r\nContent-Length: 4\r\nContent-Length: 5\r\n\r\n", false, false, false, 0},
      {"POST / HTTP/1.1\r\nHost: localhost\r\nContent-Length: -1\r\n\r\n", false, false, false, 0},
      {"POST / HTTP/1.1\r\nHost: localhost\r\nContent-Length: 1e3\r\n\r\n", false, false, false, 0},
      {"POST / HTTP/1.1\r\nHost: localhost\r\nContent-Length: 99999999999999999999999\r\n\r\n", false, false, false, 0},
      {"POST / HTTP/1.1\r\nHost: localhost\r\nTransfer-Encoding: chunked\r\n\r\n", true, true, false, 0},
      {"GET / HTTP/1.1\r\nHost: localhost\r\nUpgrade: websocket\r\n\r\n", true, true, false, 0},
      // What RFC 9112 says to reject: a blank before the colon (the body would otherwise
      // be read as the next request), a name that is no token, Host missing, empty or
      // twice (HTTP/1.0 may leave it out, but not send two).
      {"POST / HTTP/1.1\r\nHost: a\r\nContent-Length : 3\r\n\r\n", false, false, false, 0},
      {"POST / HTTP/1.1\r\nHost: a\r\nContent-Length\t: 3\r\n\r\n", false, false, false, 0},
      {"GET / HTTP/1.1\r\nHost: a\r\n: x\r\n\r\n", false, false, false, 0},
      {"GET / HTTP/1.1\r\nHost: a\r\nX Y: z\r\n\r\n", false, false, false, 0},
      {"GET / HTTP/1.1\r\n\r\n", false, false, false, 0},
      {"GET / HTTP/1.1\r\nHost: \r\n\r\n", false, false, false, 0},
      {"GET / HTTP/1.1\r\nHost: a\r\nhost: a\r\n\r\n", false, false, false, 0},
      {"GET / HTTP/1.0\r\nHost: a\r\nHost: b\r\n\r\n", false, false, false, 0},
      {"GET / HTTP/1.0\r\nHost: \r\n\r\n", true, false, false, 0},
  };
  for (const Case& c : cases) {
    const RequestFrame f = ParseRequest(c.head, "").frame;
    EXPECT_EQ(f.announceKeepAlive, f.keepAlive && std::strstr(c.head, "HTTP/1.0") != nullptr)
        << c.head;
    EXPECT_EQ(f.valid, c.valid) << c.head;
    EXPECT_EQ(f.toEnd, c.toEnd) << c.head;
    EXPECT_EQ(f.keepAlive, c.keepAlive) << c.head;
    EXPECT_EQ(f.bodyLength, c.body) << c.head;
  }
}

TEST(FrameResponseHead, EveryResponseSaysHowItEndsAndWhetherTheConnectionStays) {
  struct Case {
    const char* head;
    uint64_t body;
    bool keepAlive;
    const char* expected;
    bool keepAliveAfter;
  } cases[] = {
      {"HTTP/1.1 404 \r\n\r\n", 0, true, "HTTP/1.1 404 \r\nContent-Length: 0\r\n\r\n", true},
      {"HTTP/1.1 404 \r\n\r\n", 0, false,
       "HTTP/1.1 404 \r\nContent-Length: 0\r\nConnection: close\r\n\r\n", false},
      {"HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\n", 0, true,
       "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\n", true},
      // A body with no length can only end with the connection.
      {"HTTP/1.1 200 OK\r\n\r\n", 9, true, "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n",
       false},
      // Media heads name the connection: the name now tells the truth either way.
      {"HTTP/1.1 200 OK\r\nConnection: keep-alive\r\nContent-Length: 3\r\n\r\n", 3, true,
       "HTTP/1.1 200 OK\r\nContent-Length: 3\r\nConnection: keep-alive\r\n\r\n", true},
      {"HTTP/1.1 200 OK\r\nConnection: keep-alive\r\nContent-Length: 3\r\n\r\n", 3, false,
       "HTTP/1.1 200 OK\r\nContent-Length: 3\r\nConnection: close\r\n\r\n", false},
  };
  for (const Case& c : cases) {
    bool keepAlive = c.keepAlive;
    EXPECT_EQ(FrameResponseHead(c.head, c.body, keepAlive), c.expected) << c.head;
    EXPECT_EQ(keepAlive, c.keepAliveAfter) << c.head;
  }
  // An HTTP/1.0 client that asked to keep the connection must hear that it stays.
  bool keepAlive = true;
  EXPECT_EQ(FrameResponseHead("HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\n", 3, keepAlive, true),
            "HTTP/1.1 200 OK\r\nContent-Length: 3\r\nConnection: keep-alive\r\n\r\n");
}

TEST(SendQueue, BytesLeaveInOrderAcrossBlocksAndPartialSends) {
  SendQueue q;
  std::string expected;
  for (int i = 0; i < 3000; ++i) {  // many small pieces (pongs) and some large ones
    std::string piece(i % 100 == 0 ? 70000 : 1 + i % 37, static_cast<char>('a' + i % 26));
    q.Append(piece);
    expected += piece;
  }
  char* at = q.Extend(10);
  std::memcpy(at, "0123456789", 10);
  q.Trim(4);  // six of the ten were filled
  expected += "012345";
  EXPECT_EQ(q.Size(), expected.size());
  std::string out;
  for (size_t step = 1; !q.Empty(); step = step * 3 % 65521) {
    std::string_view front = q.Front();
    ASSERT_FALSE(front.empty());
    const size_t n = std::min(front.size(), step);
    out.append(front.data(), n);
    q.Consume(n);
    ASSERT_EQ(q.Size(), expected.size() - out.size());
  }
  EXPECT_EQ(out, expected);
  // Trimming a partly sent queue keeps what was sent out of it.
  q.Append("abcdef");
  q.Consume(2);
  q.Trim(10);
  EXPECT_TRUE(q.Empty());
  EXPECT_TRUE(q.Front().empty());
}

}  // namespace
}  // namespace storage
