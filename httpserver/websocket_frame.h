// WebSocket frames on the wire: an incremental decoder for the frames a client sends and
// the encoders for the frames the server sends, in both formats (RFC 6455, and the
// 0x00 ... 0xFF frames of revision hixie-76).
//
// TCP delivers a byte stream, not frames: one receive may hold several frames, the end of
// one and the start of the next, or a single byte. The decoder therefore keeps the
// unfinished tail per connection, hands out every complete frame in order, and never looks
// at bytes it was not given. A frame whose payload exceeds the limit (16 MiB by default)
// ends the connection instead of being buffered: a peer cannot make the server hold more
// than one limit's worth of bytes per connection.
//
// Not thread-safe; each connection owns its decoder (used on the network thread).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace storage {

inline constexpr size_t kWsMaxPayload = size_t{16} << 20;

// RFC 6455 opcodes.
inline constexpr uint8_t kWsOpContinuation = 0x0;
inline constexpr uint8_t kWsOpText = 0x1;
inline constexpr uint8_t kWsOpBinary = 0x2;
inline constexpr uint8_t kWsOpClose = 0x8;
inline constexpr uint8_t kWsOpPing = 0x9;
inline constexpr uint8_t kWsOpPong = 0xA;

// RFC 6455 close status codes the server sends.
inline constexpr uint16_t kWsCloseProtocolError = 1002;
inline constexpr uint16_t kWsCloseTooBig = 1009;

struct WsFrame {
  uint8_t opcode = kWsOpText;  // hixie-76 text frames report kWsOpText
  bool fin = true;
  std::string payload;  // unmasked
};

class WsFrameDecoder {
 public:
  enum class Status {
    kOpen,           // waiting for more bytes
    kCloseReceived,  // the peer started the closing handshake; later bytes are ignored
    kTooLarge,       // a frame exceeded the payload limit
    kProtocolError,  // RFC 6455 rule broken (control frame fragmented or over 125 bytes)
  };

  // version: kWsVersionRfc6455 (13) or kWsVersionHixie (0), as chosen by the handshake.
  explicit WsFrameDecoder(int version, size_t maxPayload = kWsMaxPayload);

  // Takes the next bytes of the stream and appends every frame completed by them to
  // `frames`, in order. Once the status is no longer kOpen, bytes are discarded unread.
  // A close frame is still appended (the handler sees it) before kCloseReceived.
  Status Feed(std::string_view bytes, std::vector<WsFrame>& frames);

  Status status() const { return status_; }
  // Bytes held for a frame not yet complete.
  size_t buffered() const { return buffer_.size() - start_; }
  // Bytes the frame not yet complete takes once all of it is in: its declared size when
  // the header is in (RFC 6455), else what is held.
  size_t committed() const { return need_ > buffered() ? need_ : buffered(); }
  // Makes room for the whole of the frame not yet complete at once, so a large frame
  // grows its buffer once instead of by doubling. The caller first checks committed()
  // against its memory budget.
  void ReserveFrame();

 private:
  // Each decodes at most one frame from the buffer; false when more bytes are needed or
  // the status changed.
  bool DecodeRfc6455(std::vector<WsFrame>& frames);
  bool DecodeHixie(std::vector<WsFrame>& frames);

  int version_;
  size_t maxPayload_;
  Status status_ = Status::kOpen;
  std::string buffer_;
  size_t start_ = 0;    // first byte of buffer_ not yet consumed
  size_t scanned_ = 0;  // hixie-76 text frames: bytes after start_ known to hold no 0xFF
  size_t need_ = 0;     // RFC 6455: header and payload of the frame not yet complete
};

// A message as Send puts it on the wire: for RFC 6455 one final, unmasked text frame
// (0x81, then the length in 7, 16 or 64 bits); for hixie-76 0x00, the bytes, 0xFF.
std::string EncodeWsMessage(int version, std::string_view message);

// One final, unmasked RFC 6455 frame with the given opcode.
std::string EncodeWsFrame(uint8_t opcode, std::string_view payload);

// A close frame carrying a status code (RFC 6455).
std::string EncodeWsClose(uint16_t code);

}  // namespace storage
