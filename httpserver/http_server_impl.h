// storage::HttpServerImpl: the network thread and what it owns. Internal to the server.
//
// The platform file (network_thread_win.cpp / network_thread_posix.cpp) defines the
// constructor, destructor, Start, Stop and the loop; the state they share with the
// caller's thread (url, errorText) is guarded by a mutex so a start that times out
// reads a consistent value.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "httpserver/socket_handler.h"
#include "httpserver/websocket.h"

namespace storage {

class HttpServer;

// The connections of one server, by socket. Owns the handlers.
class ConnectionTable {
 public:
  explicit ConnectionTable(HttpServer* owner) : owner_(owner) {}
  ~ConnectionTable() { CloseAll(); }

  SocketHandler* GetOrCreate(SocketId socket);
  SocketHandler* Find(SocketId socket);
  void Erase(SocketId socket);
  // Destroys every handler (closing its socket). The map is swapped out first so a
  // handler's destructor never sees a half-erased table.
  void CloseAll();
  // Sockets whose connection made no progress since before deadline.
  std::vector<SocketId> IdleSince(SocketHandler::Clock::time_point deadline) const;
  size_t Size() const { return handlers_.size(); }

 private:
  HttpServer* owner_;
  std::map<SocketId, std::unique_ptr<SocketHandler>> handlers_;
};

// Also the server's default WebSocket handler (OnOpen/OnMessage/OnClose and
// currentWebSocket come from WebSockServerHandler); the facade installs it.
class HttpServerImpl : public WebSockServerHandler {
 public:
  HttpServerImpl(HttpServer* owner, bool showNotificationIcon);
  ~HttpServerImpl() override;

  std::string Start(unsigned port);
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
