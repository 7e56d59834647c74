#include "httpserver/websocket_session.h"

#include <gtest/gtest.h>

#include <vector>

namespace storage {
namespace {

struct Event {
  std::string kind;
  WebSockConnectionI* connection;
  std::string message;
  bool operator==(const Event&) const = default;
};

struct RecordingHandler : WebSockHandlerI {
  int OnOpen(const std::string& text, WebSockConnectionI* c) override {
    EXPECT_TRUE(text.empty());
    events.push_back({"open", c, ""});
    return 0;
  }
  int OnMessage(const std::string& text, WebSockConnectionI* c, const std::string& m) override {
    EXPECT_TRUE(text.empty());
    events.push_back({"message", c, m});
    return 0;
  }
  int OnClose(WebSockConnectionI* c) override {
    events.push_back({"close", c, ""});
    return 0;
  }
  std::vector<Event> events;
};

struct NullConnection : WebSockConnectionI {
  bool Send(const std::string&) override { return true; }
  bool IsOpen() override { return true; }
};

std::string Masked(uint8_t first, std::string_view payload) {
  std::string out;
  out += static_cast<char>(first);
  out += static_cast<char>(0x80 | payload.size());  // short payloads only
  const char key[4] = {'\x12', '\x34', '\x56', '\x78'};
  out.append(key, 4);
  for (size_t i = 0; i < payload.size(); ++i) out += static_cast<char>(payload[i] ^ key[i % 4]);
  return out;
}

TEST(WsSession, MessagesReachTheHandlerInOrder) {
  RecordingHandler handler;
  NullConnection connection;
  WsSession session(kWsVersionRfc6455, &handler, &connection);
  session.OnOpened();
  const std::string stream = Masked(0x81, "Hello") + Masked(0x81, "World");
  WsSession::ReadResult r = session.OnBytes(stream.substr(0, 9));
  EXPECT_TRUE(r.reply.empty());
  EXPECT_FALSE(r.closeConnection);
  r = session.OnBytes(stream.substr(9));
  EXPECT_FALSE(r.closeConnection);
  EXPECT_EQ(handler.events, (std::vector<Event>{{"open", &connection, ""},
                                                {"message", &connection, "Hello"},
                                                {"message", &connection, "World"}}));
  EXPECT_EQ(session.Encode("Hi"), "\x81\x02Hi");
}

TEST(WsSession, PingIsAnsweredWithPongAndStillDelivered) {
  RecordingHandler handler;
  NullConnection connection;
  WsSession session(kWsVersionRfc6455, &handler, &connection);
  WsSession::ReadResult r =
      session.OnBytes(Masked(0x89, "p1") + Masked(0x81, "t") + Masked(0x89, ""));
  EXPECT_EQ(r.reply, std::string("\x8A\x02p1\x8A\x00", 6));
  EXPECT_FALSE(r.closeConnection);
  ASSERT_EQ(handler.events.size(), 3u);
  EXPECT_EQ(handler.events[0].message, "p1");
}

TEST(WsSession, CloseIsEchoedAndEndsTheSession) {
  const std::pair<std::string, std::string> cases[] = {
      {"\x03\xE8"
       "bye",
       std::string("\x88\x02\x03\xE8", 4)},  // status code echoed, no reason
      {"", std::string("\x88\x00", 2)},
      {"\x03", std::string("\x88\x00", 2)},  // malformed one-byte body
  };
  for (const auto& [payload, reply] : cases) {
    RecordingHandler handler;
    NullConnection connection;
    WsSession session(kWsVersionRfc6455, &handler, &connection);
    WsSession::ReadResult r = session.OnBytes(Masked(0x88, payload) + Masked(0x81, "late"));
    EXPECT_EQ(r.reply, reply);
    EXPECT_TRUE(r.closeConnection);
    EXPECT_EQ(handler.events, (std::vector<Event>{{"message", &connection, payload}}));
    r = session.OnBytes(Masked(0x81, "later"));
    EXPECT_TRUE(r.reply.empty());
    EXPECT_FALSE(r.closeConnection);
    EXPECT_EQ(handler.events.size(), 1u);
  }
}

TEST(WsSession, OversizedAndBrokenFramesCloseWithAStatus) {
  RecordingHandler handler;
  NullConnection connection;
  {
    WsSession session(kWsVersionRfc6455, &handler, &connection, 10);
    WsSession::ReadResult r = session.OnBytes(Masked(0x81, "01234567890"));
    EXPECT_EQ(r.reply, "\x88\x02\x03\xF1");  // 1009
    EXPECT_TRUE(r.closeConnection);
  }
  {
    WsSession session(kWsVersionRfc6455, &handler, &connection);
    WsSession::ReadResult r = session.OnBytes(Masked(0x09, "x"));  // fragmented ping
    EXPECT_EQ(r.reply, "\x88\x02\x03\xEA");                        // 1002
    EXPECT_TRUE(r.closeConnection);
  }
  EXPECT_TRUE(handler.events.empty());
}

TEST(WsSession, HixieFramesAndClosingHandshake) {
  RecordingHandler handler;
  NullConnection connection;
  WsSession session(kWsVersionHixie, &handler, &connection);
  WsSession::ReadResult r = session.OnBytes(std::string("\0one\xFF\0tw", 8));
  EXPECT_FALSE(r.closeConnection);
  r = session.OnBytes(std::string("o\xFF\xFF\x00", 4));
  EXPECT_EQ(r.reply, std::string("\xFF\x00", 2));
  EXPECT_TRUE(r.closeConnection);
  EXPECT_EQ(handler.events,
            (std::vector<Event>{{"message", &connection, "one"}, {"message", &connection, "two"}}));
  EXPECT_EQ(session.Encode("Hi"), std::string("\0Hi\xFF", 4));
}

}  // namespace
}  // namespace storage
