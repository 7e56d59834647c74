#include "httpserver/websocket.h"

#include "httpserver/ws_hash.h"
#include "utils/encoding.h"

namespace storage {

int WebSockServerHandler::OnOpen(const std::string&, WebSockConnectionI* connection) {
  currentWebSocket.store(connection);
  return 0;
}

int WebSockServerHandler::OnMessage(const std::string&, WebSockConnectionI*, const std::string&) {
  return 0;
}

int WebSockServerHandler::OnClose(WebSockConnectionI*) {
  currentWebSocket.store(nullptr);
  return 0;
}

namespace {

// Reads a decimal integer the way the C runtime's atoi does (leading white space, an
// optional sign, digits up to the first other character), saturating instead of
// overflowing.
long long ReadDecimal(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  long long value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    if (value < 1000000000000000LL) value = value * 10 + (text[i] - '0');
  }
  return negative ? -value : value;
}

bool HasLineBreak(std::string_view value) {
  return value.find_first_of("\r\n") != std::string_view::npos;
}

}  // namespace

int ChooseWsVersion(const WsHeaderLookup& header) {
  std::optional<std::string> version = header("Sec-WebSocket-Version");
  if (version && ReadDecimal(*version) > 12) return kWsVersionRfc6455;
  return kWsVersionHixie;
}

std::optional<std::string> ComputeWsAccept(std::string_view key) {
  std::string input(key);
  input += kWsKeySuffix;
  Sha1Digest digest{};
  if (!ComputeSha1(input, digest)) return std::nullopt;
  std::string accept;
  utils::Base64Encode(std::string(digest.begin(), digest.end()), accept);
  return accept;
}

uint32_t HixieKeyPart(std::string_view key) {
  // Unsigned arithmetic wraps where a signed 64-bit number would overflow on a hostile
  // key; well-formed keys stay far below either limit.
  uint64_t number = 0;
  int64_t blanks = 0;
  for (char c : key) {
    if (c >= '0' && c <= '9') number = number * 10 + static_cast<uint64_t>(c - '0');
    if (c == ' ') ++blanks;
  }
  if (blanks == 0) return 0;
  return static_cast<uint32_t>(static_cast<int64_t>(number) / blanks);
}

std::optional<std::string> ComputeHixieDigest(std::string_view key1, std::string_view key2,
                                              std::string_view key3) {
  std::string challenge;
  for (uint32_t part : {HixieKeyPart(key1), HixieKeyPart(key2)}) {
    for (int shift = 24; shift >= 0; shift -= 8) challenge += static_cast<char>(part >> shift);
  }
  challenge += key3;
  Md5Digest digest{};
  if (!ComputeMd5(challenge, digest)) return std::nullopt;
  return std::string(digest.begin(), digest.end());
}

WsHandshake BuildWsHandshake(const WsHeaderLookup& header, std::string_view afterHeaders) {
  WsHandshake result;
  const int version = ChooseWsVersion(header);
  if (version == kWsVersionRfc6455) {
    std::optional<std::string> key = header("Sec-WebSocket-Key");
    if (!key) return result;
    std::optional<std::string> accept = ComputeWsAccept(*key);
    if (!accept) return result;
    result.response =
        "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
        "Sec-WebSocket-Accept: " +
        *accept + "\r\n\r\n";
    // A client sends frames only after it has read the 101 response, but bytes that came
    // early are frames all the same.
    result.leftover = std::string(afterHeaders);
  } else {
    // key3 is the eight bytes after the blank line. Fewer than eight means the rest is
    // still in flight: answering now would hash a short challenge.
    constexpr size_t kKey3Size = 8;
    std::string origin = header("Origin").value_or("");
    std::string host = header("Host").value_or("");
    if (HasLineBreak(origin) || HasLineBreak(host)) return result;
    if (afterHeaders.size() < kKey3Size) {
      result.outcome = WsHandshake::Outcome::kNeedMore;
      return result;
    }
    std::optional<std::string> digest = ComputeHixieDigest(
        header("Sec-WebSocket-Key1").value_or(""), header("Sec-WebSocket-Key2").value_or(""),
        afterHeaders.substr(0, kKey3Size));
    if (!digest) return result;
    result.response =
        "HTTP/1.1 101 Switching Protocols\r\nUpgrade: WebSocket\r\nConnection: Upgrade\r\n"
        "Sec-WebSocket-Origin: " +
        origin + "\r\nSec-WebSocket-Location: ws://" + host + "/\r\n\r\n" + *digest;
    result.leftover = std::string(afterHeaders.substr(kKey3Size));
  }
  result.outcome = WsHandshake::Outcome::kAccepted;
  result.version = version;
  return result;
}

}  // namespace storage
