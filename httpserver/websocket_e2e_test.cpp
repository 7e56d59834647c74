// The upgrade on a running server, driven by a plain loopback client that writes the
// bytes itself: exact handshake responses, frames split and batched across writes,
// the server's replies, and the handler's view of the connection's life; and, where it
// is installed, headless Chromium.
#include <cstdlib>
#include <cstring>

#ifndef _WIN32
#include <unistd.h>

#include "testing/chromium.h"
#endif

#include "testing/websocket_fixture.h"

namespace storage::e2e {
namespace {

using test::ClientSocket;
using test::MaskedFrame;
using test::ReceiveExactly;
using test::Upgrade;

TEST_F(WebSocketServerTest, Rfc6455FramesSplitAndBatchedReachTheHandlerInOrder) {
  ClientSocket s = Upgrade(port_);
  ASSERT_TRUE(handler_.WaitFor([&] { return handler_.opens == 1; }));
  EXPECT_NE(handler_.currentWebSocket.load(), nullptr);

  // "Hello" in three writes, then a 200-byte frame and a ping in one write.
  const std::string hello = MaskedFrame(0x81, "Hello");
  for (const std::string& piece : {hello.substr(0, 1), hello.substr(1, 6), hello.substr(7)}) {
    ASSERT_TRUE(test::SendText(s, piece));
    test::SleepMs(20);  // separate reads on the server, as far as the network allows
  }
  const std::string m200 = "echo" + std::string(196, 'e');
  ASSERT_TRUE(test::SendText(s, MaskedFrame(0x81, m200) + MaskedFrame(0x89, "pp")));
  ASSERT_TRUE(handler_.WaitFor([&] { return handler_.messages.size() == 3; }));
  EXPECT_EQ(handler_.Messages(), (std::vector<std::string>{"Hello", m200, "pp"}));
  // The echo comes back as a final unmasked text frame, then the pong.
  EXPECT_EQ(ReceiveExactly(s, 4 + 200), std::string("\x81\x7E\x00\xC8", 4) + m200);
  EXPECT_EQ(ReceiveExactly(s, 4), "\x8A\x02pp");

  // Close is answered with close (same status code), then the server ends the connection.
  ASSERT_TRUE(test::SendText(s, MaskedFrame(0x88, "\x03\xE8")));
  const auto before = std::chrono::steady_clock::now();
  EXPECT_EQ(ReceiveExactly(s, 5), "\x88\x02\x03\xE8");  // the end, not the 10-second timeout
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(5));
  test::CloseSocket(s);
  ASSERT_TRUE(handler_.WaitFor([&] { return handler_.closes == 1; }));
  EXPECT_EQ(handler_.currentWebSocket.load(), nullptr);
}

// Key3 comes in a later write than the head, with the first frame behind it.
TEST_F(WebSocketServerTest, HixieHandshakeWithKey3InALaterWrite) {
  ClientSocket s = test::Connect(port_);
  ASSERT_TRUE(test::SendText(s,
                             "GET /demo HTTP/1.1\r\nHost: localhost\r\nConnection: Upgrade\r\n"
                             "Sec-WebSocket-Key2: 12998 5 Y3 1  .P00\r\nUpgrade: WebSocket\r\n"
                             "Sec-WebSocket-Key1: 4 @1  46546xW%0l 1 5\r\n"
                             "Origin: http://localhost:" + std::to_string(port_) +
                                 "\r\n\r\n^n:"));
  test::SleepMs(50);
  ASSERT_TRUE(test::SendText(s, std::string("ds[4U\0hi\xFF", 9)));
  const std::string response =
      "HTTP/1.1 101 Switching Protocols\r\nUpgrade: WebSocket\r\nConnection: Upgrade\r\n"
      "Sec-WebSocket-Origin: http://localhost:" + std::to_string(port_) + "\r\n"
      "Sec-WebSocket-Location: ws://localhost/\r\n\r\n8jKS'y:G*Co,Wxa-";
  EXPECT_EQ(ReceiveExactly(s, response.size()), response);
  ASSERT_TRUE(test::SendText(s, std::string("\0echo\xFF", 6)));
  EXPECT_EQ(ReceiveExactly(s, 6), std::string("\0echo\xFF", 6));
  ASSERT_TRUE(handler_.WaitFor([&] { return handler_.messages.size() == 2; }));
  EXPECT_EQ(handler_.Messages(), (std::vector<std::string>{"hi", "echo"}));
  test::CloseSocket(s);
}

TEST_F(WebSocketServerTest, RefusedUpgradesGetNoResponseAndOversizedFramesClose1009) {
  // Version 13 without a key (the refusals themselves are listed in websocket_test).
  EXPECT_EQ(test::Exchange(port_,
                           "GET / HTTP/1.1\r\nHost: localhost\r\nUpgrade: websocket\r\n"
                           "Sec-WebSocket-Version: 13\r\n\r\n"),
            "");
  EXPECT_EQ(handler_.opens, 0);
  // 16 MiB + 1 declared: the server answers from the header alone.
  ClientSocket s = Upgrade(port_);
  ASSERT_TRUE(
      test::SendText(s, std::string("\x82\xFF\x00\x00\x00\x00\x01\x00\x00\x01\1\2\3\4", 14)));
  EXPECT_EQ(ReceiveExactly(s, 4), "\x88\x02\x03\xF1");
  test::CloseSocket(s);
  ASSERT_TRUE(handler_.WaitFor([&] { return handler_.closes == 1; }));
  EXPECT_TRUE(handler_.Messages().empty());
}

TEST_F(WebSocketServerTest, AnOpenWebSocketOutlivesTheIdleLimit) {
  server_.Stop();
  server_.options.limits.idle = std::chrono::milliseconds(200);
  port_ = test::PortOf(server_.Start(-1, u""));
  ClientSocket quiet = test::Connect(port_);
  ASSERT_TRUE(test::SendText(quiet, "GET / HTTP/1.1\r\nHost: localhost\r\n"));  // a header block never ended
  const auto before = std::chrono::steady_clock::now();
  ClientSocket ws = Upgrade(port_);
  // The sweep (once a second) drops the stalled request well before the client's
  // 10-second receive timeout; the WebSocket, as idle, stays.
  EXPECT_EQ(test::ReceiveAll(quiet), "");
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(5))
      << "the stalled request was not dropped";
  ASSERT_TRUE(test::SendText(ws, MaskedFrame(0x81, "echo still here")));
  EXPECT_EQ(ReceiveExactly(ws, 17), std::string("\x81\x0F", 2) + "echo still here");
  EXPECT_EQ(handler_.closes, 0);
  test::CloseSocket(quiet);
  test::CloseSocket(ws);
  ASSERT_TRUE(handler_.WaitFor([&] { return handler_.closes == 1; }));
}

