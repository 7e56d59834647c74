// storage::SocketHandler: one accepted connection, shared by every event loop.
//
// A connection is a small state machine: collecting a request, sending its response,
// lingering (send side shut, the peer's late bytes read off until it closes), or WebSocket.
// HTTP/1.1 connections persist: after a response the next request is read, pipelined ones
// answered in order, until either side says "Connection: close", the request cap is reached
// or the idle limit passes. An upgraded connection is the handler's storage::WebSockConnectionI
// from OnOpen until OnClose, which its destructor calls.
//
// Sending never blocks: bytes go out as far as the socket takes them, the rest waits in a
// SendQueue for write readiness. One event sends at most ConnectionLimits::turnBytes; a
// connection with more to do asks for another turn (WantsTurn) and the loop calls OnTurn
// after serving the others. While more than ConnectionLimits::maxUnsent bytes wait, the
// connection reads nothing more. The loop calls every On* method on the network thread; a
// false result means the connection is finished and the loop destroys it.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "httpserver/connection_limits.h"
#include "httpserver/http_message.h"
#include "httpserver/http_stream_provider.h"
#include "httpserver/request.h"
#include "httpserver/send_queue.h"
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

  // Takes ownership of socket (non-blocking, registered with the loop). context outlives
  // the handler.
  SocketHandler(SocketId socket, HttpServer* owner, ConnectionContext* context);
  ~SocketHandler();
  SocketHandler(const SocketHandler&) = delete;
  SocketHandler& operator=(const SocketHandler&) = delete;

  // The socket became readable or writable, or the turn the connection asked for came:
  // it goes on as far as the socket and the turn's budget allow.
  bool OnReady();
  // The peer ended its side (Windows' FD_CLOSE). Bytes before the close are still read;
  // a response under way still goes out, and the connection ends after it.
  bool OnPeerClosed();
  bool WantsTurn() const { return wantsTurn_; }
  // The timers, about once a second: the idle limit, the header deadline (408), WebSocket
  // pings. False when the connection is to be closed now.
  bool OnTick(Clock::time_point now);

  // Whether the connection may be closed to make room for a new client, and how it ranks:
  // lower rank first (0 idle between requests or lingering, 1 without a complete request,
  // 2 an open WebSocket or a response that made no progress for limits.stalledAfter),
  // within a rank the longest waiting (since) first.
  bool Sheddable(int& rank, Clock::time_point& since) const;
  // Whether the connection holds the start of a request it is collecting, and since when.
  bool Collecting(Clock::time_point& since) const;
  // The unfinished header blocks of all connections passed their budget: this one (the
  // one collecting longest) is answered 431 and ends. False when it ended already.
  bool RefuseOversized();

  // WebSocket (websocket_connection.cpp). Send queues one text message in the
  // connection's frame format and pushes out what the socket takes; false when the
  // connection is not an open WebSocket or the socket failed.
  bool Send(const std::string& message) override;
  bool IsOpen() override;
  int32_t GetWebSocketVersion() const { return wsVersion_; }
  // The largest header block a client may send; a longer one is answered 431.
  static constexpr size_t kMaxHeaderBytes = 1 << 20;

 private:
  enum class State { kCollecting, kSending, kLingering, kWebSocket, kClosed };
  enum class Step { kAgain, kWait, kEnd };

  void HandleRequest(const ParsedRequest& request);
  // Answers with reply's stream (not empty), or its gzip form when the request admits
  // it, under reply's head plus the server's headers; withBody false (HEAD) sends the
  // same head alone.
  void Serve(const HttpMessage& request, ProviderReply& reply, bool withBody);
  // fileBody (optional): where stream's bytes lie in a file, for sending them from there.
  void StartResponse(const std::string& head, utils::SharedPtr<utils::ReadStreamI> stream,
                     uint64_t bodyBytes, utils::SharedPtr<FileBodyI> fileBody = {});
  // A status answer after which the connection ends (400, 408, 413, 431).
  void Refuse(int code);

  // Runs the state machine until the socket would block, the turn is used up or the
  // connection ends, and records the request bytes it holds; false when it ended.
  bool Drive();
  bool Advance();
  // Reads until a request is complete and answers it.
  Step Collect();
  // Receives into block (16 KiB) within the turn's budget: kAgain with got
  // bytes, kWait when nothing waits or the budget is spent, kEnd when the socket failed.
  Step Receive(char* block, size_t& got);
  // Takes the request whose header block ends at headEnd; true when it was answered
  // (its body, if any, all read) or refused.
  bool TakeRequest(size_t headEnd);
  // Drops what has arrived of the pending request's body; true when the body is all in
  // and the request was answered.
  bool DiscardBody();
  // Answers the pending request.
  void Answer();
  // Sends queued bytes and the body behind them.
  Step Pump();
  Step FinishResponse();
  // Lets the body's stream do, within the turn's budget, the work its next block needs;
  // false (and another turn asked for) while work remains.
  bool PrepareBody();
  // Reads the next body block into the queue; false ends the body.
  bool FillBlock();
  // Sends body bytes straight from the stream's file (fileBody_) or memory.
  Step SendDirect();
  Step Drain();
  Step ReadWebSocket();
  // Records the bytes of unfinished frames this connection holds now.
  void NoteWebSocketBytes(size_t held);
  // Records the bytes of request text this connection holds now.
  void NoteHeaderBytes(size_t held);
  // Starts the budget of one event.
  void NewTurn();

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
  ConnectionContext* context_;
  State state_ = State::kCollecting;
  std::string inBuffer_;
  size_t searchFrom_ = 0;
  // The request whose body is still coming (inBuffer_ holds what arrived of the body).
  std::unique_ptr<ParsedRequest> pending_;
  uint64_t bodyLeft_ = 0;   // body bytes still to drop
  size_t headerHeld_ = 0;   // this connection's part of context_->headerBytes
  int32_t wsVersion_ = -1;
  Clock::time_point lastProgress_;  // a byte received or sent
  Clock::time_point headStart_;     // the first byte of the request being collected
  Clock::time_point lastReceive_;   // WebSocket: a byte received
  Clock::time_point pingSent_;
  bool pingOutstanding_ = false;

  uint32_t requests_ = 0;
  bool keepAlive_ = false;    // the response under way leaves the connection open
  bool announceKeepAlive_ = false;  // and its head must say so (HTTP/1.0)
  bool peerClosed_ = false;   // the peer sent its FIN
  bool wantsTurn_ = false;
  size_t turnLeft_ = 0;  // bytes this event may still send
  size_t readLeft_ = 0;  // bytes this event may still receive

  SendQueue queue_;
  utils::SharedPtr<utils::ReadStreamI> body_;
  uint64_t bodyRemaining_ = 0;
  // A large body whose bytes sit in memory goes out straight from there, without the
  // copy into the queue.
  bool bodyInMemory_ = false;
  // A large body whose bytes lie in a file goes out from there (sendfile).
  utils::SharedPtr<FileBodyI> fileBody_;

  WebSockHandlerI* wsHandler_ = nullptr;  // not owned; taken from the server at upgrade
  std::unique_ptr<WsSession> session_;
  bool upgraded_ = false;  // the handler was told OnOpen and is owed OnClose
  size_t wsHeld_ = 0;      // this connection's part of context_->webSocketBytes
  // A hixie-76 handshake waiting for key3: the header values it reads, the bytes so far.
  std::vector<std::pair<std::string, std::string>> wsHeaders_;
  std::string wsPending_;
};

}  // namespace storage
