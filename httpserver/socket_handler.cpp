#include "httpserver/socket_handler.h"

#include <algorithm>
#include <cstring>

#include "httpserver/http_server.h"
#include "httpserver/request.h"
#include "httpserver/response.h"
#include "httpserver/websocket_session.h"
#include "utils/encoding.h"

namespace storage {
namespace {

constexpr size_t kReceiveBlock = 16384;
// Body bytes read from the stream per send: large enough that a fast client is fed with
// few system calls, small enough that each connection's buffer stays bounded.
constexpr uint64_t kBodyBlock = 262144;
// At most this much per send straight from memory, so one fast client cannot hold the
// network thread for long.
constexpr uint64_t kMemorySendLimit = 4 << 20;

}  // namespace

SocketHandler::SocketHandler(SocketId socket, HttpServer* owner)
    : socket_(socket), owner_(owner), lastProgress_(Clock::now()) {}

SocketHandler::~SocketHandler() {
  // Whatever state the connection ended in (a close exchanged, a failed send, the
  // peer's FD_CLOSE, the server stopping), the handler hears of it once, before the
  // socket goes; a Send from inside OnClose finds the connection closed.
  state_ = State::kClosed;
  if (upgraded_ && wsHandler_) wsHandler_->OnClose(this);
  if (socket_ != kInvalidSocket) SocketClose(socket_);
}

bool SocketHandler::WantsRead() const {
  return state_ == State::kCollecting || state_ == State::kLingering || state_ == State::kWebSocket;
}

bool SocketHandler::WantsWrite() const {
  return (state_ == State::kSending || state_ == State::kWebSocket) &&
         (begin_ < end_ || bodyRemaining_ != 0 || !queued_.empty());
}

bool SocketHandler::OnRead() {
  if (socket_ == kInvalidSocket || state_ == State::kClosed) return false;
  if (state_ == State::kLingering) return Drain();
  if (state_ == State::kSending) return true;  // the one request is being answered

  char block[kReceiveBlock];
  for (;;) {
    IoResult r = SocketReceive(socket_, block, sizeof(block));
    if (r.status == IoStatus::kWouldBlock) {
      // Replies and messages queued while reading go out now: Windows posts FD_WRITE
      // only after a send would have blocked.
      return state_ == State::kWebSocket ? Pump() : true;
    }
    if (r.status != IoStatus::kDone) {
      state_ = State::kClosed;
      return false;
    }
    lastProgress_ = Clock::now();
    if (state_ == State::kWebSocket) {
      OnWebSocketBytes(block, r.count);
      if (state_ == State::kSending) return Pump();  // the closing reply, then the end
      if (state_ != State::kWebSocket) return false;
      continue;
    }
    size_t searchFrom = inBuffer_.size() < 3 ? 0 : inBuffer_.size() - 3;
    inBuffer_.append(block, r.count);
    if (FindHeaderEnd(inBuffer_, searchFrom) != std::string::npos) break;
    if (inBuffer_.size() > kMaxHeaderBytes) {
      state_ = State::kClosed;
      return false;
    }
  }
  // Whatever else already arrived belongs to the request (a POST body, as far as sent).
  while (inBuffer_.size() <= kMaxHeaderBytes) {
    IoResult r = SocketReceive(socket_, block, sizeof(block));
    if (r.status != IoStatus::kDone) break;
    inBuffer_.append(block, r.count);
  }

  std::string request;
  request.swap(inBuffer_);
  try {
    HandleRequest(request);
  } catch (...) {
    // The client gets what was queued before the failure; the connection ends as usual.
  }
  if (state_ == State::kCollecting) return BeginLinger();  // no response
  return Pump();
}

bool SocketHandler::OnWrite() {
  if (socket_ == kInvalidSocket || state_ == State::kClosed) return false;
  if (state_ != State::kSending && state_ != State::kWebSocket) return true;
  return Pump();
}

bool SocketHandler::OnPeerClosed() {
  if (state_ == State::kCollecting) OnRead();  // bytes may wait in front of the close
  return state_ == State::kSending && socket_ != kInvalidSocket;
}

void SocketHandler::HandleRequest(const std::string& request) {
  const ParsedRequest parsed = ParseRequest(request, owner_->GetRunPrefix());
  const RequestLine& line = parsed.line;
  const HttpMessage& req = parsed.headers;
  switch (line.verdict) {
    case RequestVerdict::kBadRequest:
      StartResponse(StatusResponse(400), {}, 0);
      return;
    case RequestVerdict::kNotAllowed:
      StartResponse(StatusResponse(405, "Allow: GET, POST, HEAD\r\n"), {}, 0);
      return;
    case RequestVerdict::kRedirect:
      StartResponse(StatusResponse(301, "Location: " + line.location + "\r\nContent-Length: 0\r\n"),
                    {}, 0);
      return;
    case RequestVerdict::kServe:
      break;
  }
  // On loopback only a local name is answered: a page of another site whose name was
  // made to resolve to 127.0.0.1 (DNS rebinding) must not read the content.
  if (!owner_->options.listenAny && !IsLoopbackHost(req.Get("Host"))) {
    StartResponse(StatusResponse(403), {}, 0);
    return;
  }
  HttpStreamProviderI* provider = owner_->GetProvider();
  if (!provider) {
    StartResponse(StatusResponse(503, "Content-Length: 0\r\n"), {}, 0);
    return;
  }

  if (line.method == RequestMethod::kGet && EqualsNoCaseA(req.Get("Upgrade"), "websocket")) {
    if (owner_->GetWebSocketHandler() != nullptr) {
      if (!StartUpgrade(req, parsed.body)) state_ = State::kCollecting;  // refused: no response
      return;
    }
  }

  if (line.method == RequestMethod::kPost) {
    std::u16string contentTypeLine;
    if (req.Has("Content-Type")) {
      contentTypeLine = u"Content-Type: " + utils::AnsiToWide(req.Get("Content-Type")) + u"\r\n";
    }
    int32_t status = 200;
    auto stream = provider->PostStream(line.path, parsed.body, status, contentTypeLine);
    if (!stream) {
      StartResponse(StatusResponse(status, "Content-Length: 0\r\n"), {}, 0);
      return;
    }
    HttpMessage response;
    Serve(req, response, stream, true);
    return;
  }

  ProviderReply reply = provider->Open(line.path);
  if (reply.head.status != 200 || !reply.stream) {
    std::string extra;
    for (const auto& [name, value] : reply.head.headers) extra += name + ": " + value + "\r\n";
    StartResponse(StatusResponse(reply.head.status, extra), {}, 0);
    return;
  }
  Serve(req, reply.head, reply.stream, line.method != RequestMethod::kHead);
}

void SocketHandler::Serve(const HttpMessage& request, HttpMessage& response,
                          utils::SharedPtr<utils::ReadStreamI> stream, bool withBody) {
  const std::string lastModified = response.Get("Last-Modified");
  ServeOptions options;
  options.maxAge = owner_->GetEffectiveMaxAge();
  options.now = CurrentHttpTime();
  const uint64_t size = stream->GetSize();
  ServePlan plan = PrepareServe(request, response, size, lastModified, options);
  if (plan.statusOnly) {
    StartResponse(plan.statusText, {}, 0);
    return;
  }
  if (withBody && plan.start != 0 &&
      stream->Seek64(0, static_cast<int64_t>(plan.start)) != static_cast<int64_t>(plan.start)) {
    StartResponse(StatusResponse(500, "Content-Length: 0\r\n"), {}, 0);
    return;
  }
  std::string head = BuildResponseHead(response, plan.size, plan.contentLength, lastModified);
  // HEAD carries GET's head and no body.
  StartResponse(head, stream, withBody ? plan.contentLength : 0);
}

void SocketHandler::StartResponse(const std::string& head,
                                  utils::SharedPtr<utils::ReadStreamI> stream, uint64_t bodyBytes) {
  body_ = std::move(stream);
  bodyRemaining_ = body_ ? bodyBytes : 0;
  // Small bodies are copied behind the header so both leave in one write; large ones
  // held in memory (stored entries of the mapped archive) are sent from there.
  const uint8_t* data = nullptr;
  uint64_t available = 0;
  bodyInMemory_ = bodyRemaining_ > kBodyBlock && body_->PeekMemory(data, available);
  capacity_ =
      head.size() + (bodyInMemory_ ? 0 : static_cast<size_t>(std::min(bodyRemaining_, kBodyBlock)));
  buffer_.reset(new char[capacity_ ? capacity_ : 1]);
  std::memcpy(buffer_.get(), head.data(), head.size());
  begin_ = 0;
  end_ = head.size();
  state_ = State::kSending;
  // The header text goes out in the same write as the first block.
  if (bodyRemaining_ != 0 && !bodyInMemory_) FillBlock();
}

bool SocketHandler::SendFromMemory(bool& wouldBlock) {
  wouldBlock = false;
  const uint8_t* data = nullptr;
  uint64_t available = 0;
  if (!body_->PeekMemory(data, available) || available == 0) {
    // The stream ended before the length the header announced: stop, as a short read does.
    bodyRemaining_ = 0;
    body_.Reset();
    return true;
  }
  size_t want = static_cast<size_t>(std::min({available, bodyRemaining_, kMemorySendLimit}));
  IoResult r = SocketSend(socket_, reinterpret_cast<const char*>(data), want);
  if (r.status == IoStatus::kWouldBlock) {
    wouldBlock = true;
    return true;
  }
  if (r.status != IoStatus::kDone) return false;
  if (r.count > 0) lastProgress_ = Clock::now();
  body_->Seek64(1, static_cast<int64_t>(r.count));
  bodyRemaining_ -= r.count;
  if (bodyRemaining_ == 0) body_.Reset();
  return true;
}

bool SocketHandler::FillBlock() {
  uint32_t want = static_cast<uint32_t>(std::min(bodyRemaining_, kBodyBlock));
  uint32_t got = 0;
  bool ok = body_->Read(buffer_.get() + end_, want, got);
  if (!ok || got < want) {
    // A failing or short stream ends the response; this pass's bytes are not sent.
    begin_ = end_ = 0;
    bodyRemaining_ = 0;
    body_.Reset();
    return false;
  }
  end_ += got;
  bodyRemaining_ -= got;
  if (bodyRemaining_ == 0) body_.Reset();
  return true;
}

bool SocketHandler::Pump() {
  for (;;) {
    if (begin_ == end_) {
      begin_ = end_ = 0;
      if (bodyRemaining_ != 0 && bodyInMemory_) {
        bool wouldBlock = false;
        if (!SendFromMemory(wouldBlock)) {
          state_ = State::kClosed;
          return false;
        }
        if (wouldBlock) return true;
        continue;
      } else if (bodyRemaining_ != 0) {
        if (!FillBlock()) continue;
      } else if (!queued_.empty()) {
        // WebSocket frames: move them into the buffer in pieces the buffer can hold.
        if (capacity_ < 65536) {
          capacity_ = 65536;
          buffer_.reset(new char[capacity_]);
        }
        size_t n = std::min(queued_.size(), capacity_);
        std::memcpy(buffer_.get(), queued_.data(), n);
        queued_.erase(0, n);
        end_ = n;
      } else {
        if (state_ == State::kWebSocket) return true;
        buffer_.reset();
        capacity_ = 0;
        return BeginLinger();
      }
    }
    IoResult r = SocketSend(socket_, buffer_.get() + begin_, end_ - begin_);
    if (r.status == IoStatus::kWouldBlock) return true;
    if (r.status != IoStatus::kDone) {
      state_ = State::kClosed;
      return false;
    }
    if (r.count > 0) lastProgress_ = Clock::now();
    begin_ += r.count;
  }
}

bool SocketHandler::BeginLinger() {
  state_ = State::kLingering;
  body_.Reset();
  inBuffer_.clear();
  SocketShutdownSend(socket_);
  // Windows posts FD_READ again only after a receive: read off what waits already.
  return Drain();
}

bool SocketHandler::Drain() {
  char block[kReceiveBlock];
  for (;;) {
    IoResult r = SocketReceive(socket_, block, sizeof(block));
    if (r.status == IoStatus::kWouldBlock) return true;
    if (r.status != IoStatus::kDone) {
      state_ = State::kClosed;
      return false;
    }
    lastProgress_ = Clock::now();
  }
}

}  // namespace storage
