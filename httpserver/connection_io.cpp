// The receiving and sending side of storage::SocketHandler: request framing on persistent
// connections, the send queue with its per-turn budget and back-pressure, lingering, the
// timers (idle limit, header deadline, WebSocket pings) and the ranking for shedding.
// Network thread only.
#include <algorithm>
#include <cstring>

#include "httpserver/http_server.h"
#include "httpserver/request.h"
#include "httpserver/request_framing.h"
#include "httpserver/response.h"
#include "httpserver/socket_handler.h"
#include "httpserver/websocket_frame.h"
#include "httpserver/websocket_session.h"

namespace storage {
namespace {

constexpr size_t kReceiveBlock = 16384;
// Body bytes read from the stream per block.
constexpr uint64_t kBodyBlock = 65536;
// Pipelined requests answered in one turn before the other connections get theirs.
constexpr int kRequestsPerTurn = 16;

}  // namespace

SocketHandler::SocketHandler(SocketId socket, HttpServer* owner, ConnectionContext* context)
    : socket_(socket), owner_(owner), context_(context), lastProgress_(Clock::now()) {
  headStart_ = lastReceive_ = lastProgress_;
}

SocketHandler::~SocketHandler() {
  // Whatever state the connection ended in (a close exchanged, a failed send, the
  // peer's FD_CLOSE, the server stopping), the handler hears of it once, before the
  // socket goes; a Send from inside OnClose finds the connection closed.
  state_ = State::kClosed;
  NoteWebSocketBytes(0);
  NoteHeaderBytes(0);
  if (upgraded_ && wsHandler_) wsHandler_->OnClose(this);
  if (socket_ != kInvalidSocket) SocketClose(socket_);
}

void SocketHandler::NewTurn() {
  turnLeft_ = context_->limits.turnBytes;
  readLeft_ = context_->limits.turnBytes;
  wantsTurn_ = false;
}

bool SocketHandler::OnReady() {
  NewTurn();
  return Drive();
}

bool SocketHandler::OnPeerClosed() {
  peerClosed_ = true;
  NewTurn();
  return Drive();
}

bool SocketHandler::Drive() {
  const bool alive = Advance();
  NoteHeaderBytes(alive ? inBuffer_.size() : 0);
  return alive;
}

bool SocketHandler::RefuseOversized() {
  NewTurn();
  Refuse(431);
  return Drive();
}

bool SocketHandler::Collecting(Clock::time_point& since) const {
  // A body being dropped holds one receive at most: only header blocks count.
  if (state_ != State::kCollecting || inBuffer_.empty() || pending_) return false;
  since = headStart_;
  return true;
}

bool SocketHandler::Advance() {
  int requestsLeft = kRequestsPerTurn;
  for (;;) {
    Step step = Step::kEnd;
    switch (state_) {
      case State::kCollecting:
        if (requestsLeft-- == 0) {
          wantsTurn_ = true;
          return true;
        }
        step = Collect();
        break;
      case State::kSending:
        step = Pump();
        if (step == Step::kAgain) step = FinishResponse();
        break;
      case State::kLingering:
        step = Drain();
        break;
      case State::kWebSocket:
        step = ReadWebSocket();
        break;
      case State::kClosed:
        break;
    }
    if (step == Step::kWait) return true;
    if (step == Step::kEnd || state_ == State::kClosed) {
      state_ = State::kClosed;
      return false;
    }
  }
}

SocketHandler::Step SocketHandler::Collect() {
  char block[kReceiveBlock];
  for (;;) {
    if (pending_) {
      if (DiscardBody()) return Step::kAgain;
    } else {
      const size_t headEnd = FindHeaderEnd(inBuffer_, searchFrom_);
      if (headEnd != std::string::npos) {
        if (TakeRequest(headEnd)) return Step::kAgain;
      } else {
        searchFrom_ = inBuffer_.size() < 3 ? 0 : inBuffer_.size() - 3;
        if (inBuffer_.size() > kMaxHeaderBytes) {
          Refuse(431);
          return Step::kAgain;
        }
      }
    }
    size_t got = 0;
    const Step step = Receive(block, got);
    if (step != Step::kAgain) return step;
    if (inBuffer_.empty() && !pending_) headStart_ = lastProgress_;
    inBuffer_.append(block, got);
  }
}

SocketHandler::Step SocketHandler::Receive(char* block, size_t& got) {
  if (readLeft_ == 0) {
    wantsTurn_ = true;
    return Step::kWait;
  }
  IoResult r = SocketReceive(socket_, block, std::min(kReceiveBlock, readLeft_));
  if (r.status == IoStatus::kWouldBlock) return Step::kWait;
  if (r.status != IoStatus::kDone) return Step::kEnd;
  readLeft_ -= r.count;
  got = r.count;
  lastProgress_ = Clock::now();
  return Step::kAgain;
}

bool SocketHandler::TakeRequest(size_t headEnd) {
  const ConnectionLimits& limits = context_->limits;
  pending_ = std::make_unique<ParsedRequest>(
      ParseRequest(inBuffer_.substr(0, headEnd), owner_->GetRunPrefix()));
  const RequestFrame& frame = pending_->frame;
  if (!frame.valid || frame.bodyLength > limits.maxBody) {
    const int code = frame.valid ? 413 : 400;
    pending_.reset();
    Refuse(code);
    return true;
  }
  if (frame.toEnd) {
    // Every byte that follows belongs to this request (an upgrade's first bytes): what
    // has arrived goes with it, and nothing after it is read as a request.
    pending_->SetBody(inBuffer_.substr(headEnd));
    inBuffer_.clear();
    Answer();
    return true;
  }
  inBuffer_.erase(0, headEnd);
  bodyLeft_ = frame.bodyLength;
  return DiscardBody();
}

bool SocketHandler::DiscardBody() {
  // Nothing here uses a request body: it is dropped as it arrives, so a connection holds
  // at most one receive of it whatever length it announces. The request is answered once
  // the whole body is in, so the next request starts where the framing says.
  const size_t n = static_cast<size_t>(std::min<uint64_t>(bodyLeft_, inBuffer_.size()));
  inBuffer_.erase(0, n);
  bodyLeft_ -= n;
  if (bodyLeft_ != 0) return false;  // a body that stops coming meets the idle limit
  Answer();
  return true;
}

void SocketHandler::Answer() {
  const ConnectionLimits& limits = context_->limits;
  std::unique_ptr<ParsedRequest> request = std::move(pending_);
  searchFrom_ = 0;
  headStart_ = Clock::now();  // a pipelined request behind this one started by now
  ++requests_;
  keepAlive_ = request->frame.keepAlive && requests_ < limits.maxRequests;
  announceKeepAlive_ = request->frame.announceKeepAlive;
  try {
    HandleRequest(*request);
  } catch (...) {
    // The client gets what was queued before the failure; the connection ends.
    keepAlive_ = false;
  }
  if (state_ == State::kCollecting) {
    // No response: the connection ends.
    keepAlive_ = false;
    state_ = State::kSending;
  }
}

void SocketHandler::StartResponse(const std::string& head,
                                  utils::SharedPtr<utils::ReadStreamI> stream, uint64_t bodyBytes,
                                  utils::SharedPtr<FileBodyI> fileBody) {
  body_ = std::move(stream);
  bodyRemaining_ = body_ ? bodyBytes : 0;
  // Large bodies whose bytes lie in a file go from there to the socket (sendfile); large
  // ones held in memory (stored entries of the mapped archive) are sent from there;
  // others are read block by block into the queue, the first block right behind the head
  // so both leave in one write.
  const uint8_t* data = nullptr;
  uint64_t available = 0;
  fileBody_.Reset();
  bodyInMemory_ = false;
  if (bodyRemaining_ > kBodyBlock) {
    if (fileBody && SocketCanSendFile()) {
      fileBody_ = std::move(fileBody);
    } else {
      bodyInMemory_ = body_->PeekMemory(data, available);
    }
  }
  queue_.Append(FrameResponseHead(head, bodyRemaining_, keepAlive_, announceKeepAlive_));
  state_ = State::kSending;
  if (bodyRemaining_ != 0 && !bodyInMemory_ && !fileBody_ && PrepareBody()) FillBlock();
}

bool SocketHandler::PrepareBody() {
  // What the stream does to reach its first byte (inflating up to a range's start) is
  // paid from the turn like bytes sent; unfinished, it goes on in the next turn.
  uint64_t budget = turnLeft_;
  const bool ready = body_->Prepare(budget);
  turnLeft_ = static_cast<size_t>(budget);
  if (!ready) wantsTurn_ = true;
  return ready;
}

void SocketHandler::Refuse(int code) {
  keepAlive_ = false;
  inBuffer_.clear();
  pending_.reset();
  StartResponse(StatusResponse(code), {}, 0);
}

bool SocketHandler::FillBlock() {
  const auto want = static_cast<uint32_t>(std::min(bodyRemaining_, kBodyBlock));
  char* at = queue_.Extend(want);
  uint32_t got = 0;
  const bool ok = body_->Read(at, want, got);
  if (!ok || got < want) {
    // A failing or short stream ends the response, and the connection with it: the
    // announced length can no longer be kept. The bytes of this pass are not sent.
    queue_.Clear();
    bodyRemaining_ = 0;
    body_.Reset();
    keepAlive_ = false;
    return false;
  }
  bodyRemaining_ -= got;
  if (bodyRemaining_ == 0) body_.Reset();
  return true;
}

SocketHandler::Step SocketHandler::SendDirect() {
  if (turnLeft_ == 0) {
    wantsTurn_ = true;
    return Step::kWait;
  }
  // Only the bytes the stream vouches for go out: with a stored entry, the last ones
  // only after its CRC-32 held.
  const uint8_t* data = nullptr;
  uintptr_t file = 0;
  uint64_t offset = 0;
  uint64_t available = 0;
  if (fileBody_) {
    fileBody_->Next(file, offset, available);
  } else if (!body_->PeekMemory(data, available)) {
    available = 0;
  }
  if (available == 0) {
    // The stream ended before the length the header announced: stop, as a short read does.
    bodyRemaining_ = 0;
    body_.Reset();
    fileBody_.Reset();
    keepAlive_ = false;
    return Step::kAgain;
  }
  // Bounded like any send, so one event's share stays the same.
  const auto want =
      static_cast<size_t>(std::min({available, bodyRemaining_, static_cast<uint64_t>(turnLeft_)}));
  IoResult r = fileBody_ ? SocketSendFile(socket_, file, offset, want)
                         : SocketSend(socket_, reinterpret_cast<const char*>(data), want);
  if (r.status == IoStatus::kWouldBlock) return Step::kWait;
  if (r.status != IoStatus::kDone) return Step::kEnd;
  lastProgress_ = Clock::now();
  turnLeft_ -= r.count;
  body_->Seek64(1, static_cast<int64_t>(r.count));
  bodyRemaining_ -= r.count;
  if (bodyRemaining_ == 0) {
    body_.Reset();
    fileBody_.Reset();
  }
  return Step::kAgain;
}

SocketHandler::Step SocketHandler::Pump() {
  for (;;) {
    if (queue_.Empty()) {
      if (bodyRemaining_ == 0) return Step::kAgain;
      if (bodyInMemory_ || fileBody_) {
        const Step step = SendDirect();
        if (step != Step::kAgain) return step;
      } else if (PrepareBody()) {
        FillBlock();
      } else {
        return Step::kWait;
      }
      continue;
    }
    if (turnLeft_ == 0) {
      wantsTurn_ = true;
      return Step::kWait;
    }
    const std::string_view front = queue_.Front();
    // A head whose body follows from the file or from memory shares its segment with the
    // body's start.
    const bool more =
        (fileBody_ || bodyInMemory_) && bodyRemaining_ != 0 && front.size() == queue_.Size();
    IoResult r = SocketSend(socket_, front.data(), std::min(front.size(), turnLeft_), more);
    if (r.status == IoStatus::kWouldBlock) return Step::kWait;
    if (r.status != IoStatus::kDone) return Step::kEnd;
    lastProgress_ = Clock::now();
    turnLeft_ -= r.count;
    queue_.Consume(r.count);
  }
}

SocketHandler::Step SocketHandler::FinishResponse() {
  body_.Reset();
  fileBody_.Reset();
  if (peerClosed_) return Step::kEnd;
  if (keepAlive_) {
    state_ = State::kCollecting;
    return Step::kAgain;
  }
  state_ = State::kLingering;
  inBuffer_.clear();
  inBuffer_.shrink_to_fit();
  SocketShutdownSend(socket_);
  return Step::kAgain;
}

SocketHandler::Step SocketHandler::Drain() {
  char block[kReceiveBlock];
  for (;;) {
    size_t got = 0;
    const Step step = Receive(block, got);
    if (step != Step::kAgain) return step;
  }
}

SocketHandler::Step SocketHandler::ReadWebSocket() {
  char block[kReceiveBlock];
  for (;;) {
    if (!queue_.Empty()) {
      const Step step = Pump();
      if (step == Step::kEnd) return step;
      // Back-pressure: while the peer does not take its replies, nothing more is read.
      if (step == Step::kWait && queue_.Size() > context_->limits.maxUnsent) return step;
    }
    size_t got = 0;
    const Step receive = Receive(block, got);
    if (receive != Step::kAgain) return receive;
    lastReceive_ = lastProgress_;
    pingOutstanding_ = false;
    OnWebSocketBytes(block, got);
    if (state_ != State::kWebSocket) return Step::kAgain;  // closing, or closed by a failed Send
  }
}

bool SocketHandler::OnTick(Clock::time_point now) {
  const ConnectionLimits& limits = context_->limits;
  const bool stalled = now - lastProgress_ >= limits.idle;
  switch (state_) {
    case State::kCollecting:
      if (!inBuffer_.empty() && !pending_ && now - headStart_ >= limits.headerDeadline) {
        NewTurn();
        Refuse(408);
        return Drive();
      }
      return !stalled;
    case State::kWebSocket:
      // A peer that stopped taking its bytes, or a handshake never finished.
      if (!queue_.Empty() || !session_) return !stalled;
      if (pingOutstanding_) return now - pingSent_ < limits.idle;
      if (wsVersion_ >= kWsVersionRfc6455 && now - lastReceive_ >= limits.pingAfter) {
        pingOutstanding_ = true;
        pingSent_ = now;
        queue_.Append(EncodeWsFrame(kWsOpPing, {}));
        NewTurn();
        return Drive();
      }
      return true;
    case State::kClosed:
      return false;
    default:
      return !stalled;
  }
}

bool SocketHandler::Sheddable(int& rank, Clock::time_point& since) const {
  switch (state_) {
    case State::kSending:
      // A reader that stopped taking its response holds a descriptor as long as it likes.
      if (Clock::now() - lastProgress_ < context_->limits.stalledAfter) return false;
      rank = 2;
      since = lastProgress_;
      return true;
    case State::kLingering:
      rank = 0;
      since = lastProgress_;
      return true;
    case State::kCollecting:
      if (inBuffer_.empty() && requests_ != 0) {
        rank = 0;  // idle between requests
        since = lastProgress_;
      } else {
        rank = 1;
        since = headStart_;
      }
      return true;
    case State::kWebSocket:
      rank = 2;
      since = lastReceive_;
      return true;
    default:
      return false;
  }
}

void SocketHandler::NoteHeaderBytes(size_t held) {
  context_->headerBytes = context_->headerBytes - headerHeld_ + held;
  headerHeld_ = held;
}

void SocketHandler::NoteWebSocketBytes(size_t held) {
  context_->webSocketBytes = context_->webSocketBytes - wsHeld_ + held;
  wsHeld_ = held;
}

}  // namespace storage
