// The upgrade on a running server, driven by a plain loopback client that writes the
// bytes itself: exact handshake responses, frames split and batched across writes,
// the server's replies, and the handler's view of the connection's life.
#include <cstring>

#include "testing/websocket_fixture.h"
#include "httpserver/websocket_frame.h"

namespace storage::e2e {
namespace {

using test::ClientSocket;

std::string Masked(uint8_t first, const std::string& payload) {
  std::string out(1, static_cast<char>(first));
  const uint64_t n = payload.size();
  if (n < 126) {
    out += static_cast<char>(0x80 | n);
  } else if (n < 65536) {
    out += static_cast<char>(0xFE);
    for (int s = 8; s >= 0; s -= 8) out += static_cast<char>(n >> s);
  } else {
    out += static_cast<char>(0xFF);
    for (int s = 56; s >= 0; s -= 8) out += static_cast<char>(n >> s);
  }
  const char key[4] = {'\x5A', '\x00', '\xC3', '\x7E'};
  out.append(key, 4);
  for (size_t i = 0; i < n; ++i) out += static_cast<char>(payload[i] ^ key[i % 4]);
  return out;
}

// Reads exactly n bytes (10-second timeout per receive); shorter on end or error.
std::string ReceiveExactly(ClientSocket s, size_t n) {
  std::string out;
  char buffer[16384];
  while (out.size() < n) {
    size_t got = test::ReceiveSome(s, buffer, std::min(sizeof(buffer), n - out.size()));
    if (got == 0) break;
    out.append(buffer, got);
  }
  return out;
}

std::string Text(size_t n) {
  std::string s = "echo";
  while (s.size() < n) s += static_cast<char>('a' + s.size() % 26);
  return s.substr(0, n);
}

const char kRfcRequest[] =
    "GET /chat HTTP/1.1\r\nHost: localhost\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
    "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n";
const char kRfcResponse[] =
    "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
    "Sec-WebSocket-Accept: s3pPLMBiTxaQ9kYGzzhZRbK+xOo=\r\n\r\n";

TEST_F(WebSocketServerTest, Rfc6455FramesSplitAndBatchedReachTheHandlerInOrder) {
  ClientSocket s = test::Connect(port_);
  ASSERT_NE(s, -1);
  ASSERT_TRUE(test::SendText(s, kRfcRequest));
  EXPECT_EQ(ReceiveExactly(s, std::strlen(kRfcResponse)), kRfcResponse);
  ASSERT_TRUE(handler_.WaitFor([&] { return handler_.opens == 1; }));
  EXPECT_NE(handler_.currentWebSocket.load(), nullptr);

  // "Hello" in three writes, then 200- and 70,000-byte frames and a ping in one write.
  const std::string hello = Masked(0x81, "Hello");
  for (const std::string& piece : {hello.substr(0, 1), hello.substr(1, 6), hello.substr(7)}) {
    ASSERT_TRUE(test::SendText(s, piece));
    test::SleepMs(20);
  }
  const std::string m200 = Text(200), m70000 = Text(70000);
  ASSERT_TRUE(test::SendText(s, Masked(0x81, m200) + Masked(0x82, m70000) + Masked(0x89, "pp")));
  ASSERT_TRUE(handler_.WaitFor([&] { return handler_.messages.size() == 4; }));
  EXPECT_EQ(handler_.Messages(), (std::vector<std::string>{"Hello", m200, m70000, "pp"}));

  // The echoes come back as final unmasked text frames, then the pong.
  EXPECT_EQ(ReceiveExactly(s, 4 + 200), std::string("\x81\x7E\x00\xC8", 4) + m200);
  EXPECT_EQ(ReceiveExactly(s, 10 + 70000),
            std::string("\x81\x7F\x00\x00\x00\x00\x00\x01\x11\x70", 10) + m70000);
  EXPECT_EQ(ReceiveExactly(s, 4), "\x8A\x02pp");

  // A 300-byte message goes out as 0x81 0x7E 0x01 0x2C and the message.
  const std::string m300 = Text(300);
  ASSERT_TRUE(test::SendText(s, Masked(0x81, m300)));
  EXPECT_EQ(ReceiveExactly(s, 304), std::string("\x81\x7E\x01\x2C", 4) + m300);

  // Close is answered with close (same status code).
  ASSERT_TRUE(test::SendText(s, Masked(0x88, "\x03\xE8")));
  EXPECT_EQ(ReceiveExactly(s, 4), "\x88\x02\x03\xE8");
  test::CloseSocket(s);
  ASSERT_TRUE(handler_.WaitFor([&] { return handler_.closes == 1; }));
  EXPECT_EQ(handler_.currentWebSocket.load(), nullptr);
}

TEST_F(WebSocketServerTest, HixieHandshakeWithKey3InTheSameOrALaterWrite) {
  const std::string head =
      "GET /demo HTTP/1.1\r\nHost: example.com\r\nConnection: Upgrade\r\n"
      "Sec-WebSocket-Key2: 12998 5 Y3 1  .P00\r\nUpgrade: WebSocket\r\n"
      "Sec-WebSocket-Key1: 4 @1  46546xW%0l 1 5\r\nOrigin: http://example.com\r\n\r\n";
  const std::string response =
      "HTTP/1.1 101 Switching Protocols\r\nUpgrade: WebSocket\r\nConnection: Upgrade\r\n"
      "Sec-WebSocket-Origin: http://example.com\r\n"
      "Sec-WebSocket-Location: ws://example.com/\r\n\r\n8jKS'y:G*Co,Wxa-";
  for (int late : {0, 1}) {
    ClientSocket s = test::Connect(port_);
    ASSERT_NE(s, -1);
    if (late) {
      ASSERT_TRUE(test::SendText(s, head + "^n:"));
      test::SleepMs(50);
      ASSERT_TRUE(test::SendText(s, std::string("ds[4U\0hi\xFF", 9)));
    } else {
      ASSERT_TRUE(test::SendText(s, head + std::string("^n:ds[4U\0hi\xFF", 12)));
    }
    EXPECT_EQ(ReceiveExactly(s, response.size()), response) << late;
    ASSERT_TRUE(handler_.WaitFor([&] { return handler_.messages.size() == size_t(2 * late + 1); }));
    ASSERT_TRUE(test::SendText(s, std::string("\0echo\xFF\xFF\x00", 8)));
    EXPECT_EQ(ReceiveExactly(s, 6), std::string("\0echo\xFF", 6));
    EXPECT_EQ(ReceiveExactly(s, 2), std::string("\xFF\x00", 2));
    test::CloseSocket(s);
    ASSERT_TRUE(handler_.WaitFor([&] { return handler_.closes == late + 1; }));
  }
  EXPECT_EQ(handler_.Messages(), (std::vector<std::string>{"hi", "echo", "hi", "echo"}));
}

TEST_F(WebSocketServerTest, RefusedUpgradesGetNoResponse) {
  // Version 13 without a key, and an old-style request echoing a header with a line break.
  const std::string requests[] = {
      "GET / HTTP/1.1\r\nHost: h\r\nUpgrade: websocket\r\nSec-WebSocket-Version: 13\r\n\r\n",
      "GET / HTTP/1.1\r\nHost: h\r\nUpgrade: websocket\r\nOrigin: a\rb\r\n\r\n12345678",
  };
  for (const std::string& request : requests) {
    EXPECT_EQ(test::Exchange(port_, request), "");
  }
  EXPECT_EQ(handler_.opens, 0);
}

TEST_F(WebSocketServerTest, OversizedFrameEndsWithClose1009) {
  ClientSocket s = test::Connect(port_);
  ASSERT_NE(s, -1);
  ASSERT_TRUE(test::SendText(s, kRfcRequest));
  EXPECT_EQ(ReceiveExactly(s, std::strlen(kRfcResponse)), kRfcResponse);
  // 16 MiB + 1 declared: the server answers from the header alone.
  ASSERT_TRUE(
      test::SendText(s, std::string("\x82\xFF\x00\x00\x00\x00\x01\x00\x00\x01\1\2\3\4", 14)));
  EXPECT_EQ(ReceiveExactly(s, 4), "\x88\x02\x03\xF1");
  test::CloseSocket(s);
  ASSERT_TRUE(handler_.WaitFor([&] { return handler_.closes == 1; }));
  EXPECT_TRUE(handler_.Messages().empty());
}

TEST_F(WebSocketServerTest, AnOpenWebSocketOutlivesTheIdleLimit) {
  server_.Stop();
  server_.idleLimit = std::chrono::milliseconds(200);
  port_ = test::PortOf(server_.Start(-1, u""));
  ClientSocket ws = test::Connect(port_);
  ClientSocket quiet = test::Connect(port_);
  ASSERT_NE(ws, -1);
  ASSERT_NE(quiet, -1);
  ASSERT_TRUE(test::SendText(ws, kRfcRequest));
  ASSERT_TRUE(test::SendText(quiet, "GET / HTTP/1.1\r\n"));  // a header block never ended
  EXPECT_EQ(ReceiveExactly(ws, std::strlen(kRfcResponse)), kRfcResponse);
  test::SleepMs(2500);  // the sweep runs once a second
  EXPECT_EQ(test::ReceiveAll(quiet), "") << "the stalled request was dropped";
  ASSERT_TRUE(test::SendText(ws, Masked(0x81, "echo still here")));
  EXPECT_EQ(ReceiveExactly(ws, 17), std::string("\x81\x0F", 2) + "echo still here");
  EXPECT_EQ(handler_.closes, 0);
  test::CloseSocket(quiet);
  test::CloseSocket(ws);
  ASSERT_TRUE(handler_.WaitFor([&] { return handler_.closes == 1; }));
}

// No handler installed: the server's own one takes the connection and remembers it.
TEST(ServerOwnWebSocketHandler, RemembersTheLastOpenedConnectionUntilItCloses) {
  PageProvider provider;
  provider.pages["chat"] = "plain page";
  HttpServer server(false);
  const uint16_t port = test::PortOf(server.Start(-1, u""));
  server.SetProvider(&provider);
  ASSERT_NE(server.GetWebSocketHandler(), nullptr);
  EXPECT_EQ(server.CurrentWebSocket(), nullptr);

  ClientSocket first = test::Connect(port);
  ASSERT_NE(first, -1);
  ASSERT_TRUE(test::SendText(first, kRfcRequest));
  EXPECT_EQ(ReceiveExactly(first, std::strlen(kRfcResponse)), kRfcResponse);
  EXPECT_NE(server.CurrentWebSocket(), nullptr);
  // Messages are taken and ignored; a ping is still answered.
  ASSERT_TRUE(test::SendText(first, Masked(0x81, "echo ignored") + Masked(0x89, "p")));
  EXPECT_EQ(ReceiveExactly(first, 3), "\x8A\x01p");

  // A close exchanged ends the connection; the server forgets it.
  ASSERT_TRUE(test::SendText(first, Masked(0x88, "\x03\xE8")));
  EXPECT_EQ(ReceiveExactly(first, 4), "\x88\x02\x03\xE8");
  char byte;
  EXPECT_EQ(test::ReceiveSome(first, &byte, 1), 0u) << "the server ends the connection";
  test::CloseSocket(first);
  for (int i = 0; i < 200 && server.CurrentWebSocket() != nullptr; ++i) test::SleepMs(10);
  EXPECT_EQ(server.CurrentWebSocket(), nullptr);
  server.Stop();
}

TEST(ServerOwnWebSocketHandler, WithoutAHandlerAnUpgradeIsAPlainGet) {
  PageProvider provider;
  provider.pages["chat"] = "plain page";
  HttpServer server(false);
  server.SetWebSocketHandler(nullptr);
  const uint16_t port = test::PortOf(server.Start(-1, u""));
  server.SetProvider(&provider);
  const std::string reply = test::Exchange(port, kRfcRequest);
  EXPECT_EQ(reply.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << reply;
  EXPECT_EQ(reply.substr(reply.size() - 10), "plain page");
  server.Stop();
}

}  // namespace
}  // namespace storage::e2e
