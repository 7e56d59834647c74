// WebSocket upgrade: the handler and connection interfaces, the server's own handler, and
// the two opening handshakes (RFC 6455 with "Sec-WebSocket-Key", and the older key1/key2
// revision hixie-76 with an MD5 challenge).
//
// The handshake functions are pure: they read the request's header values through a
// lookup callback and return the exact response bytes, so they do not depend on the
// request parser and are tested without sockets. Sending, frame reading and the calls to
// the handler happen on the server's network thread (see websocket_session.h).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace storage {

// One open WebSocket connection, as a handler sees it. Implemented by the server's
// connection object, which owns it; the pointer is valid from OnOpen until OnClose.
class WebSockConnectionI {
 public:
  // Sends one text message in the connection's frame format; false when the socket is gone
  // or the write failed. Network thread only.
  virtual bool Send(const std::string& message) = 0;
  virtual bool IsOpen() = 0;

 protected:
  // Connections are destroyed by their owner only, never through this interface.
  ~WebSockConnectionI() = default;
};

// Receives the events of every WebSocket connection of a server. All calls come from the
// network thread; `text` is always empty. The return values are not used.
class WebSockHandlerI {
 public:
  virtual ~WebSockHandlerI() = default;
  virtual int OnOpen(const std::string& text, WebSockConnectionI* connection) = 0;
  virtual int OnMessage(const std::string& text, WebSockConnectionI* connection,
                        const std::string& message) = 0;
  virtual int OnClose(WebSockConnectionI* connection) = 0;
};

// The server's own handler: remembers the connection opened last and ignores messages.
// The server object derives from it and installs itself as its connections' handler.
class WebSockServerHandler : public WebSockHandlerI {
 public:
  int OnOpen(const std::string& text, WebSockConnectionI* connection) override;
  int OnMessage(const std::string& text, WebSockConnectionI* connection,
                const std::string& message) override;
  // Clears currentWebSocket whichever connection closed (the last opened one is the only
  // one remembered; an older one closing forgets it too).
  int OnClose(WebSockConnectionI* connection) override;

  // Not owned. Written on the network thread; atomic so that other threads (the shell,
  // tests) may look at it.
  std::atomic<WebSockConnectionI*> currentWebSocket{nullptr};
};

// Connection state after the handshake: the frame format in use.
inline constexpr int kWsVersionNone = -1;  // plain HTTP
inline constexpr int kWsVersionHixie = 0;  // 0x00 ... 0xFF frames
inline constexpr int kWsVersionRfc6455 = 13;

inline constexpr std::string_view kWsKeySuffix = "258EAFA5-E914-47DA-95CA-C5AB0DC85B11";

// Looks a request header up by name (ignoring case); nullopt when the request lacks it.
using WsHeaderLookup = std::function<std::optional<std::string>(std::string_view name)>;

// kWsVersionRfc6455 when "Sec-WebSocket-Version" read as a decimal integer exceeds 12,
// otherwise kWsVersionHixie (header missing, 12 or below, or not a number).
int ChooseWsVersion(const WsHeaderLookup& header);

// "Sec-WebSocket-Accept" for a key: Base64 of the SHA-1 of key + kWsKeySuffix. nullopt
// when the digest could not be computed.
std::optional<std::string> ComputeWsAccept(std::string_view key);

// One key1/key2 value to its 32-bit part: the value's digits read as a number, divided by
// its count of blanks; 0 when there is no blank. Overlong digit runs wrap instead of
// overflowing.
uint32_t HixieKeyPart(std::string_view key);

// The 16-byte MD5 answer to a key1/key2/key3 challenge; nullopt when MD5 failed.
std::optional<std::string> ComputeHixieDigest(std::string_view key1, std::string_view key2,
                                              std::string_view key3);

struct WsHandshake {
  enum class Outcome {
    kRefused,   // no upgrade: no response; shut the connection down like plain HTTP
    kNeedMore,  // hixie-76 only: fewer than the 8 key3 bytes so far; wait for more
    kAccepted,  // send `response`, then read frames of format `version`
  };
  Outcome outcome = Outcome::kRefused;
  int version = kWsVersionNone;
  std::string response;  // the complete 101 response (with the digest for hixie-76)
  std::string leftover;  // bytes after the request that already belong to the frames
};

// Builds the response to an upgrade request. `afterHeaders` holds the bytes received after
// the request's blank line: for hixie-76 its first 8 bytes are key3, anything beyond them
// (and for RFC 6455 all of it) is returned in `leftover` for the frame decoder. A request
// is refused when RFC 6455 is chosen and "Sec-WebSocket-Key" is missing, when a digest
// fails, or when a header value to be echoed holds a CR or LF.
WsHandshake BuildWsHandshake(const WsHeaderLookup& header, std::string_view afterHeaders);

}  // namespace storage
