// The request handling of storage::SocketHandler: a complete request in, a response (or
// an upgrade) queued. The receiving and sending side lives in connection_io.cpp.
#include "httpserver/socket_handler.h"

#include "content/content_type.h"
#include "httpserver/http_server.h"
#include "httpserver/request.h"
#include "httpserver/response.h"
#include "httpserver/websocket_session.h"
#include "utils/encoding.h"

namespace storage {

void SocketHandler::HandleRequest(const std::string& request) {
  HttpStreamProviderI* provider = owner_->GetProvider();
  if (!provider) return;
  RequestLine line = ParseRequestLine(request, owner_->GetRunPrefix().size());
  switch (line.verdict) {
    case RequestVerdict::kBadRequest:
      StartResponse(StatusResponse(400), {}, 0);
      return;
    case RequestVerdict::kNotAllowed:
      StartResponse(StatusResponse(405, "Allow: GET, POST, HEAD\r\n"), {}, 0);
      return;
    case RequestVerdict::kNoResponse:
      return;
    case RequestVerdict::kServe:
      break;
  }
  HttpMessage req(request);
  HttpMessage response;
  response.Set("Content-Type", GetContentType(line.path, "text/html"));
  const std::string path = RewriteWebAppPath(line.path);
  const bool post = line.method == RequestMethod::kPost;
  const std::string body = RequestBody(request, post);

  if (line.method == RequestMethod::kGet && EqualsNoCaseA(req.Get("Upgrade"), "websocket")) {
    if (owner_->GetWebSocketHandler() != nullptr) {
      if (!StartUpgrade(req, body)) state_ = State::kCollecting;  // refused: no response
      return;
    }
  }

  if (post) {
    std::u16string contentTypeLine;
    if (req.Has("Content-Type")) {
      contentTypeLine = u"Content-Type: " + utils::AnsiToWide(req.Get("Content-Type")) + u"\r\n";
    }
    int32_t status = 200;
    auto stream = provider->PostStream(path, body, status, contentTypeLine);
    if (!stream) {
      StartResponse(StatusResponse(status), {}, 0);
      return;
    }
    Serve(req, response, stream, std::string());
    return;
  }

  int32_t status = provider->GetInfo(path, response);
  const std::string lastModified = response.Get("Last-Modified");
  if (status != 200 && status != 206 && status != 501) {
    StartResponse(StatusResponse(status), {}, 0);
    return;
  }
  if (line.method == RequestMethod::kHead) {
    Serve(req, response, {}, lastModified);
    return;
  }
  HttpMessage streamHeaders;
  auto stream = provider->GetStream(path, status, streamHeaders);
  if (status == 501) response = streamHeaders;
  if (!stream) {
    StartResponse(StatusResponse(status), {}, 0);
    return;
  }
  Serve(req, response, stream, lastModified);
}

void SocketHandler::Serve(const HttpMessage& request, HttpMessage& response,
                          utils::SharedPtr<utils::ReadStreamI> stream,
                          const std::string& lastModified) {
  if (stream && IsNavigationType(response.Get("Content-Type"))) {
    stream = owner_->TransformNavigation(stream);
  }
  ServeOptions options;
  options.maxAge = owner_->GetEffectiveMaxAge();
  options.now = CurrentHttpTime();
  const uint64_t size = stream ? stream->GetSize() : 0;
  ServePlan plan = PrepareServe(request, response, size, lastModified, options);
  if (plan.statusOnly) {
    StartResponse(plan.statusText, {}, 0);
    return;
  }
  if (plan.start != 0 && stream->Seek64(0, static_cast<int64_t>(plan.start)) == 0) {
    StartResponse(StatusResponse(404), {}, 0);
    return;
  }
  std::string head = BuildResponseHead(response, plan.size, plan.contentLength, lastModified);
  // HEAD and empty entries carry no body whatever "Content-Length" says.
  StartResponse(head, stream, stream ? plan.contentLength : 0);
}

}  // namespace storage
