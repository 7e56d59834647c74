// Client frames for the WebSocket tests, and a running server with a recording handler
// for the end-to-end ones: the handler records what the network thread told it, and the
// test thread waits for it.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "httpserver/http_server.h"
#include "httpserver/websocket.h"
#include "testing/memory_provider.h"
#include "testing/test_client.h"

namespace storage::test {

// A frame the way a browser sends it: first byte (FIN and opcode), length, masking key and
// the masked payload.
inline std::string MaskedFrame(uint8_t first, std::string_view payload, uint32_t key = 0x37FA213D) {
  std::string out(1, static_cast<char>(first));
  const uint64_t n = payload.size();
  const int lengthBytes = n < 126 ? 0 : n < 65536 ? 2 : 8;
  out += static_cast<char>(0x80 | (n < 126 ? n : n < 65536 ? 126 : 127));
  for (int i = lengthBytes - 1; i >= 0; --i) out += static_cast<char>(n >> (8 * i));
  const char k[4] = {static_cast<char>(key >> 24), static_cast<char>(key >> 16),
                     static_cast<char>(key >> 8), static_cast<char>(key)};
  out.append(k, 4);
  for (size_t i = 0; i < n; ++i) out += static_cast<char>(payload[i] ^ k[i % 4]);
  return out;
}

// The RFC 6455 upgrade request (the RFC's example key) and the server's exact answer.
inline const char kRfcRequest[] =
    "GET /chat HTTP/1.1\r\nHost: localhost\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
    "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n";
inline const char kRfcResponse[] =
    "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
    "Sec-WebSocket-Accept: s3pPLMBiTxaQ9kYGzzhZRbK+xOo=\r\n\r\n";

// A connection upgraded with that request, its sends and receives bounded by 10 s each.
inline ClientSocket Upgrade(uint16_t port) {
  ClientSocket s = Connect(port);
  SetTimeouts(s, 10000, 10000);
  EXPECT_TRUE(SendText(s, kRfcRequest)) << "the upgrade request was not taken within 10 s";
  EXPECT_EQ(ReceiveExactly(s, sizeof kRfcResponse - 1), kRfcResponse) << "no 101 within 10 s";
  return s;
}

}  // namespace storage::test

namespace storage::e2e {

// The server's own handler behaviour, plus a record of the events and an echo: a message
// starting with "echo" is sent back as it came (through Send, on the network thread).
class RecordingHandler : public WebSockServerHandler {
 public:
  int OnOpen(const std::string& text, WebSockConnectionI* c) override {
    WebSockServerHandler::OnOpen(text, c);
    return Note([&] { ++opens; });
  }
  int OnMessage(const std::string&, WebSockConnectionI* c, const std::string& m) override {
    if (m.rfind("echo", 0) == 0) c->Send(m);
    return Note([&] { messages.push_back(m); });
  }
  int OnClose(WebSockConnectionI* c) override {
    WebSockServerHandler::OnClose(c);
    return Note([&] { ++closes; });
  }

  // Waits up to 10 seconds for pred (evaluated under the lock).
  bool WaitFor(const std::function<bool()>& pred) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(10), pred);
  }
  std::vector<std::string> Messages() {
    std::lock_guard<std::mutex> lock(mutex_);
    return messages;
  }

  // Guarded by the lock (WaitFor's predicate runs under it).
  int opens = 0, closes = 0;
  std::vector<std::string> messages;

 private:
  int Note(const std::function<void()>& change) {
    std::lock_guard<std::mutex> lock(mutex_);
    change();
    changed_.notify_all();
    return 0;
  }
  std::mutex mutex_;
  std::condition_variable changed_;
};

class WebSocketServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    server_.SetWebSocketHandler(&handler_);
    port_ = test::PortOf(server_.Start(-1, u""));
    server_.SetProvider(&provider_);
  }
  void TearDown() override { server_.Stop(); }

  RecordingHandler handler_;
  test::MapProvider provider_;
  HttpServer server_{false};
  uint16_t port_ = 0;
};

}  // namespace storage::e2e