// No handler installed: the server's own one takes the connection and remembers it;
// with the handler removed, an upgrade request is a plain GET.
TEST(ServerOwnWebSocketHandler, RemembersTheConnectionUntilItClosesAndCanBeRemoved) {
  test::MapProvider provider;
  provider.entries["chat"] = "plain page";
  HttpServer server(false);
  const uint16_t port = test::PortOf(server.Start(-1, u""));
  server.SetProvider(&provider);
  EXPECT_EQ(server.CurrentWebSocket(), nullptr);
  ClientSocket s = Upgrade(port);
  EXPECT_NE(server.CurrentWebSocket(), nullptr);
  // Messages are taken and ignored; a ping is still answered.
  ASSERT_TRUE(test::SendText(s, MaskedFrame(0x81, "echo ignored") + MaskedFrame(0x89, "p")));
  EXPECT_EQ(ReceiveExactly(s, 3), "\x8A\x01p");
  // Once the client is gone, the server forgets the connection.
  test::CloseSocket(s);
  EXPECT_TRUE(test::WaitUntil([&] { return server.CurrentWebSocket() == nullptr; }));
  server.Stop();

  HttpServer plain(false);
  plain.SetWebSocketHandler(nullptr);
  const uint16_t plainPort = test::PortOf(plain.Start(-1, u""));
  plain.SetProvider(&provider);
  const std::string reply = test::Exchange(plainPort, test::kRfcRequest);
  EXPECT_EQ(reply.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << reply;
  EXPECT_EQ(reply.substr(reply.size() - 10), "plain page");
  plain.Stop();
}

#ifndef _WIN32
// A real browser: the page opens a socket, sends an echo and leaves for gone.html when the
// echo comes back; leaving closes the socket.
TEST_F(WebSocketServerTest, ChromiumLeavingThePageClearsCurrentWebSocket) {
  if (std::system("command -v chromium >/dev/null 2>&1") != 0) GTEST_SKIP() << "no chromium";
  provider_.entries["index.html"] =
      "<!doctype html><script>\n"
      "const ws = new WebSocket('ws://' + location.host + '/socket');\n"
      "ws.onopen = () => ws.send('echo from chromium');\n"
      "ws.onmessage = (e) => {\n"
      "  if (e.data === 'echo from chromium') location.href = '/gone.html';\n"
      "};\n"
      "</script>";
  provider_.entries["gone.html"] = "<!doctype html>bye";
  test::HeadlessChromium browser("http://127.0.0.1:" + std::to_string(port_) + "/index.html",
                                 ::testing::TempDir() + "cx-chromium-" + std::to_string(getpid()),
                                 {"--disable-features=BackForwardCache"});
  ASSERT_TRUE(browser.Started());
  ASSERT_TRUE(handler_.WaitFor([&] { return handler_.opens == 1 && handler_.closes == 1; }));
  // The browser's echo came back: it navigates only on receiving it.
  EXPECT_TRUE(provider_.WasRequested("gone.html"));
  ASSERT_FALSE(handler_.Messages().empty());  // then the close frame's payload
  EXPECT_EQ(handler_.Messages().front(), "echo from chromium");
  EXPECT_EQ(handler_.currentWebSocket.load(), nullptr);
}
#endif

}  // namespace
}  // namespace storage::e2e
