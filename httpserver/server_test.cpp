// The server over real loopback sockets: wire forms, request framing, hostile input.
#include <gtest/gtest.h>

#include <vector>

#include "httpserver/http_server.h"
#include "httpserver/socket_handler.h"
#include "testing/memory_provider.h"
#include "testing/test_client.h"
#include "utils/exception.h"

namespace storage {
namespace {

using namespace storage::test;

class ServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    server.SetRunPrefix("1a2b/");
    std::string url = server.Start(-1, u"caption");
    ASSERT_EQ(url.rfind("http://localhost:", 0), 0u) << url;
    port = PortOf(url);
    provider.entries["page.html"] = std::string(1234, 'h');
    provider.entries["v.mp4"] = std::string(1000, 'v');
    for (int i = 0; i < 1000; ++i) provider.entries["data.txt"] += static_cast<char>(i % 97 + 32);
    provider.entries["empty.js"] = "";
    server.SetProvider(&provider);
  }
  std::string Get(const std::string& target, const std::string& headers = "") {
    const bool host = headers.rfind("Host:", 0) == 0;
    return Exchange(port, "GET " + target + " HTTP/1.1\r\n" + (host ? "" : "Host: localhost\r\n") +
                              headers + "\r\n");
  }
  static std::string HeadOf(const std::string& r) { return r.substr(0, r.find("\r\n\r\n") + 4); }
  static std::string BodyOf(const std::string& r) {
    return r.find("\r\n\r\n") == std::string::npos ? "" : r.substr(r.find("\r\n\r\n") + 4);
  }

  HttpServer server{false};
  MapProvider provider;
  uint16_t port = 0;
};

TEST_F(ServerTest, EntriesGoOutWithTheirHeadAndBodyFromTheDecodedPath) {
  EXPECT_EQ(Get("/1a2b/nothing.html", "Origin: http://o\r\n"),
            "HTTP/1.1 404 \r\nContent-Length: 0\r\n\r\n");
  provider.unreadable.insert("broken.js");
  EXPECT_EQ(Get("/1a2b/broken.js"),
            "HTTP/1.1 500 \r\nContent-Length: 0\r\nCache-Control: no-store\r\n\r\n");
  EXPECT_TRUE(provider.WasRequested("nothing.html"));
  provider.entries["dir a/b.txt"] = "ok";
  EXPECT_EQ(BodyOf(Get("/1a2b/_WA_/abc/dir%20a/b.txt?x")), "ok");
  std::string r = Get("/1a2b/page.html?x=1");
  EXPECT_EQ(HeadOf(r),
            "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: 1234\r\n"
            "Last-Modified: Mon, 23 Jul 2012 10:20:30 GMT\r\nCache-Control: max-age=5\r\n"
            "Vary: Origin\r\n\r\n");
  EXPECT_EQ(BodyOf(r), std::string(1234, 'h'));
  EXPECT_EQ(Get("/1a2b/empty.js"),
            "HTTP/1.1 200 OK\r\nContent-Type: application/javascript\r\nContent-Length: 0\r\n"
            "Last-Modified: Mon, 23 Jul 2012 10:20:30 GMT\r\nVary: Origin\r\n\r\n");
  // Validators are never compared: a revalidating client always gets the data.
  r = Get("/1a2b/v.mp4", "If-None-Match: 4D6E334A6C323130323A304754\r\n");
  EXPECT_EQ(r.substr(0, 15), "HTTP/1.1 200 OK");
  EXPECT_NE(r.find("\r\nETag: 4D6E334A6C323130323A304754\r\n"), std::string::npos);
  EXPECT_EQ(BodyOf(r), std::string(1000, 'v'));
}

