#include "httpserver/websocket_session.h"

#include <vector>

namespace storage {

WsSession::WsSession(int version, WebSockHandlerI* handler, WebSockConnectionI* connection,
                     size_t maxPayload)
    : version_(version),
      handler_(handler),
      connection_(connection),
      decoder_(version, maxPayload) {}

void WsSession::OnOpened() {
  if (handler_ != nullptr) handler_->OnOpen(std::string(), connection_);
}

void WsSession::Abandon() {
  closed_ = true;
  decoder_ = WsFrameDecoder(version_, 0);
}

WsSession::ReadResult WsSession::OnBytes(std::string_view bytes) {
  ReadResult result;
  if (closed_) return result;
  std::vector<WsFrame> frames;
  const WsFrameDecoder::Status status = decoder_.Feed(bytes, frames);
  const bool rfc = version_ >= kWsVersionRfc6455;
  for (const WsFrame& frame : frames) {
    if (rfc && frame.opcode == kWsOpPing) result.reply += EncodeWsFrame(kWsOpPong, frame.payload);
    if (handler_ != nullptr) handler_->OnMessage(std::string(), connection_, frame.payload);
  }
  switch (status) {
    case WsFrameDecoder::Status::kOpen:
      return result;
    case WsFrameDecoder::Status::kCloseReceived:
      if (rfc) {
        // Echo the peer's status code; a close without one is answered without one.
        // A one-byte body is malformed and is answered like an empty one.
        const std::string& payload = frames.back().payload;
        std::string_view code = payload.size() >= 2 ? std::string_view(payload).substr(0, 2) : "";
        result.reply += EncodeWsFrame(kWsOpClose, code);
      } else {
        result.reply += std::string("\xFF\x00", 2);
      }
      break;
    case WsFrameDecoder::Status::kTooLarge:
      if (rfc) result.reply += EncodeWsClose(kWsCloseTooBig);
      break;
    case WsFrameDecoder::Status::kProtocolError:
      result.reply += EncodeWsClose(kWsCloseProtocolError);
      break;
  }
  closed_ = true;
  result.closeConnection = true;
  return result;
}

}  // namespace storage
