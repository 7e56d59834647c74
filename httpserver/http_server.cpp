#include "httpserver/http_server.h"

#include "app/settings.h"
#include "httpserver/http_server_impl.h"
#include "utils/encoding.h"
#include "utils/exception.h"

namespace storage {

HttpServer::HttpServer(bool showNotificationIcon)
    : impl_(new HttpServerImpl(this, showNotificationIcon)), webSocketHandler_(impl_) {}

HttpServer::~HttpServer() { delete impl_; }

std::string HttpServer::Start(int port, const std::u16string& caption) {
  unsigned chosen = 0;
  if (port != -1) {
    chosen = static_cast<unsigned>(port);
    if (settings::IsSwitchOn(u"HttpPort")) chosen = settings::GetDwordSetting(u"HttpPort", 0);
  }
  caption_ = caption;
  std::string url = impl_->Start(chosen, settings::IsSwitchOn(u"HttpListenAny"));
  std::string error = impl_->GetErrorText();
  if (!error.empty()) {
    throw utils::Exception(utils::AnsiToWide(error), u"storage::HttpServer::Start");
  }
  return url;
}

void HttpServer::Stop() { impl_->Stop(); }

void HttpServer::RequestStop() { impl_->RequestStop(); }

bool HttpServer::WaitForThread(uint32_t milliseconds) { return impl_->WaitForThread(milliseconds); }

void* HttpServer::GetThreadHandle() { return impl_->GetThreadHandle(); }

WebSockConnectionI* HttpServer::CurrentWebSocket() const { return impl_->currentWebSocket.load(); }

utils::SharedPtr<utils::ReadStreamI> HttpServer::TransformNavigation(
    utils::SharedPtr<utils::ReadStreamI> stream) const {
  return json::TransformNavigation(stream, navigationMembers_);
}

int64_t HttpServer::GetEffectiveMaxAge() const {
  if (settings::IsSwitchOn(u"HttpMaxAge")) return settings::GetDwordSetting(u"HttpMaxAge", 0);
  return maxAge;
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
