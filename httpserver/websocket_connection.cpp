// The WebSocket side of storage::SocketHandler: the upgrade handshake, the frames of an
// upgraded connection, and Send/IsOpen of storage::WebSockConnectionI. Network thread
// only; the handshakes and the frame decoder are pure (websocket.h, websocket_session.h).
#include <cstdint>
#include <optional>

#include "httpserver/http_server.h"
#include "httpserver/socket_handler.h"
#include "httpserver/websocket_frame.h"
#include "httpserver/websocket_session.h"

namespace storage {
namespace {

WsHeaderLookup LookupIn(const std::vector<std::pair<std::string, std::string>>& headers) {
  return [&headers](std::string_view name) -> std::optional<std::string> {
    for (const auto& [n, v] : headers) {
      if (EqualsNoCaseA(n, std::string(name))) return v;
    }
    return std::nullopt;
  };
}

}  // namespace

bool SocketHandler::StartUpgrade(const HttpMessage& request, const std::string& body) {
  wsHandler_ = owner_->GetWebSocketHandler();
  // Keep only the headers a handshake reads: a late key3 must not pin the whole request.
  wsHeaders_.clear();
  for (const char* name : {"Sec-WebSocket-Version", "Sec-WebSocket-Key", "Sec-WebSocket-Key1",
                           "Sec-WebSocket-Key2", "Origin", "Host"}) {
    if (request.Has(name)) wsHeaders_.emplace_back(name, request.Get(name));
  }
  WsHandshake handshake = BuildWsHandshake(LookupIn(wsHeaders_), body);
  switch (handshake.outcome) {
    case WsHandshake::Outcome::kRefused:
      wsHeaders_.clear();
      return false;
    case WsHandshake::Outcome::kNeedMore:
      state_ = State::kWebSocket;
      wsPending_ = body;
      return true;
    case WsHandshake::Outcome::kAccepted:
      state_ = State::kWebSocket;
      CompleteUpgrade(handshake);
      return true;
  }
  return false;
}

void SocketHandler::CompleteUpgrade(const WsHandshake& handshake) {
  wsHeaders_.clear();
  wsPending_.clear();
  queue_.Append(handshake.response);
  wsVersion_ = handshake.version;
  lastReceive_ = Clock::now();
  session_ = std::make_unique<WsSession>(handshake.version, wsHandler_, this);
  upgraded_ = true;
  // The handler hears of the connection once the 101 response is queued, so anything it
  // sends from OnOpen goes out behind the handshake.
  session_->OnOpened();
  if (!handshake.leftover.empty() && state_ == State::kWebSocket) {
    OnWebSocketBytes(handshake.leftover.data(), handshake.leftover.size());
  }
}

void SocketHandler::OnWebSocketBytes(const char* data, size_t size) {
  if (!session_) {
    // A hixie-76 handshake still short of its eight key3 bytes.
    wsPending_.append(data, size);
    WsHandshake handshake = BuildWsHandshake(LookupIn(wsHeaders_), wsPending_);
    if (handshake.outcome == WsHandshake::Outcome::kAccepted) {
      CompleteUpgrade(handshake);
    } else if (handshake.outcome == WsHandshake::Outcome::kRefused) {
      state_ = State::kSending;  // nothing queued: the connection simply ends
    }
    return;
  }
  WsSession::ReadResult result = session_->OnBytes(std::string_view(data, size));
  if (state_ != State::kWebSocket) return;  // a Send from the handler failed
  queue_.Append(result.reply);
  NoteWebSocketBytes(session_->Committed());
  if (!result.closeConnection && context_->webSocketBytes > context_->limits.webSocketMemory) {
    // With this frame, all connections together would hold too much of unfinished
    // frames: this frame goes, decided on its header.
    session_->Abandon();
    NoteWebSocketBytes(0);
    if (wsVersion_ >= kWsVersionRfc6455) queue_.Append(EncodeWsClose(kWsCloseTooBig));
    result.closeConnection = true;
  }
  if (!result.closeConnection) session_->ReserveFrame();
  if (result.closeConnection) {
    keepAlive_ = false;
    state_ = State::kSending;
  }
}

bool SocketHandler::Send(const std::string& message) {
  if (!IsOpen()) return false;
  queue_.Append(session_->Encode(message));
  // Pushed out now, beyond the budget of the event under way (the handler may send from
  // outside any event of this connection). A failed socket ends the connection; the event
  // under way, or the next one, notices.
  const size_t budget = turnLeft_;
  turnLeft_ = SIZE_MAX;
  const Step step = Pump();
  turnLeft_ = step == Step::kEnd ? 0 : budget;
  if (step == Step::kEnd) state_ = State::kClosed;
  return state_ == State::kWebSocket;
}

bool SocketHandler::IsOpen() {
  return socket_ != kInvalidSocket && state_ == State::kWebSocket && session_ != nullptr;
}

}  // namespace storage
