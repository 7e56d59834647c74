// storage::SocketHandler: one accepted connection, shared by every event loop.
//
// A connection is a small state machine: collecting the header block, sending the one
// response, lingering (send side shut, the peer's late bytes read off until it closes),
// or WebSocket. An upgraded connection is the handler's storage::WebSockConnectionI from
// OnOpen until OnClose, which its destructor calls. Sending never blocks: bytes go out as far as
// the socket takes them and the rest waits for write readiness. The loop calls OnRead/OnWrite on
// the network thread; a false result means the connection is finished and the loop destroys it.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "httpserver/http_message.h"
#include "httpserver/socket_ops.h"
#include "httpserver/websocket.h"
#include "utils/read_stream.h"
#include "utils/shared_ptr.h"

namespace storage {

class HttpServer;
class WsSession;
struct WsHandshake;

class SocketHandler final : public WebSockConnectionI {
 public:
  using Clock = std::chrono::steady_clock;

  // Takes ownership of socket (non-blocking, registered with the loop).
  SocketHandler(SocketId socket, HttpServer* owner);
  ~SocketHandler();
  SocketHandler(const SocketHandler&) = delete;
  SocketHandler& operator=(const SocketHandler&) = delete;

  bool OnRead();
  bool OnWrite();
  // The peer ended its side. A response under way still goes out (the peer may only
  // have half-closed); otherwise the connection is finished.
  bool OnPeerClosed();

  // What the loop should wait for next.
  bool WantsRead() const;
  bool WantsWrite() const;
  Clock::time_point LastProgress() const { return lastProgress_; }
  SocketId GetSocket() const { return socket_; }

  // WebSocket (websocket_connection.cpp). Send queues one text message in the
  // connection's frame format and pushes out what the socket takes; false when the
  // connection is not an open WebSocket or the socket failed.
  bool Send(const std::string& message) override;
  bool IsOpen() override;
  int32_t GetWebSocketVersion() const { return wsVersion_; }
  // Upgraded and not yet closing: such a connection may stay quiet for as long as the
  // page keeps it, so the idle sweep passes it by.
  bool IsWebSocket() const { return state_ == State::kWebSocket && session_ != nullptr; }

  // The largest header block a client may send before the connection is dropped.
  static constexpr size_t kMaxHeaderBytes = 1 << 20;

 private:
  enum class State { kCollecting, kSending, kLingering, kWebSocket, kClosed };

  void HandleRequest(const std::string& request);
  // Answers with stream (not empty) under response's head plus the server's headers;
  // withBody false (HEAD) sends the same head alone.
  void Serve(const HttpMessage& request, HttpMessage& response,
             utils::SharedPtr<utils::ReadStreamI> stream, bool withBody);
  void StartResponse(const std::string& head, utils::SharedPtr<utils::ReadStreamI> stream,
                     uint64_t bodyBytes);
  // Reads the next body block behind the pending bytes; false ends the body.
  bool FillBlock();
  // Sends body bytes straight from the stream's memory; false when the socket failed.
  // wouldBlock is set when the socket takes no more for now.
  bool SendFromMemory(bool& wouldBlock);
  // Sends until the socket would block or everything went; false on a dead connection.
  bool Pump();
  bool BeginLinger();
  bool Drain();

  // Answers a GET with "Upgrade: websocket"; false when the upgrade is refused (no
  // response). A hixie-76 request may wait for the rest of its key3 bytes.
  bool StartUpgrade(const HttpMessage& request, const std::string& body);
  void CompleteUpgrade(const WsHandshake& handshake);
  // Bytes received after the upgrade request. When the session is over (close
  // exchanged, oversized or broken frame) the state becomes kSending: the reply goes
  // out and the connection ends.
  void OnWebSocketBytes(const char* data, size_t size);

  SocketId socket_;
  HttpServer* owner_;
  State state_ = State::kCollecting;
  std::string inBuffer_;
  int32_t wsVersion_ = -1;
  Clock::time_point lastProgress_;

  // Bytes waiting to go out: buffer_[begin_, end_), then bodyRemaining_ more from body_.
  std::unique_ptr<char[]> buffer_;
  size_t capacity_ = 0;
  size_t begin_ = 0;
  size_t end_ = 0;
  utils::SharedPtr<utils::ReadStreamI> body_;
  uint64_t bodyRemaining_ = 0;
  // A large body whose bytes sit in memory goes out straight from there, without the
  // copy into buffer_.
  bool bodyInMemory_ = false;
  std::string queued_;  // WebSocket bytes behind the buffer

  WebSockHandlerI* wsHandler_ = nullptr;  // not owned; taken from the server at upgrade
  std::unique_ptr<WsSession> session_;
  bool upgraded_ = false;  // the handler was told OnOpen and is owed OnClose
  // A hixie-76 handshake waiting for key3: the header values it reads, the bytes so far.
  std::vector<std::pair<std::string, std::string>> wsHeaders_;
  std::string wsPending_;
};

}  // namespace storage
