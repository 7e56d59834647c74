// The request handling of storage::SocketHandler: a complete request in, a response (or
// an upgrade) queued. The receiving and sending side lives in connection_io.cpp.
#include "httpserver/socket_handler.h"

#include "httpserver/http_server.h"
#include "httpserver/request.h"
#include "httpserver/response.h"
#include "httpserver/websocket_session.h"
#include "utils/encoding.h"

namespace storage {

void SocketHandler::HandleRequest(const ParsedRequest& parsed) {
  const RequestLine& line = parsed.line;
  const HttpMessage& req = parsed.headers;
  // On loopback only a local name is answered: a page of another site whose name was
  // made to resolve to 127.0.0.1 (DNS rebinding) must not read the content.
  if (!owner_->options.listenAny && !IsLoopbackHost(req.Get("Host"))) {
    keepAlive_ = false;  // nothing more for such a client on this connection
    StartResponse(StatusResponse(403), {}, 0);
    return;
  }
  switch (line.verdict) {
    case RequestVerdict::kBadRequest:
      keepAlive_ = false;  // what follows a malformed request cannot be trusted as a request
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
  HttpStreamProviderI* provider = owner_->GetProvider();
  if (!provider) {
    StartResponse(StatusResponse(503, "Content-Length: 0\r\n"), {}, 0);
    return;
  }

  if (line.method == RequestMethod::kGet && EqualsNoCaseA(req.Get("Upgrade"), "websocket")) {
    // Browsers send the page's origin with every upgrade and leave the check to the
    // server: a page of another origin (or a file://, "null") gets no WebSocket.
    if (!owner_->options.crossOriginAny) {
      for (const char* name : {"Origin", "Sec-WebSocket-Origin"}) {
        if (req.Has(name) && !IsOwnOrigin(req.Get(name), owner_->GetPort())) {
          keepAlive_ = false;
          StartResponse(StatusResponse(403, "Content-Length: 0\r\n"), {}, 0);
          return;
        }
      }
    }
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
    ProviderReply posted;
    posted.stream = stream;
    Serve(req, posted, true);
    return;
  }

  ProviderReply reply = provider->Open(line.path);
  if (reply.head.status != 200 || !reply.stream) {
    std::string extra;
    for (const auto& [name, value] : reply.head.headers) extra += name + ": " + value + "\r\n";
    StartResponse(StatusResponse(reply.head.status, extra), {}, 0);
    return;
  }
  Serve(req, reply, line.method != RequestMethod::kHead);
}

void SocketHandler::Serve(const HttpMessage& request, ProviderReply& reply, bool withBody) {
  HttpMessage& response = reply.head;
  const std::string lastModified = response.Get("Last-Modified");
  utils::SharedPtr<utils::ReadStreamI> stream = reply.stream;
  const bool gzip = reply.gzipStream && ChooseGzip(request, response.Get("Content-Type"));
  if (gzip) {
    stream = reply.gzipStream;
    response.Set("Content-Encoding", "gzip");
  }
  ServeOptions options;
  options.maxAge = owner_->GetEffectiveMaxAge();
  options.now = CurrentHttpTime();
  options.port = owner_->GetPort();
  options.crossOriginAny = owner_->options.crossOriginAny;
  const uint64_t size = stream->GetSize();
  ServePlan plan = PrepareServe(request, response, size, lastModified, options);
  if (plan.statusOnly) {
    StartResponse(plan.statusText, {}, 0);
    return;
  }
  if (reply.gzipStream) {
    // Caches keep the two forms apart, and each form has its own tag.
    const std::string vary = response.Get("Vary");
    response.Set("Vary", vary.empty() ? "Accept-Encoding" : vary + ", Accept-Encoding");
    if (gzip) response.Set("ETag", ComputeETag(lastModified) + "-gzip");
  }
  if (withBody && plan.start != 0 &&
      stream->Seek64(0, static_cast<int64_t>(plan.start)) != static_cast<int64_t>(plan.start)) {
    StartResponse(StatusResponse(500, "Content-Length: 0\r\n"), {}, 0);
    return;
  }
  std::string head = BuildResponseHead(response, plan.size, plan.contentLength, lastModified);
  // HEAD carries GET's head and no body.
  StartResponse(head, stream, withBody ? plan.contentLength : 0,
                gzip ? utils::SharedPtr<FileBodyI>() : reply.fileBody);
}

}  // namespace storage
