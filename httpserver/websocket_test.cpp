#include "httpserver/websocket.h"

#include <gtest/gtest.h>

#include <map>
#include <utility>
#include <vector>

namespace storage {
namespace {

// Request headers as the parser would hand them over: names matched ignoring case.
WsHeaderLookup Headers(std::vector<std::pair<std::string, std::string>> list) {
  return [list = std::move(list)](std::string_view name) -> std::optional<std::string> {
    for (const auto& [n, v] : list) {
      if (n.size() == name.size() &&
          std::equal(n.begin(), n.end(), name.begin(),
                     [](char a, char b) { return std::tolower(a) == std::tolower(b); }))
        return v;
    }
    return std::nullopt;
  };
}

TEST(WsHandshakeChoice, VersionAboveTwelveSelectsRfc6455) {
  const std::pair<const char*, int> cases[] = {
      {"13", kWsVersionRfc6455}, {"13, 8", kWsVersionRfc6455},
      {"12", kWsVersionHixie},   {"-13", kWsVersionHixie},
      {"abc", kWsVersionHixie},  {"99999999999999999999999", kWsVersionRfc6455},
  };
  for (const auto& [value, expected] : cases)
    EXPECT_EQ(ChooseWsVersion(Headers({{"sec-websocket-version", value}})), expected) << value;
  EXPECT_EQ(ChooseWsVersion(Headers({})), kWsVersionHixie);
}

// The hashes (ws_hash) are checked through their only uses: SHA-1 of the key here, MD5 of
// the challenge in the hixie-76 digest below.
TEST(WsHandshakeRfc6455, PublishedExampleKey) {
  // RFC 6455, section 1.3.
  EXPECT_EQ(ComputeWsAccept("dGhlIHNhbXBsZSBub25jZQ=="), "s3pPLMBiTxaQ9kYGzzhZRbK+xOo=");
  // A key whose digest holds zero bytes (checked with Python's hashlib): all 20 bytes count.
  EXPECT_EQ(ComputeWsAccept("AAAAAAAAAMgAAAB7m1cSSA=="), "NZ0s/gbFZ+OMLegNAOa85RW+AAY=");
}

TEST(WsHandshakeRfc6455, LeftoverOrRefusal) {
  WsHandshake h = BuildWsHandshake(
      Headers({{"Sec-WebSocket-Key", "dGhlIHNhbXBsZSBub25jZQ=="}, {"Sec-WebSocket-Version", "13"}}),
      std::string("\x81\x80", 2));
  ASSERT_EQ(h.outcome, WsHandshake::Outcome::kAccepted);
  EXPECT_EQ(h.version, kWsVersionRfc6455);
  EXPECT_EQ(h.leftover, std::string("\x81\x80", 2));
  // Without a key: refused (on a running server too, websocket_e2e_test).
  EXPECT_EQ(BuildWsHandshake(Headers({{"Sec-WebSocket-Version", "13"}}), "").outcome,
            WsHandshake::Outcome::kRefused);
}

TEST(WsHandshakeHixie, KeyParts) {
  const std::pair<const char*, uint32_t> cases[] = {
      {"4 @1  46546xW%0l 1 5", 4146546015u / 5},  // 5 blanks
      {"12998 5 Y3 1  .P00", 1299853100u / 5},
      {"18x 6]8vM;54 *(5:  {   U1]8  z [  8", 155712099u},
      {"12345", 0u},  // no blank
      {"   ", 0u},
  };
  for (const auto& [key, expected] : cases) EXPECT_EQ(HixieKeyPart(key), expected) << key;
  // A hostile run of digits must not overflow (the result is whatever wraps).
  HixieKeyPart(std::string(200, '9') + " ");
}

// The full handshake of these examples is checked on a running server (websocket_e2e_test).
TEST(WsHandshakeHixie, PublishedExampleDigest) {
  // The worked example of revision hixie-76, then a key3 holding a zero byte, used in full
  // (digest from Python's hashlib).
  EXPECT_EQ(ComputeHixieDigest("4 @1  46546xW%0l 1 5", "12998 5 Y3 1  .P00", "^n:ds[4U"),
            "8jKS'y:G*Co,Wxa-");
  EXPECT_EQ(ComputeHixieDigest("18x 6]8vM;54 *(5:  {   U1]8  z [  8",
                               "1_ tx7X d  <  nw  334J702) 7]o}` 0", std::string("Tm[K\0T2a", 8)),
            std::string("\xc7\xef\x13\xf7\x8d\x85\xbf\x09\x7c\xc7\xb7\xb9\x71\x89\x9d\x7f", 16));
}

TEST(WsHandshakeHixie, Key3ArrivingLateAndBytesBeyondIt) {
  auto headers = Headers({{"Host", "h"}, {"Origin", "o"}, {"Sec-WebSocket-Key1", "1 2"}});
  EXPECT_EQ(BuildWsHandshake(headers, "kkkkkkk").outcome, WsHandshake::Outcome::kNeedMore);
  WsHandshake h = BuildWsHandshake(headers, std::string("kkkkkkkk\0hi\xff", 12));
  ASSERT_EQ(h.outcome, WsHandshake::Outcome::kAccepted);
  EXPECT_EQ(h.leftover, std::string("\0hi\xff", 4));
  // Missing key2 and an absent header elsewhere count as empty values.
  EXPECT_EQ(h.response.substr(h.response.size() - 16), *ComputeHixieDigest("1 2", "", "kkkkkkkk"));
  EXPECT_NE(h.response.find("Sec-WebSocket-Location: ws://h/\r\n"), std::string::npos);
}

TEST(WsHandshakeHixie, EchoedValuesWithLineBreaksAreRefused) {
  for (const char* origin : {"a\nb", "a\rb"}) {
    EXPECT_EQ(BuildWsHandshake(Headers({{"Origin", origin}, {"Host", "h"}}), "12345678").outcome,
              WsHandshake::Outcome::kRefused);
    EXPECT_EQ(BuildWsHandshake(Headers({{"Origin", "o"}, {"Host", origin}}), "12345678").outcome,
              WsHandshake::Outcome::kRefused);
    // Refused at once, not after waiting for key3.
    EXPECT_EQ(BuildWsHandshake(Headers({{"Origin", origin}, {"Host", "h"}}), "").outcome,
              WsHandshake::Outcome::kRefused);
  }
}

}  // namespace
}  // namespace storage
