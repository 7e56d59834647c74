// storage::HttpServerImpl: the network thread and what it owns. Internal to the server.
//
// The platform file (network_thread_win.cpp / network_thread_posix.cpp) defines the
// constructor, destructor, Start, Stop and the loop (network_thread.cpp holds what they
// share); the state they share with the
// caller's thread (url, errorText) is guarded by a mutex so a start that times out
// reads a consistent value.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "httpserver/connection_table.h"
#include "httpserver/websocket.h"

namespace storage {

class HttpServer;

// Also the server's default WebSocket handler (OnOpen/OnMessage/OnClose and
// currentWebSocket come from WebSockServerHandler); the facade installs it.
class HttpServerImpl : public WebSockServerHandler {
 public:
  HttpServerImpl(HttpServer* owner, bool showNotificationIcon);
  ~HttpServerImpl() override;

  // Starts the network thread and waits up to 10 seconds for it to listen. Failures (no
  // thread, not ready in time, no listener) leave their text in GetErrorText.
  std::string Start(unsigned port, bool listenAny);
  void Stop();
  void RequestStop();
  // Network thread only.
  void CloseAllConnections() { connections_.CloseAll(); }
  bool WaitForThread(uint32_t milliseconds);
  void* GetThreadHandle();

  std::string GetUrl();
  std::string GetErrorText();

  struct Platform;

 private:
  friend struct Platform;
  void SetUrl(const std::string& url);
  void SetErrorText(const std::string& text);

  HttpServer* owner_;
  bool showNotificationIcon_;
  unsigned port_ = 0;
  std::mutex mutex_;
  std::string url_ = "localhost";
  std::string errorText_;
  ConnectionTable connections_;
  std::unique_ptr<Platform> platform_;
};

}  // namespace storage
