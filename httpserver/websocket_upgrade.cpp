#include "httpserver/websocket_upgrade.h"

#include <optional>
#include <vector>

namespace storage {

// One upgraded connection as the handler sees it.
class WsUpgradeHandler::Connection : public WebSockConnectionI {
 public:
  explicit Connection(SocketHandler& socket) : socket_(socket) {}

  bool Send(const std::string& message) override {
    return session && socket_.IsOpen() && socket_.QueueSend(session->Encode(message));
  }
  bool IsOpen() override { return session != nullptr && socket_.IsOpen(); }

  SocketHandler& socket() { return socket_; }

  std::unique_ptr<WsSession> session;
  // Hixie-76 requests whose eight key3 bytes have not all arrived: the header values the
  // answer needs, and the bytes so far.
  std::vector<std::pair<std::string, std::string>> pendingHeaders;
  std::string pendingBytes;

 private:
  SocketHandler& socket_;
};

WsUpgradeHandler::WsUpgradeHandler() : handler_(&serverHandler) {}
WsUpgradeHandler::WsUpgradeHandler(WebSockHandlerI* handler) : handler_(handler) {}
WsUpgradeHandler::~WsUpgradeHandler() = default;

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

bool WsUpgradeHandler::OnUpgrade(SocketHandler& connection, const HttpMessage& request,
                                 const std::string& body) {
  auto state = std::make_unique<Connection>(connection);
  // Keep only the headers a handshake reads: a late key3 must not pin the whole request.
  for (const char* name : {"Sec-WebSocket-Version", "Sec-WebSocket-Key", "Sec-WebSocket-Key1",
                           "Sec-WebSocket-Key2", "Origin", "Host"}) {
    if (request.Has(name)) state->pendingHeaders.emplace_back(name, request.Get(name));
  }
  WsHandshake handshake = BuildWsHandshake(LookupIn(state->pendingHeaders), body);
  if (handshake.outcome == WsHandshake::Outcome::kRefused) return false;
  Connection& ref = *state;
  connections_[&connection] = std::move(state);
  if (handshake.outcome == WsHandshake::Outcome::kNeedMore) {
    ref.pendingBytes = body;
    return true;
  }
  return Complete(ref, handshake);
}

bool WsUpgradeHandler::Complete(Connection& state, const WsHandshake& handshake) {
  state.pendingHeaders.clear();
  state.pendingBytes.clear();
  SocketHandler& socket = state.socket();
  if (!socket.QueueSend(handshake.response)) {
    connections_.erase(&socket);
    return false;
  }
  socket.SetWebSocketVersion(handshake.version);
  state.session = std::make_unique<WsSession>(handshake.version, handler_, &state);
  // The handler hears of the connection once the 101 response is queued, so anything it
  // sends from OnOpen goes out behind the handshake.
  state.session->OnOpened();
  if (!handshake.leftover.empty())
    OnFrameBytes(socket, handshake.leftover.data(), handshake.leftover.size());
  return true;
}

void WsUpgradeHandler::OnFrameBytes(SocketHandler& connection, const char* data, size_t size) {
  auto it = connections_.find(&connection);
  if (it == connections_.end()) return;
  Connection& state = *it->second;
  if (!state.session) {
    state.pendingBytes.append(data, size);
    WsHandshake handshake = BuildWsHandshake(LookupIn(state.pendingHeaders), state.pendingBytes);
    if (handshake.outcome == WsHandshake::Outcome::kAccepted) Complete(state, handshake);
    return;
  }
  WsSession::ReadResult result = state.session->OnBytes(std::string_view(data, size));
  if (!result.reply.empty()) connection.QueueSend(result.reply);
}

void WsUpgradeHandler::OnClosed(SocketHandler& connection) {
  auto it = connections_.find(&connection);
  if (it == connections_.end()) return;
  std::unique_ptr<Connection> state = std::move(it->second);
  connections_.erase(it);
  if (state->session) handler_->OnClose(state.get());
}

}  // namespace storage
