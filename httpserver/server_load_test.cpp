// The server under load over real loopback sockets: idle crowds, long runs of short
// connections, slow readers of large bodies. (The idle sweep that drops dead connections
// is checked with an open WebSocket beside one, in websocket_e2e_test.)
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <thread>
#include <vector>

#include "httpserver/http_server.h"
#include "testing/memory_provider.h"
#include "testing/test_client.h"

namespace storage {
namespace {

using namespace storage::test;

class LoadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    provider.entries["a.html"] = "<p>hello</p>";
    provider.generated["big.mp4"] = 16u << 20;
    port = PortOf(server.Start(-1, u""));
    ASSERT_NE(port, 0);
    server.SetProvider(&provider);
  }
  HttpServer server{false};
  MapProvider provider;
  uint16_t port = 0;
};

const char kPage[] = "GET /a.html HTTP/1.1\r\nHost: localhost\r\n\r\n";

TEST_F(LoadTest, ThousandIdleConnectionsDoNotStopService) {
  std::vector<ClientSocket> idle;
  for (int i = 0; i < 1000; ++i) {
    ClientSocket s = Connect(port);
    ASSERT_GE(s, 0) << i;
    if (i % 2) SendText(s, "GET /a.html HTTP/1.1\r\nHost: localhost\r\n");  // half a request
    idle.push_back(s);
  }
  for (int i = 0; i < 20; ++i) {
    EXPECT_NE(Exchange(port, kPage).find("<p>hello</p>"), std::string::npos);
  }
  // The idle ones still get their answer once they finish.
  SendText(idle[1], "\r\n");
  ShutdownSend(idle[1]);
  EXPECT_NE(ReceiveAll(idle[1]).find("<p>hello</p>"), std::string::npos);
  for (ClientSocket s : idle) CloseSocket(s);
}

TEST_F(LoadTest, ManyConnectionsInARowLeakNothing) {
  // Fewer rounds where sockets are slow to come by (Wine): CX_HTTP_CONNECTIONS.
  const char* setting = std::getenv("CX_HTTP_CONNECTIONS");
  const int rounds = setting ? std::atoi(setting) : 20000;
  // Warm up allocator pools and the table before taking the baseline.
  for (int i = 0; i < 1000; ++i) Exchange(port, kPage);
  const size_t handles = OpenHandleCount();
  const size_t memory = ResidentBytes();
  int good = 0;
  for (int i = 0; i < rounds; ++i) {
    if (Exchange(port, kPage).find("<p>hello</p>") != std::string::npos) ++good;
  }
  EXPECT_EQ(good, rounds);
  EXPECT_TRUE(WaitUntil([&] { return OpenHandleCount() <= handles + 2; }, 2000))
      << OpenHandleCount() << " handles open, " << handles << " before";
  // AddressSanitizer keeps freed blocks in quarantine, so resident memory grows there
  // without a leak (LeakSanitizer checks leaks at exit instead).
  if (memory != 0 && !kSanitized) {
    EXPECT_LT(ResidentBytes(), memory + (8u << 20));
  }
}

// Reads a whole response through a small receive buffer, counting the bytes in `got` and
// sleeping after each piece for as long as `hold` stays set.
std::string SlowGet(uint16_t port, const std::string& path, const std::atomic<bool>& hold,
                    std::atomic<size_t>& got) {
  ClientSocket s = Connect(port, 16384);
  SendText(s, "GET /" + path + " HTTP/1.1\r\nHost: localhost\r\n\r\n");
  ShutdownSend(s);
  std::string received;
  std::vector<char> buffer(16384);
  while (size_t n = ReceiveSome(s, buffer.data(), buffer.size())) {
    received.append(buffer.data(), n);
    got = received.size();
    if (hold) SleepMs(1);
  }
  CloseSocket(s);
  return received;
}

// Generated bodies go out as they are read; a large body held in memory leaves straight
// from there. Either way a slow reader gets every byte once, in order, and a page asked
// for meanwhile does not wait for it.
TEST_F(LoadTest, SlowReadersGetEveryByteWhileOthersAreServed) {
  std::string pattern(16u << 20, '\0');  // the generated entry's bytes
  for (size_t i = 0; i < pattern.size(); ++i) pattern[i] = static_cast<char>(PatternByte(i));
  provider.entries["mem.bin"] = pattern.substr(0, 6u << 20);
  for (const char* path : {"big.mp4", "mem.bin"}) {
    SCOPED_TRACE(path);
    const std::string body = path[0] == 'b' ? pattern : provider.entries["mem.bin"];
    std::atomic<bool> hold{true}, readerDone{false};
    std::atomic<size_t> got{0};
    std::string received;
    std::thread reader([&] {
      received = SlowGet(port, path, hold, got);
      readerDone = true;
    });
    EXPECT_TRUE(WaitUntil([&] { return got > 0; })) << "the body never started";
    EXPECT_NE(Exchange(port, kPage).find("<p>hello</p>"), std::string::npos);
    EXPECT_FALSE(readerDone.load()) << "the page should not have waited for the body";
    hold = false;
    reader.join();
    size_t headEnd = received.find("\r\n\r\n");
    ASSERT_NE(headEnd, std::string::npos);
    EXPECT_NE(received.find("Content-Length: " + std::to_string(body.size()) + "\r\n"),
              std::string::npos);
    EXPECT_EQ(received.size() - headEnd - 4, body.size());
    EXPECT_TRUE(received.compare(headEnd + 4, std::string::npos, body) == 0);
  }
}

}  // namespace
}  // namespace storage
