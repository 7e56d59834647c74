// The limits that keep the server serving under abuse, over real loopback sockets: clients
// that never read, unfinished WebSocket frames, a crowd beyond the descriptor limit,
// trickling headers, quiet WebSockets, and a fast reader beside small pages.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#ifndef _WIN32
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "httpserver/http_server.h"
#include "testing/websocket_fixture.h"

namespace storage {
namespace {

using namespace storage::test;
using Clock = std::chrono::steady_clock;

const char kPage[] = "GET /a.html HTTP/1.1\r\nHost: localhost\r\n\r\n";

class LimitsTest : public ::testing::Test {
 protected:
  void Start() {
    port = PortOf(server.Start(-1, u""));
    ASSERT_NE(port, 0);
    provider.entries["a.html"] = "<p>hello</p>";
    server.SetProvider(&provider);
  }
  bool PageServed() { return Exchange(port, kPage).find("<p>hello</p>") != std::string::npos; }

  HttpServer server{false};
  MapProvider provider;
  uint16_t port = 0;
};

// Pings and nothing read: the server stops reading once its pongs pile up, so the client
// costs little, others are served meanwhile, and the idle limit ends it.
TEST_F(LimitsTest, AClientThatNeverReadsIsHeldBackAndClosed) {
  server.options.limits.idle = std::chrono::seconds(2);
  Start();
  ClientSocket s = Upgrade(port);
  ASSERT_TRUE(WaitUntil([&] { return server.CurrentWebSocket() != nullptr; }));
  SetTimeouts(s, 1000, 10000);
  std::string batch;
  while (batch.size() < 65536) batch += MaskedFrame(0x89, std::string(125, 'p'));
  const size_t before = ResidentBytes();
  size_t sent = 0;
  while (sent < (100u << 20) && SendText(s, batch)) sent += batch.size();
  EXPECT_LT(sent, 100u << 20) << "the server kept reading";
  if (before != 0 && !kSanitized) EXPECT_LT(ResidentBytes(), before + (32u << 20));
  EXPECT_TRUE(PageServed()) << "others are served meanwhile";
  EXPECT_TRUE(WaitUntil([&] { return server.CurrentWebSocket() == nullptr; }));
  CloseSocket(s);
}

// Twenty connections each hold an unfinished frame just under the per-connection limit:
// those that would pass the global cap are closed with 1009, the rest stay.
TEST_F(LimitsTest, UnfinishedFramesOfAllConnectionsStayUnderTheCap) {
  Start();
  const size_t frame = 15u << 20;
  std::string head("\x82\xFF", 2);
  for (int i = 7; i >= 0; --i) head += static_cast<char>(uint64_t{frame} >> (8 * i));
  head += "\1\2\3\4";
  const std::string chunk(1u << 20, 'x');
  const size_t before = ResidentBytes();
  std::vector<ClientSocket> sockets;
  for (int i = 0; i < 20; ++i) {
    ClientSocket s = Upgrade(port);
    SetTimeouts(s, 10000, 500);
    ASSERT_TRUE(SendText(s, head));
    // A connection closed with 1009 takes no more: stop at the first refused send rather
    // than wait out the send time-out for each of its remaining megabytes.
    bool taken = true;
    for (int m = 0; m < 14 && taken; ++m) taken = SendText(s, chunk);
    if (taken) SendText(s, chunk.substr(1));  // one byte short of the frame
    sockets.push_back(s);
  }
  ASSERT_TRUE(WaitUntil([&] { return PageServed(); })) << "no page answered within 10 s";
  if (before != 0 && !kSanitized) EXPECT_LT(ResidentBytes(), before + (96u << 20));
  int closed = 0;
  for (ClientSocket s : sockets) {
    const std::string reply = ReceiveExactly(s, 4);
    if (!reply.empty()) {
      EXPECT_EQ(reply, "\x88\x02\x03\xF1");
      ++closed;
    }
    CloseSocket(s);
  }
  // 64 MiB holds four frames of 15 MiB.
  EXPECT_EQ(closed, 16);
}

// At the cap, readers that stopped taking their responses and quiet WebSockets make room:
// a new client is answered, and the connection taken for it is not shed for the next.
TEST_F(LimitsTest, StalledReadersAndQuietWebSocketsMakeRoomAtTheCap) {
  server.options.limits.maxConnections = 4;
  server.options.limits.stalledAfter = std::chrono::milliseconds(300);
  Start();
  provider.generated["huge.mp4"] = uint64_t{1} << 30;
  std::vector<ClientSocket> held;
  for (int i = 0; i < 4; ++i) {
    ClientSocket s = Connect(port, 4096);
    SetTimeouts(s, 10000, 10000);
    ASSERT_TRUE(SendText(s, "GET /huge.mp4 HTTP/1.1\r\nHost: localhost\r\n\r\n"));
    char some[64];
    ASSERT_GT(ReceiveSome(s, some, sizeof some), 0u) << "no response started within 10 s";
    held.push_back(s);
  }
  SleepMs(600);
  EXPECT_TRUE(PageServed()) << "a stalled reader did not make room";
  held.push_back(Upgrade(port));  // the table is full again, with a WebSocket in it
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(PageServed()) << "page " << i << " not answered";
  for (ClientSocket s : held) CloseSocket(s);
}

// Request bodies are dropped as they arrive: connections that announce 16 MiB and send
// all but one byte hold next to nothing, and the framing still holds (the byte that ends
// a body is not the start of the next request).
TEST_F(LimitsTest, AnnouncedBodiesAreDroppedAsTheyArrive) {
  Start();
  const std::string post = "POST /form HTTP/1.1\r\nHost: localhost\r\nContent-Length: " +
                           std::to_string(16u << 20) + "\r\n\r\n";
  const std::string chunk(1u << 20, 'G');
  const size_t before = ResidentBytes();
  std::vector<ClientSocket> sockets;
  for (int i = 0; i < 8; ++i) {
    ClientSocket s = Connect(port);
    SetTimeouts(s, 10000, 10000);
    bool taken = SendText(s, post);
    for (int m = 0; m < 15 && taken; ++m) taken = SendText(s, chunk);
    ASSERT_TRUE(taken && SendText(s, chunk.substr(1))) << "body " << i << " not taken in 10 s";
    sockets.push_back(s);
  }
  ASSERT_TRUE(WaitUntil([&] { return PageServed(); })) << "no page answered within 10 s";
  if (before != 0 && !kSanitized) {
    EXPECT_LT(ResidentBytes(), before + (48u << 20)) << "the bodies were kept";
  }
  ShutdownSend(sockets[0]);
  EXPECT_EQ(ReceiveAll(sockets[0]), "") << "an unfinished body was answered";
  ASSERT_TRUE(SendText(sockets[1], std::string("G") + kPage));
  ShutdownSend(sockets[1]);
  const std::string replies = ReceiveAll(sockets[1]);
  EXPECT_EQ(replies.rfind("HTTP/1.1 200 ", 0), 0u) << replies;
  EXPECT_NE(replies.find("<p>hello</p>"), std::string::npos) << replies;
  for (ClientSocket s : sockets) CloseSocket(s);
}

// Unfinished header blocks of all connections together stay under their budget: past it,
// the one collecting longest is answered 431 and closed.
TEST_F(LimitsTest, UnfinishedHeaderBlocksOfAllConnectionsStayUnderTheBudget) {
  server.options.limits.headerMemory = 1u << 20;
  Start();
  std::vector<ClientSocket> sockets;
  for (int i = 0; i < 8; ++i) {
    ClientSocket s = Connect(port);
    SetTimeouts(s, 10000, 1000);
    ASSERT_TRUE(SendText(s, "GET /a.html HTTP/1.1\r\nX-Long: " + std::string(300 << 10, 'z')));
    sockets.push_back(s);
    SleepMs(50);  // the server reads them in this order
  }
  ASSERT_TRUE(WaitUntil([&] { return PageServed(); })) << "no page answered within 10 s";
  for (size_t i = 0; i < sockets.size(); ++i) {
    const std::string reply = ReceiveExactly(sockets[i], 15);
    // 8 x 300 KiB: the five oldest go so that three (900 KiB) stay under 1 MiB.
    EXPECT_EQ(reply, i < 5 ? "HTTP/1.1 431 \r\n" : "") << "connection " << i;
    CloseSocket(sockets[i]);
  }
}

// The whole header block must come within the header deadline, however slowly it trickles.
TEST_F(LimitsTest, ATricklingHeaderBlockIsCutOffWith408) {
  server.options.limits.headerDeadline = std::chrono::seconds(2);
  Start();
  ClientSocket s = Connect(port);
  std::atomic<bool> stop{false};
  const auto start = Clock::now();
  std::thread trickle([&] {
    const std::string text = "GET /a.html HTTP/1.1\r\nHost: localhost\r\nX-Slow: " + std::string(1000, 'z');
    for (size_t i = 0; i < text.size() && !stop; ++i) {
      if (!SendText(s, text.substr(i, 1))) break;
      SleepMs(100);
    }
  });
  const std::string reply = ReceiveAll(s);
  const auto took = Clock::now() - start;
  stop = true;
  trickle.join();
  CloseSocket(s);
  EXPECT_EQ(reply, "HTTP/1.1 408 \r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
  EXPECT_GE(took, std::chrono::seconds(2));
  EXPECT_LT(took, std::chrono::seconds(5));
}

// A quiet WebSocket is pinged: one whose peer answers stays open past the idle limit, one
// whose peer does not is closed.
TEST_F(LimitsTest, QuietWebSocketsArePingedAndKeptWhileTheyAnswer) {
  e2e::RecordingHandler handler;
  server.SetWebSocketHandler(&handler);
  server.options.limits.pingAfter = std::chrono::milliseconds(300);
  server.options.limits.idle = std::chrono::seconds(1);
  Start();
  ClientSocket answering = Upgrade(port);
  ClientSocket silent = Upgrade(port);
  ASSERT_TRUE(handler.WaitFor([&] { return handler.opens == 2; }));
  const auto start = Clock::now();
  int pings = 0;
  while (Clock::now() - start < std::chrono::seconds(4)) {
    ASSERT_EQ(ReceiveExactly(answering, 2), std::string("\x89\x00", 2));
    ++pings;
    ASSERT_TRUE(SendText(answering, MaskedFrame(0x8A, "")));
  }
  EXPECT_GE(pings, 2);
  ASSERT_TRUE(handler.WaitFor([&] { return handler.closes == 1; }));
  // The silent one got its ping and then its end.
  EXPECT_EQ(ReceiveAll(silent), std::string("\x89\x00", 2));
  // The answering one still carries messages (pings may come before the echo).
  ASSERT_TRUE(SendText(answering, MaskedFrame(0x81, "echo alive")));
  std::string frame;
  do frame = ReceiveExactly(answering, 2);
  while (frame == std::string("\x89\x00", 2) && SendText(answering, MaskedFrame(0x8A, "")));
  EXPECT_EQ(frame + ReceiveExactly(answering, 10), "\x81\x0A" "echo alive");
  EXPECT_EQ(handler.closes, 1);
  CloseSocket(answering);
  CloseSocket(silent);
  server.Stop();
}

// A kept-alive connection serves its cap of requests; the last answer says it closes.
TEST_F(LimitsTest, TheRequestCapEndsAKeptAliveConnection) {
  server.options.limits.maxRequests = 2;
  Start();
  ClientSocket s = Connect(port);
  SendText(s, std::string(kPage) + kPage + kPage);
  const std::string all = ReceiveAll(s);  // the server's close, not the timeout
  CloseSocket(s);
  const size_t second = all.find("HTTP/1.1 200", 1);
  ASSERT_NE(second, std::string::npos) << all;
  EXPECT_EQ(all.find("HTTP/1.1", second + 1), std::string::npos) << all;
  EXPECT_EQ(all.find("Connection: close"), all.find("\r\nConnection: close\r\n", second) + 2);
}

// A reader that takes a huge body as fast as it can does not hold the network thread:
// pages asked for meanwhile are answered while it is still reading.
TEST_F(LimitsTest, AFastReaderAndSmallPagesShareTheThread) {
  Start();
  provider.generated["huge.mp4"] = uint64_t{1} << 30;
  std::atomic<bool> stop{false}, done{false};
  std::atomic<size_t> got{0};
  std::thread reader([&] {
    ClientSocket s = Connect(port);
    SendText(s, "GET /huge.mp4 HTTP/1.1\r\nHost: localhost\r\n\r\n");
    std::vector<char> buffer(1 << 16);
    while (!stop) {
      const size_t n = ReceiveSome(s, buffer.data(), buffer.size());
      if (n == 0) break;
      got += n;
    }
    done = !stop;
    CloseSocket(s);
  });
  EXPECT_TRUE(WaitUntil([&] { return got > 0; }));
  for (int i = 0; i < 20; ++i) EXPECT_TRUE(PageServed());
  EXPECT_FALSE(done.load()) << "the pages waited for the whole body";
  stop = true;
  reader.join();
}

#ifndef _WIN32
// With the descriptor limit at 256 and 300 connections holding one header byte each (in
// another process, whose descriptors are its own), a new client is still served: the
// connections waiting longest without a complete request make room.
TEST(DescriptorLimit, ACrowdOfHalfSentConnectionsDoesNotLockOutANewClient) {
  int portPipe[2], readyPipe[2];
  ASSERT_EQ(pipe(portPipe), 0);
  ASSERT_EQ(pipe(readyPipe), 0);
  const pid_t crowd = fork();
  ASSERT_GE(crowd, 0);
  if (crowd == 0) {
    uint16_t port = 0;
    if (read(portPipe[0], &port, sizeof(port)) != sizeof(port)) _exit(1);
    for (int i = 0; i < 300; ++i) {
      ClientSocket s = Connect(port);
      if (s >= 0) SendText(s, "G");
    }
    if (write(readyPipe[1], "r", 1) != 1) _exit(1);
    for (;;) pause();
  }
  rlimit saved{};
  getrlimit(RLIMIT_NOFILE, &saved);
  rlimit low = saved;
  low.rlim_cur = 256;
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
  {
    HttpServer server(false);
    MapProvider provider;
    provider.entries["a.html"] = "<p>hello</p>";
    const uint16_t port = PortOf(server.Start(-1, u""));
    server.SetProvider(&provider);
    ASSERT_EQ(write(portPipe[1], &port, sizeof(port)), static_cast<ssize_t>(sizeof(port)));
    char ready = 0;
    EXPECT_EQ(read(readyPipe[0], &ready, 1), 1);
    const auto start = Clock::now();
    EXPECT_NE(Exchange(port, kPage).find("<p>hello</p>"), std::string::npos);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(2));
    server.Stop();
  }
  setrlimit(RLIMIT_NOFILE, &saved);
  kill(crowd, SIGKILL);
  waitpid(crowd, nullptr, 0);
  for (int fd : {portPipe[0], portPipe[1], readyPipe[0], readyPipe[1]}) close(fd);
}
#endif

}  // namespace
}  // namespace storage
