// Plugs the WebSocket code into the HTTP server's connections: answers upgrade requests,
// feeds the bytes of upgraded connections to their sessions, and presents each upgraded
// connection to the handler as a storage::WebSockConnectionI.
//
// Install one per server before it starts:
//   storage::WsUpgradeHandler webSockets;           // events go to its serverHandler
//   server.SetUpgradeHandler(&webSockets);
// All calls come from the server's network thread; the object must outlive the server's
// connections (destroy it after the server).
#pragma once

#include <map>
#include <memory>
#include <string>

#include "httpserver/socket_handler.h"
#include "httpserver/websocket.h"
#include "httpserver/websocket_session.h"

namespace storage {

class WsUpgradeHandler : public UpgradeHandlerI {
 public:
  // Events go to serverHandler (remembers the last opened connection).
  WsUpgradeHandler();
  // Events go to handler (not owned).
  explicit WsUpgradeHandler(WebSockHandlerI* handler);
  ~WsUpgradeHandler() override;

  bool OnUpgrade(SocketHandler& connection, const HttpMessage& request,
                 const std::string& body) override;
  void OnFrameBytes(SocketHandler& connection, const char* data, size_t size) override;
  void OnClosed(SocketHandler& connection) override;

  WebSockServerHandler serverHandler;

 private:
  class Connection;
  // Answers a handshake whose response is ready; false when it was refused.
  bool Complete(Connection& state, const WsHandshake& handshake);

  WebSockHandlerI* handler_;
  std::map<SocketHandler*, std::unique_ptr<Connection>> connections_;
};

}  // namespace storage