TEST_F(ServerTest, RangesOverTheWire) {
  const std::string& data = provider.entries["data.txt"];
  struct Case {
    const char* range;
    const char* status;
    size_t from, count;
  } cases[] = {
      {"bytes=100-199", "206 Partial Content", 100, 100},
      {"bytes=0-", "200 OK", 0, 1000},
      {"bytes=500-5000", "206 Partial Content", 500, 500},
      {"bytes=0-0", "206 Partial Content", 0, 1},
  };
  for (const Case& c : cases) {
    std::string r = Get("/1a2b/data.txt", std::string("Range: ") + c.range + "\r\n");
    EXPECT_EQ(r.substr(0, r.find("\r\n")), std::string("HTTP/1.1 ") + c.status) << c.range;
    const std::string range =
        "bytes " + std::to_string(c.from) + "-" + std::to_string(c.from + c.count - 1) + "/1000";
    for (const std::string& line :
         {"Content-Length: " + std::to_string(c.count), "Content-Range: " + range,
          std::string("Accept-Ranges: bytes")}) {
      EXPECT_NE(HeadOf(r).find("\r\n" + line + "\r\n"), std::string::npos) << line << "\n" << r;
    }
    EXPECT_EQ(r.find("Cache-Control"), std::string::npos);
    EXPECT_EQ(BodyOf(r), data.substr(c.from, c.count)) << c.range;
  }
  EXPECT_EQ(Get("/1a2b/data.txt", "Range: bytes=1000-\r\n"),
            "HTTP/1.1 416 \r\nContent-Range: bytes */1000\r\nContent-Length: 0\r\n\r\n");
}

