// storage::HttpServer: the local HTTP server the shell holds.
//
// One network thread owns the listening socket and every connection and runs one event
// at a time (Windows: a message-only window fed by WSAAsyncSelect; POSIX: epoll or poll).
// Start, Stop, SetProvider and destruction belong to the caller's thread; everything
// else (requests, provider calls) runs on the network thread.
//
// Failures: Start throws utils::NotInitializedException when the socket API could not
// be started, and utils::Exception (location "storage::HttpServer::Start") with the
// network thread's error text when it could not listen.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "httpserver/http_stream_provider.h"
#include "utils/read_stream.h"
#include "utils/shared_ptr.h"

namespace storage {

class HttpServerImpl;
class UpgradeHandlerI;

class HttpServer {
 public:
  using NavigationTransform =
      std::function<utils::SharedPtr<utils::ReadStreamI>(utils::SharedPtr<utils::ReadStreamI>)>;

  explicit HttpServer(bool showNotificationIcon);
  virtual ~HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  // Starts listening on port (-1: a free port, settings not consulted; otherwise the
  // HttpPort setting, when on, replaces it) and returns "http://localhost:<port>/".
  // A running network thread is stopped first.
  std::string Start(int port, const std::u16string& caption);
  // Ends the network thread, if one runs, and waits for it (3 seconds at most).
  void Stop();
  // Asks the network thread to end without waiting (any thread; e.g. a signal handler's
  // watcher or the tray menu).
  void RequestStop();
  // Waits for the network thread to end; true when it has (or none runs).
  bool WaitForThread(uint32_t milliseconds = 0xFFFFFFFF);
  // Windows: the network thread's HANDLE. POSIX: null (use WaitForThread).
  void* GetThreadHandle();

  // Not owned. May be called after Start; requests that arrive before get no response.
  void SetProvider(HttpStreamProviderI* provider) { provider_.store(provider); }
  HttpStreamProviderI* GetProvider() const { return provider_.load(); }

  // The per-run path segment ("1a2b/") removed from every request path. Set before Start.
  void SetRunPrefix(const std::string& prefix) { runPrefix_ = prefix; }
  const std::string& GetRunPrefix() const { return runPrefix_; }

  // Hooks set before Start: WebSocket upgrades and the navigation-document transform.
  void SetUpgradeHandler(UpgradeHandlerI* handler) { upgradeHandler_ = handler; }
  UpgradeHandlerI* GetUpgradeHandler() const { return upgradeHandler_; }
  void SetNavigationTransform(NavigationTransform transform) {
    navigationTransform_ = std::move(transform);
  }
  utils::SharedPtr<utils::ReadStreamI> TransformNavigation(
      utils::SharedPtr<utils::ReadStreamI> stream) const;

  // Seconds of "max-age=": the HttpMaxAge setting when it is on, else maxAge.
  int64_t GetEffectiveMaxAge() const;

  const std::u16string& GetCaption() const { return caption_; }

  // Default of the caching directive, in seconds.
  int32_t maxAge = 5;
  // A connection that makes no progress for this long is closed. Set before Start.
  std::chrono::milliseconds idleLimit = std::chrono::seconds(60);

 private:
  HttpServerImpl* impl_;
  std::atomic<HttpStreamProviderI*> provider_{nullptr};
  std::string runPrefix_;
  UpgradeHandlerI* upgradeHandler_ = nullptr;
  NavigationTransform navigationTransform_;
  std::u16string caption_;
};

}  // namespace storage
