#include "httpserver/http_server.h"

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
  std::string url = impl_->Start(chosen);
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

int64_t HttpServer::GetEffectiveMaxAge() const {
  return options.maxAge ? options.maxAge() : HttpServerOptions::kDefaultMaxAge;
}

SocketHandler* ConnectionTable::GetOrCreate(SocketId socket) {
  auto& slot = handlers_[socket];
  if (!slot) slot = std::make_unique<SocketHandler>(socket, owner_);
  return slot.get();
}

SocketHandler* ConnectionTable::Find(SocketId socket) {
  auto it = handlers_.find(socket);
  return it == handlers_.end() ? nullptr : it->second.get();
}

void ConnectionTable::Erase(SocketId socket) {
  auto it = handlers_.find(socket);
  if (it == handlers_.end()) return;
  std::unique_ptr<SocketHandler> doomed = std::move(it->second);
  handlers_.erase(it);
}

void ConnectionTable::CloseAll() {
  std::map<SocketId, std::unique_ptr<SocketHandler>> doomed;
  doomed.swap(handlers_);
}

std::vector<SocketId> ConnectionTable::IdleSince(SocketHandler::Clock::time_point deadline) const {
  std::vector<SocketId> idle;
  for (const auto& entry : handlers_) {
    // An open WebSocket is quiet by nature (a page may hold one for hours).
    if (entry.second->IsWebSocket()) continue;
    if (entry.second->LastProgress() < deadline) idle.push_back(entry.first);
  }
  return idle;
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