TEST_F(ServerTest, HeadPostAndOtherMethods) {
  // HEAD: exactly GET's status line and headers (the date aside), and no body.
  auto withoutDate = [](std::string head) {
    size_t at = head.find("\r\nDate: ");
    if (at != std::string::npos) head.erase(at, head.find("\r\n", at + 2) - at);
    return head;
  };
  for (const std::string ask :
       {"/1a2b/page.html HTTP/1.1\r\nHost: localhost\r\nOrigin: http://o\r\n", "/1a2b/v.mp4 HTTP/1.1\r\nHost: localhost\r\n",
        "/1a2b/data.txt HTTP/1.1\r\nHost: localhost\r\nRange: bytes=10-19\r\n", "/1a2b/gone.txt HTTP/1.1\r\nHost: localhost\r\n"}) {
    const std::string head = Exchange(port, "HEAD " + ask + "\r\n");
    EXPECT_EQ(withoutDate(head), withoutDate(HeadOf(Exchange(port, "GET " + ask + "\r\n"))));
    EXPECT_EQ(head.substr(head.find("\r\n\r\n")), "\r\n\r\n") << ask;
  }
  EXPECT_EQ(Exchange(port, "POST /1a2b/form HTTP/1.1\r\nHost: localhost\r\nContent-Length: 3\r\n\r\na=1"),
            "HTTP/1.1 200 \r\nContent-Length: 0\r\n\r\n");
  EXPECT_EQ(Exchange(port, "PUT /1a2b/page.html HTTP/1.1\r\nHost: localhost\r\n\r\n"),
            "HTTP/1.1 405 \r\nAllow: GET, POST, HEAD\r\nContent-Length: 0\r\n\r\n");
  EXPECT_EQ(Exchange(port, "GET\r\n\r\n"),
            "HTTP/1.1 400 \r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
}

// One connection carries pipelined requests of every kind, answered in order; a POST body
// that looks like a request is not taken for one; "Connection: close" from the client
// ends the connection after its answer, which says so.
TEST_F(ServerTest, KeepAliveAnswersPipelinedMixedRequestsInOrder) {
  ClientSocket s = Connect(port);
  SendText(s,
           "GET /1a2b/page.html HTTP/1.1\r\nHost: localhost\r\n\r\n"
           "POST /1a2b/form HTTP/1.1\r\nHost: localhost\r\nContent-Length: 20\r\n\r\nGET /1a2b/x HTTP/1.1"
           "HEAD /1a2b/v.mp4 HTTP/1.1\r\nHost: localhost\r\n\r\n"
           "GET /1a2b/nothing HTTP/1.1\r\nHost: localhost\r\n\r\n"
           "GET /1a2b/data.txt HTTP/1.1\r\nHost: localhost\r\nRange: bytes=0-9\r\nConnection: close\r\n\r\n"
           "GET /1a2b/page.html HTTP/1.1\r\nHost: localhost\r\n\r\n");
  const std::string all = ReceiveAll(s);  // ends with the server's close, not the timeout
  CloseSocket(s);
  std::vector<std::string> responses;
  for (size_t at = all.find("HTTP/1.1 "); at != std::string::npos;) {
    const size_t next = all.find("HTTP/1.1 ", at + 1);
    responses.push_back(all.substr(at, next - at));
    at = next;
  }
  ASSERT_EQ(responses.size(), 5u) << all;
  const char* statuses[] = {"200 OK", "200 ", "200 OK", "404 ", "206 Partial Content"};
  for (size_t i = 0; i < 5; ++i) {
    EXPECT_EQ(responses[i].rfind(std::string("HTTP/1.1 ") + statuses[i] + "\r\n", 0), 0u) << i;
    EXPECT_EQ(responses[i].find("Connection: close") != std::string::npos, i == 4) << i;
  }
  EXPECT_EQ(BodyOf(responses[0]), std::string(1234, 'h'));
  EXPECT_EQ(BodyOf(responses[2]), "");
  EXPECT_EQ(BodyOf(responses[4]), provider.entries["data.txt"].substr(0, 10));
  EXPECT_FALSE(provider.WasRequested("x"));
  // HTTP/1.0 gets the close it expects, without ending its side first.
  s = Connect(port);
  SendText(s, "GET /1a2b/page.html HTTP/1.0\r\n\r\n");
  const std::string old = ReceiveAll(s);
  CloseSocket(s);
  EXPECT_NE(HeadOf(old).find("\r\nConnection: close\r\n"), std::string::npos) << old;
  EXPECT_EQ(BodyOf(old), std::string(1234, 'h'));
}

TEST_F(ServerTest, PathsFromTheRunPrefixOrTheRootFoldersAndLocalHostsOnly) {
  provider.entries["index.html"] = "start";
  provider.entries["css/site.css"] = "root-relative";
  provider.entries["guide/index.html"] = "guide";
  provider.entries["1a2b"] = "not an entry to reach";
  const std::pair<const char*, const char*> served[] = {
      {"/1a2b/css/site.css", "root-relative"}, {"/css/site.css", "root-relative"},
      {"/", "start"},  {"/1a2b/", "start"}, {"/1a2b/guide/", "guide"}, {"/guide/?x", "guide"},
      {"/1a2b/_WA_/s/guide/", "guide"},
  };
  for (const auto& [target, body] : served) EXPECT_EQ(BodyOf(Get(target)), body) << target;
  // Another prefix is a folder of the archive, not this run's prefix.
  EXPECT_EQ(Get("/zzzz/css/site.css"), "HTTP/1.1 404 \r\nContent-Length: 0\r\n\r\n");
  EXPECT_TRUE(provider.WasRequested("zzzz/css/site.css"));
  EXPECT_EQ(Get("/1a2b?show=a"),
            "HTTP/1.1 301 \r\nLocation: /1a2b/?show=a\r\nContent-Length: 0\r\n\r\n");
  // Bare LF line ends.
  EXPECT_EQ(BodyOf(Exchange(port, "GET /1a2b/css/site.css HTTP/1.1\nHost: localhost\n\n")),
            "root-relative");
  for (const char* host : {"localhost:8080", "LOCALHOST", "127.0.0.1", "[::1]:1", "[::1]"}) {
    EXPECT_EQ(BodyOf(Get("/", std::string("Host: ") + host + "\r\n")), "start") << host;
  }
  for (const char* host : {"evil.example", "localhost.evil.example", "127.0.0.2", "localhost:",
                           "[::1]x", "localhost:80x"}) {
    ClientSocket s = Connect(port);
    SendText(s, std::string("GET / HTTP/1.1\r\nHost: ") + host + "\r\n\r\n");
    EXPECT_EQ(ReceiveAll(s), "HTTP/1.1 403 \r\nContent-Length: 0\r\nConnection: close\r\n\r\n")
        << host;
    CloseSocket(s);
  }
}

TEST_F(ServerTest, RequestSplitAtEveryByte) {
  const std::string request =
      "GET /1a2b/page.html HTTP/1.1\r\nHost: 127.0.0.1:80\r\nX-A: folded\r\n value\r\n\r\n";
  const std::string expected = Get("/1a2b/page.html");
  for (size_t cut = 1; cut < request.size(); ++cut) {
    ClientSocket s = Connect(port);
    ASSERT_GE(s, 0);
    SendText(s, request.substr(0, cut));
    SleepMs(2);
    SendText(s, request.substr(cut));
    ShutdownSend(s);
    EXPECT_EQ(ReceiveAll(s), expected) << cut;
    CloseSocket(s);
  }
}

// What RFC 9112 says to reject is answered 400 and the connection ends, so nothing behind
// it is read as a request; control entries are not served; other origins neither read
// nor open WebSockets.
TEST_F(ServerTest, RejectedFramingControlEntriesAndForeignOrigins) {
  const std::string refused = "HTTP/1.1 400 \r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
  const std::string next = "GET /1a2b/page.html HTTP/1.1\r\nHost: localhost\r\n\r\n";
  for (const std::string& bad : {
           "POST /1a2b/x HTTP/1.1\r\nHost: localhost\r\nContent-Length : " +
               std::to_string(next.size()) + "\r\n\r\n",
           std::string("GET /1a2b/page.html HTTP/1.1\r\n\r\n"),
           std::string("GET /1a2b/page.html HTTP/1.1\r\nHost:\r\n\r\n"),
           std::string("GET /1a2b/page.html HTTP/1.1\r\nHost: localhost\r\nHost: localhost\r\n\r\n"),
           std::string("GET /%zz HTTP/1.1\r\nHost: localhost\r\n\r\n"),
           std::string("GET /1a2b/page.html% HTTP/1.1\r\nHost: localhost\r\n\r\n")}) {
    EXPECT_EQ(Exchange(port, bad + next), refused) << bad;
  }
  // An HTTP/1.0 client may leave Host out.
  EXPECT_EQ(BodyOf(Exchange(port, "GET /1a2b/page.html HTTP/1.0\r\n\r\n")), std::string(1234, 'h'));

  const std::string upgrade =
      "GET /chat HTTP/1.1\r\nHost: localhost\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
      "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n";
  const std::string own = "http://127.0.0.1:" + std::to_string(port);
  const std::string forbidden = "HTTP/1.1 403 \r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
  for (const std::string origin : {"null", "http://localhost:1", "http://example.com"}) {
    EXPECT_EQ(Exchange(port, upgrade + "Origin: " + origin + "\r\n\r\n"), forbidden) << origin;
    EXPECT_EQ(Exchange(port, upgrade + "Sec-WebSocket-Origin: " + origin + "\r\n\r\n"), forbidden);
  }
  EXPECT_EQ(Exchange(port, upgrade + "Origin: " + own + "\r\n\r\n").rfind("HTTP/1.1 101 ", 0), 0u);
  EXPECT_EQ(Exchange(port, upgrade + "\r\n").rfind("HTTP/1.1 101 ", 0), 0u);  // not a browser
  // Cross-origin reads: the own origin is named back, others get nothing.
  EXPECT_NE(Get("/1a2b/page.html", "Origin: " + own + "\r\n")
                .find("\r\nAccess-Control-Allow-Origin: " + own + "\r\n"),
            std::string::npos);
  EXPECT_EQ(Get("/1a2b/page.html", "Origin: null\r\n").find("Access-Control"), std::string::npos);
  // The author's (or the user's) opt-in opens both to every page.
  server.options.crossOriginAny = true;
  EXPECT_EQ(Exchange(port, upgrade + "Origin: null\r\n\r\n").rfind("HTTP/1.1 101 ", 0), 0u);
  EXPECT_NE(Get("/1a2b/page.html", "Origin: null\r\n").find("\r\nAccess-Control-Allow-Origin: *\r\n"),
            std::string::npos);
}

TEST_F(ServerTest, HostileBytesNeverStopTheServer) {
  std::string garbage;
  for (int i = 0; i < 256; ++i) garbage += static_cast<char>(i);
  const std::string cases[] = {
      "GET /1a2b/" + garbage + " HTTP/1.1\r\nHost: localhost\r\n\r\n",
      std::string("GET /1a2b/p\0age.html HTTP/1.1\r\nHost: localhost\r\n\r\n", 51),
      "GET /1a2b/v.mp4 HTTP/1.1\r\nHost: localhost\r\nRange: bytes=-99999999999999999999999\r\n\r\n",
      "GET /1a2b/v.mp4 HTTP/1.1\r\nHost: localhost\r\nRange: bytes=18446744073709551615-1\r\n\r\n",
      "GET /1a2b/v.mp4 HTTP/1.1\r\nHost: localhost\r\n: \r\n:\r\n\t\r\n" + garbage + "\r\n\r\n",
      "GET /1a2b/_WA_/\r\n\r\n",
      "GET /1a2b/v.mp4 HTTP/1.1\r\nHost: localhost\r\nX-Playback-Session-Id: a\rb\r\nOrigin: \x01\r\n\r\n",
  };
  for (const std::string& c : cases) {
    std::string r = Exchange(port, c);
    EXPECT_TRUE(r.empty() || r.rfind("HTTP/1.1 ", 0) == 0) << r;
    EXPECT_EQ(r.find("\r\nb\r\n"), std::string::npos);
  }
  // A header block that never ends is cut off with 431 instead of growing without bound.
  ClientSocket s = Connect(port);
  std::string chunk(65536, 'a');
  size_t sent = 0;
  while (sent < 4 * SocketHandler::kMaxHeaderBytes && SendText(s, chunk)) sent += chunk.size();
  EXPECT_EQ(ReceiveAll(s), "HTTP/1.1 431 \r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
  CloseSocket(s);
  EXPECT_EQ(BodyOf(Get("/1a2b/v.mp4")), std::string(1000, 'v'));
}

TEST(ServerLifecycle, NoProviderStopRestartAndBusyPort) {
  HttpServer server(false);
  uint16_t port = PortOf(server.Start(-1, u""));
  EXPECT_EQ(Exchange(port, "GET /x.html HTTP/1.1\r\nHost: localhost\r\n\r\n"),
            "HTTP/1.1 503 \r\nContent-Length: 0\r\n\r\n");
  server.RequestStop();
  EXPECT_TRUE(server.WaitForThread(3000));
  EXPECT_EQ(Connect(port), -1);
  port = PortOf(server.Start(-1, u""));
  EXPECT_NE(port, 0);
  MapProvider provider;
  server.SetProvider(&provider);
  EXPECT_EQ(Exchange(port, "GET /x.html HTTP/1.1\r\nHost: localhost\r\n\r\n"),
            "HTTP/1.1 404 \r\nContent-Length: 0\r\n\r\n");
  // The same port on ::1, so "localhost" reaches this server whichever family it resolves
  // to first; and no other socket can bind the port beside it on either family (on Windows
  // the exclusive hold is what refuses a socket asking for SO_REUSEADDR).
  ClientSocket v6 = Connect(port, 0, true);
  ASSERT_GE(v6, 0) << "nothing listens on [::1]:" << port;
  SendText(v6, "GET /x.html HTTP/1.1\r\nHost: [::1]\r\n\r\n");
  ShutdownSend(v6);
  EXPECT_EQ(ReceiveAll(v6), "HTTP/1.1 404 \r\nContent-Length: 0\r\n\r\n");
  CloseSocket(v6);
  EXPECT_FALSE(CanBind(port));
  EXPECT_FALSE(CanBind(port, true));
  HttpServer second(false);
  try {
    second.Start(port, u"");
    ADD_FAILURE() << "bound a busy port";
  } catch (const utils::Exception& e) {
    EXPECT_EQ(e.GetMessage().rfind(u"socket bind error: ", 0), 0u);
    EXPECT_GT(e.GetMessage().size(), 19u);
    EXPECT_EQ(e.GetLocation(), u"storage::HttpServer::Start");
  }
  server.Stop();
  EXPECT_EQ(Connect(port), -1);
  EXPECT_EQ(Connect(port, 0, true), -1);
}

}  // namespace
}  // namespace storage
