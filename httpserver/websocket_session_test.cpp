#include "httpserver/websocket_session.h"

#include <gtest/gtest.h>

#include <vector>

#include "testing/websocket_fixture.h"

namespace storage {
namespace {

struct NullConnection : WebSockConnectionI {
  bool Send(const std::string&) override { return true; }
  bool IsOpen() override { return true; }
};

// Records what the session tells the handler: "open", "close" or the message text, each
// for the session's own connection.
struct RecordingHandler : WebSockHandlerI {
  int OnOpen(const std::string&, WebSockConnectionI* c) override { return Note(c, "open"); }
  int OnMessage(const std::string&, WebSockConnectionI* c, const std::string& m) override {
    return Note(c, m);
  }
  int OnClose(WebSockConnectionI* c) override { return Note(c, "close"); }
  int Note(WebSockConnectionI* c, const std::string& event) {
    EXPECT_EQ(c, &connection);
    events.push_back(event);
    return 0;
  }
  NullConnection connection;
  std::vector<std::string> events;
};

using test::MaskedFrame;

TEST(WsSession, RepliesAndWhatTheHandlerSees) {
  const std::string close1000("\x03\xE8", 2);
  struct Case {
    int version;
    size_t limit;
    std::string input;
    std::string reply;
    bool close;
    std::vector<std::string> events;
  } cases[] = {
      // Pings are answered with pongs and still delivered.
      {kWsVersionRfc6455,
       100,
       MaskedFrame(0x81, "Hello") + MaskedFrame(0x89, "p1") + MaskedFrame(0x81, "World") +
           MaskedFrame(0x89, ""),
       std::string("\x8A\x02p1\x8A\x00", 6),
       false,
       {"Hello", "p1", "World", ""}},
      // Close is echoed with its status code only and ends the session: later frames
      // are ignored.
      {kWsVersionRfc6455,
       100,
       MaskedFrame(0x88, close1000 + "bye") + MaskedFrame(0x81, "late"),
       "\x88\x02" + close1000,
       true,
       {close1000 + "bye"}},
      {kWsVersionRfc6455, 100, MaskedFrame(0x88, ""), std::string("\x88\x00", 2), true, {""}},
      {kWsVersionRfc6455,
       100,
       MaskedFrame(0x88, "\x03"),
       std::string("\x88\x00", 2),
       true,
       {"\x03"}},
      {kWsVersionRfc6455,
       10,
       MaskedFrame(0x81, "01234567890"),
       "\x88\x02\x03\xF1",
       true,
       {}},                                                                            // 1009
      {kWsVersionRfc6455, 100, MaskedFrame(0x09, "x"), "\x88\x02\x03\xEA", true, {}},  // 1002
      {kWsVersionHixie,
       100,
       std::string("\0one\xFF\0two\xFF\xFF\x00\0late\xFF", 17),
       std::string("\xFF\x00", 2),
       true,
       {"one", "two"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.input));
    RecordingHandler handler;
    WsSession session(c.version, &handler, &handler.connection, c.limit);
    std::string reply;
    bool close = false;
    // Fed in two pieces, cut inside the first frame.
    for (const std::string& piece : {c.input.substr(0, 3), c.input.substr(3)}) {
      WsSession::ReadResult r = session.OnBytes(piece);
      reply += r.reply;
      close = close || r.closeConnection;
    }
    EXPECT_EQ(reply, c.reply);
    EXPECT_EQ(close, c.close);
    EXPECT_EQ(handler.events, c.events);
    WsSession::ReadResult after = session.OnBytes(MaskedFrame(0x81, "later"));
    if (c.close) {
      EXPECT_TRUE(after.reply.empty());
      EXPECT_FALSE(after.closeConnection);
      EXPECT_EQ(handler.events, c.events);
    }
  }
}

TEST(WsSession, OpenAndEncode) {
  RecordingHandler handler;
  WsSession rfc(kWsVersionRfc6455, &handler, &handler.connection);
  rfc.OnOpened();
  EXPECT_EQ(handler.events, std::vector<std::string>{"open"});
  EXPECT_EQ(rfc.Encode("Hi"), "\x81\x02Hi");
  EXPECT_EQ(WsSession(kWsVersionHixie, &handler, &handler.connection).Encode("Hi"),
            std::string("\0Hi\xFF", 4));
}

}  // namespace
}  // namespace storage
