#include "httpserver/websocket_session.h"

#include <gtest/gtest.h>

#include <vector>

#include "testing/websocket_fixture.h"

namespace storage {
namespace {

// Its own connection, and a record of what the session tells it: "open", "close" or the
// message text, each for that connection.
struct RecordingHandler : WebSockHandlerI, WebSockConnectionI {
  int OnOpen(const std::string&, WebSockConnectionI* c) override { return Note(c, "open"); }
  int OnMessage(const std::string&, WebSockConnectionI* c, const std::string& m) override {
    return Note(c, m);
  }
  int OnClose(WebSockConnectionI* c) override { return Note(c, "close"); }
  bool Send(const std::string&) override { return true; }
  bool IsOpen() override { return true; }
  int Note(WebSockConnectionI* c, const std::string& event) {
    EXPECT_EQ(c, static_cast<WebSockConnectionI*>(this));
    events.push_back(event);
    return 0;
  }
  std::vector<std::string> events;
};

using test::MaskedFrame;

// Fed in two pieces, cut inside the first frame: the replies, whether the connection is to
// close, and what the handler saw; after a close, nothing more is answered or delivered.
void ExpectSession(int version, const std::string& input, const std::string& reply, bool close,
                   const std::vector<std::string>& events) {
  SCOPED_TRACE(::testing::PrintToString(input));
  RecordingHandler handler;
  WsSession session(version, &handler, &handler);
  std::string replies;
  bool closed = false;
  for (const std::string& piece : {input.substr(0, 3), input.substr(3)}) {
    WsSession::ReadResult r = session.OnBytes(piece);
    replies += r.reply;
    closed = closed || r.closeConnection;
  }
  EXPECT_EQ(replies, reply);
  EXPECT_EQ(closed, close);
  EXPECT_EQ(handler.events, events);
  WsSession::ReadResult after = session.OnBytes(MaskedFrame(0x81, "later"));
  if (close) {
    EXPECT_TRUE(after.reply.empty());
    EXPECT_FALSE(after.closeConnection);
    EXPECT_EQ(handler.events, events);
  }
}

TEST(WsSession, RepliesAndWhatTheHandlerSees) {
  const int rfc = kWsVersionRfc6455;
  const std::string close1000("\x03\xE8", 2);
  // Pings are answered with pongs and still delivered.
  ExpectSession(rfc, MaskedFrame(0x81, "Hello") + MaskedFrame(0x89, "p1") + MaskedFrame(0x89, ""),
                std::string("\x8A\x02p1\x8A\x00", 6), false, {"Hello", "p1", ""});
  // Close is echoed with its status code only and ends the session; a status cut short
  // is not echoed.
  ExpectSession(rfc, MaskedFrame(0x88, close1000 + "bye") + MaskedFrame(0x81, "late"),
                "\x88\x02" + close1000, true, {close1000 + "bye"});
  ExpectSession(rfc, MaskedFrame(0x88, "\x03"), std::string("\x88\x00", 2), true, {"\x03"});
  ExpectSession(rfc, MaskedFrame(0x09, "x"), "\x88\x02\x03\xEA", true, {});  // 1002
  ExpectSession(kWsVersionHixie, std::string("\0one\xFF\0two\xFF\xFF\x00\0late\xFF", 17),
                std::string("\xFF\x00", 2), true, {"one", "two"});
}

}  // namespace
}  // namespace storage
