// storage::SocketHandler: one accepted connection, shared by every event loop.
//
// A connection is a small state machine: collecting the header block, sending the one
// response, lingering (send side shut, the peer's late bytes read off until it closes),
// or WebSocket. Sending never blocks: bytes go out as far as the socket takes them and
// the rest waits for write readiness. The loop calls OnRead/OnWrite on the network
// thread; a false result means the connection is finished and the loop destroys it.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "httpserver/http_message.h"
#include "httpserver/socket_ops.h"
#include "utils/read_stream.h"
#include "utils/shared_ptr.h"

namespace storage {

class HttpServer;
class SocketHandler;

// Receives the connections upgraded to WebSocket. Installed on the server by the
// WebSocket code; without one, an upgrade request is served as a plain GET.
class UpgradeHandlerI {
 public:
  virtual ~UpgradeHandlerI() = default;
  // A GET whose "Upgrade" is "websocket". Queue the handshake answer with
  // connection.QueueSend and call connection.SetWebSocketVersion; returning false ends
  // the connection after whatever was queued.
  virtual bool OnUpgrade(SocketHandler& connection, const HttpMessage& request,
                         const std::string& body) = 0;
  // Bytes received on an upgraded connection.
  virtual void OnFrameBytes(SocketHandler& connection, const char* data, size_t size) = 0;
  // The upgraded connection is going away.
  virtual void OnClosed(SocketHandler& connection) = 0;
};

class SocketHandler {
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

  // For upgraded connections: queue bytes behind whatever is pending and push them out.
  // False when the connection can no longer send.
  bool QueueSend(const std::string& bytes);
  bool IsOpen() const { return socket_ != kInvalidSocket && state_ != State::kClosed; }
  int32_t GetWebSocketVersion() const { return wsVersion_; }
  void SetWebSocketVersion(int32_t version) { wsVersion_ = version; }

  // The largest header block a client may send before the connection is dropped.
  static constexpr size_t kMaxHeaderBytes = 1 << 20;

 private:
  enum class State { kCollecting, kSending, kLingering, kWebSocket, kClosed };

  void HandleRequest(const std::string& request);
  void Serve(const HttpMessage& request, HttpMessage& response,
             utils::SharedPtr<utils::ReadStreamI> stream, const std::string& lastModified);
  void StartResponse(const std::string& head, utils::SharedPtr<utils::ReadStreamI> stream,
                     uint64_t bodyBytes);
  // Reads the next body block behind the pending bytes; false ends the body.
  bool FillBlock();
  // Sends until the socket would block or everything went; false on a dead connection.
  bool Pump();
  bool BeginLinger();
  bool Drain();

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
  std::string queued_;  // WebSocket bytes behind the buffer
};

}  // namespace storage
