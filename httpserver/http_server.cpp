#include "httpserver/http_server.h"

#include <cstdlib>

#include "httpserver/http_server_impl.h"
#include "utils/encoding.h"
#include "utils/exception.h"

namespace storage {

HttpServer::HttpServer(bool showNotificationIcon)
    : impl_(new HttpServerImpl(this, showNotificationIcon)), webSocketHandler_(impl_) {}

HttpServer::~HttpServer() { delete impl_; }

std::string HttpServer::Start(const std::u16string& caption) {
  const unsigned chosen = options.port < 0 ? 0 : static_cast<unsigned>(options.port);
  caption_ = caption;
  port_ = 0;
  std::string url = impl_->Start(chosen, options.listenAny);
  std::string error = impl_->GetErrorText();
  if (!error.empty()) {
    throw utils::Exception(utils::AnsiToWide(error), u"storage::HttpServer::Start");
  }
  // "http://localhost:<port>/"
  const size_t colon = url.rfind(':');
  if (colon != std::string::npos) port_ = static_cast<unsigned>(std::atoi(url.c_str() + colon + 1));
  return url;
}

void HttpServer::Stop() { impl_->Stop(); }

void HttpServer::RequestStop() { impl_->RequestStop(); }

bool HttpServer::WaitForThread(uint32_t milliseconds) { return impl_->WaitForThread(milliseconds); }

void* HttpServer::GetThreadHandle() { return impl_->GetThreadHandle(); }

WebSockConnectionI* HttpServer::CurrentWebSocket() const { return impl_->currentWebSocket.load(); }

int64_t HttpServer::GetEffectiveMaxAge() const {
  return options.maxAge ? options.maxAge() : HttpServerOptions::kDefaultMaxAge;
}

std::string HttpServerImpl::GetUrl() {
  std::lock_guard<std::mutex> lock(mutex_);
  return url_;
}

std::string HttpServerImpl::GetErrorText() {
  std::lock_guard<std::mutex> lock(mutex_);
  return errorText_;
}

void HttpServerImpl::SetUrl(const std::string& url) {
  std::lock_guard<std::mutex> lock(mutex_);
  url_ = url;
}

void HttpServerImpl::SetErrorText(const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  errorText_ = text;
}

}  // namespace storage
