// storage::HttpServer: the local HTTP server the shell holds.
//
// One network thread owns the listening socket and every connection and runs one event
// at a time (Windows: a message-only window fed by WSAAsyncSelect; POSIX: an event
// backend, epoll on Linux, the one POSIX system built and tested).
// Start, Stop, SetProvider and destruction belong to the caller's thread; everything
// else (requests, provider calls) runs on the network thread. The server reads no
// settings: what it needs comes in as HttpServerOptions, filled by the program.
//
// Failures: Start throws utils::NotInitializedException when the socket API could not
// be started, and utils::Exception (location "storage::HttpServer::Start") with the
// network thread's error text when it could not start: no thread, not ready within 10
// seconds, or no listener.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "httpserver/connection_limits.h"
#include "httpserver/http_stream_provider.h"

namespace storage {

class HttpServerImpl;
class WebSockConnectionI;
class WebSockHandlerI;

struct HttpServerOptions {
  // Seconds of the caching directive when maxAge is not set.
  static constexpr int64_t kDefaultMaxAge = 5;

  // The port Start listens on; -1 or 0 takes a free one.
  int port = -1;
  // Listen on every address instead of loopback only. Only then is a request answered
  // whatever its "Host" names.
  bool listenAny = false;
  // Seconds of "max-age=", asked on every response (network thread) so a changed
  // setting holds at once; empty: kDefaultMaxAge.
  std::function<int64_t()> maxAge;
  // Cross-origin reads: false (the default) lets only the server's own origins
  // (http://localhost:PORT, http://127.0.0.1:PORT, http://[::1]:PORT) read answers and open
  // WebSockets; true answers every origin with "Access-Control-Allow-Origin: *" and
  // accepts WebSockets from any page, so any page the user opens can read the content.
  bool crossOriginAny = false;
  // Time, memory and connection limits of the connections.
  ConnectionLimits limits;
};

class HttpServer {
 public:
  explicit HttpServer(bool showNotificationIcon);
  virtual ~HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  // Starts listening on options.port, on 127.0.0.1 and ::1 (options.listenAny: on both
  // any-addresses), and returns "http://localhost:<port>/". A running network thread is
  // stopped first.
  std::string Start(const std::u16string& caption);
  // The same with options.port set to port first.
  std::string Start(int port, const std::u16string& caption) {
    options.port = port;
    return Start(caption);
  }
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

  // The handler of every WebSocket connection. By default the server's own, which
  // remembers the connection opened last (CurrentWebSocket) and ignores messages; null
  // serves upgrade requests as plain GETs. Not owned; set before Start and keep it alive
  // until the server is destroyed (connections tell it OnClose as they go).
  void SetWebSocketHandler(WebSockHandlerI* handler) { webSocketHandler_ = handler; }
  WebSockHandlerI* GetWebSocketHandler() const { return webSocketHandler_; }
  // The server's own handler's last opened connection, null when none or it closed. The
  // pointer may be used on the network thread only; other threads may test it.
  WebSockConnectionI* CurrentWebSocket() const;

  // The port the running server listens on (0 before Start).
  unsigned GetPort() const { return port_.load(); }

  // Seconds of "max-age=" for the next response.
  int64_t GetEffectiveMaxAge() const;

  const std::u16string& GetCaption() const { return caption_; }

  // Set before Start; read by the network thread while it runs.
  HttpServerOptions options;

 private:
  HttpServerImpl* impl_;
  std::atomic<HttpStreamProviderI*> provider_{nullptr};
  std::atomic<unsigned> port_{0};
  std::string runPrefix_;
  WebSockHandlerI* webSocketHandler_;
  std::u16string caption_;
};

}  // namespace storage
