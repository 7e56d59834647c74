#include "httpserver/websocket_frame.h"

#include <cstring>

#include "httpserver/websocket.h"

namespace storage {

WsFrameDecoder::WsFrameDecoder(int version, size_t maxPayload)
    : version_(version), maxPayload_(maxPayload) {}

WsFrameDecoder::Status WsFrameDecoder::Feed(std::string_view bytes, std::vector<WsFrame>& frames) {
  if (status_ != Status::kOpen) return status_;
  // Drop consumed bytes before growing, so the buffer holds at most one frame's worth
  // plus this receive.
  if (start_ != 0) {
    buffer_.erase(0, start_);
    start_ = 0;
  }
  buffer_.append(bytes.data(), bytes.size());
  need_ = 0;
  if (version_ == kWsVersionRfc6455) {
    while (DecodeRfc6455(frames)) {
    }
  } else {
    while (DecodeHixie(frames)) {
    }
  }
  if (status_ != Status::kOpen || start_ == buffer_.size()) {
    need_ = 0;
    buffer_.clear();
    start_ = 0;
    scanned_ = 0;
  }
  return status_;
}

bool WsFrameDecoder::DecodeRfc6455(std::vector<WsFrame>& frames) {
  const size_t available = buffer_.size() - start_;
  const auto* p = reinterpret_cast<const uint8_t*>(buffer_.data()) + start_;
  if (available < 2) return false;
  const bool fin = (p[0] & 0x80) != 0;
  const uint8_t opcode = p[0] & 0x0F;
  const bool masked = (p[1] & 0x80) != 0;
  uint64_t length = p[1] & 0x7F;
  size_t header = 2;
  if (length == 126) {
    if (available < 4) return false;
    length = uint64_t{p[2]} << 8 | p[3];
    header = 4;
  } else if (length == 127) {
    if (available < 10) return false;
    length = 0;
    for (int i = 2; i < 10; ++i) length = length << 8 | p[i];
    header = 10;
  }
  // Decided on the header alone, before any payload is buffered.
  if (length > maxPayload_) {
    status_ = Status::kTooLarge;
    return false;
  }
  if (opcode >= kWsOpClose && (!fin || length > 125)) {
    status_ = Status::kProtocolError;
    return false;
  }
  // Clients always mask; an unmasked frame is still read where its bytes really are
  // (no key in the header) rather than taking payload bytes for a key.
  const size_t keyOffset = header;
  if (masked) header += 4;
  if (available < header || available - header < length) {
    need_ = header + static_cast<size_t>(length);
    return false;
  }

  WsFrame frame;
  frame.opcode = opcode;
  frame.fin = fin;
  frame.payload.assign(reinterpret_cast<const char*>(p + header), static_cast<size_t>(length));
  if (masked) {
    const uint8_t* key = p + keyOffset;
    for (size_t i = 0; i < frame.payload.size(); ++i) frame.payload[i] ^= key[i % 4];
  }
  start_ += header + static_cast<size_t>(length);
  frames.push_back(std::move(frame));
  if (opcode == kWsOpClose) {
    status_ = Status::kCloseReceived;
    return false;
  }
  return true;
}

void WsFrameDecoder::ReserveFrame() {
  if (need_ != 0 && buffer_.capacity() < start_ + need_) buffer_.reserve(start_ + need_);
}

bool WsFrameDecoder::DecodeHixie(std::vector<WsFrame>& frames) {
  const size_t available = buffer_.size() - start_;
  const auto* p = reinterpret_cast<const uint8_t*>(buffer_.data()) + start_;
  if (available < 1) return false;
  const uint8_t type = p[0];
  if (type & 0x80) {
    // Length-prefixed frame: the length in 7-bit groups, high bit set on all but the
    // last. 0xFF with length 0 is the closing handshake; other such frames are discarded.
    uint64_t length = 0;
    size_t at = 1;
    for (;;) {
      if (at >= available) return false;
      const uint8_t b = p[at++];
      length = length << 7 | (b & 0x7F);
      if (length > maxPayload_) {
        status_ = Status::kTooLarge;
        return false;
      }
      if ((b & 0x80) == 0) break;
    }
    if (type == 0xFF && length == 0) {
      start_ += at;
      status_ = Status::kCloseReceived;
      return false;
    }
    if (available - at < length) return false;
    start_ += at + static_cast<size_t>(length);
    return true;
  }
  // Sentinel frame: the type byte, the data, 0xFF. Only type 0x00 carries a message.
  // The search resumes where the last one stopped, so a frame trickling in byte by byte
  // is scanned once.
  const size_t from = 1 + scanned_;
  const void* end = from < available ? std::memchr(p + from, 0xFF, available - from) : nullptr;
  if (end == nullptr) {
    scanned_ = available - 1;
    if (scanned_ > maxPayload_) status_ = Status::kTooLarge;
    return false;
  }
  const size_t dataSize = static_cast<size_t>(static_cast<const uint8_t*>(end) - p) - 1;
  if (dataSize > maxPayload_) {
    status_ = Status::kTooLarge;
    return false;
  }
  if (type == 0x00) {
    WsFrame frame;
    frame.payload.assign(reinterpret_cast<const char*>(p + 1), dataSize);
    frames.push_back(std::move(frame));
  }
  start_ += dataSize + 2;
  scanned_ = 0;
  return true;
}

std::string EncodeWsFrame(uint8_t opcode, std::string_view payload) {
  std::string out;
  out.reserve(payload.size() + 10);
  out += static_cast<char>(0x80 | (opcode & 0x0F));
  const uint64_t length = payload.size();
  if (length < 126) {
    out += static_cast<char>(length);
  } else if (length < 65536) {
    out += static_cast<char>(126);
    out += static_cast<char>(length >> 8);
    out += static_cast<char>(length & 0xFF);
  } else {
    out += static_cast<char>(127);
    for (int shift = 56; shift >= 0; shift -= 8) out += static_cast<char>((length >> shift) & 0xFF);
  }
  out.append(payload.data(), payload.size());
  return out;
}

std::string EncodeWsMessage(int version, std::string_view message) {
  if (version < kWsVersionRfc6455) {
    std::string out;
    out.reserve(message.size() + 2);
    out += '\0';
    out.append(message.data(), message.size());
    out += static_cast<char>(0xFF);
    return out;
  }
  return EncodeWsFrame(kWsOpText, message);
}

std::string EncodeWsClose(uint16_t code) {
  const char payload[2] = {static_cast<char>(code >> 8), static_cast<char>(code & 0xFF)};
  return EncodeWsFrame(kWsOpClose, std::string_view(payload, 2));
}

}  // namespace storage
