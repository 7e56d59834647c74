// storage::ConnectionTable: the connections of one server by socket, and what both event
// loops do with them alike: dispatching readiness, the turns of connections that had more
// to send than one event allows, the timers, and making room at the connection cap.
// Network thread only (Configure before the loop starts).
#pragma once

#include <map>
#include <memory>
#include <vector>

#include "httpserver/connection_limits.h"
#include "httpserver/socket_handler.h"

namespace storage {

class HttpServer;

class ConnectionTable {
 public:
  explicit ConnectionTable(HttpServer* owner) : owner_(owner) {}
  ~ConnectionTable() { CloseAll(); }

  // The limits for the next run; maxConnections 0 takes platformCap.
  void Configure(const ConnectionLimits& limits, size_t platformCap);
  const ConnectionLimits& Limits() const { return context_.limits; }

  // Whether one more connection may be accepted. At the cap, one connection is closed to
  // make room (idle between requests and lingering first, then slow headers, then
  // WebSockets and responses stalled for limits.stalledAfter, the quiet longest first);
  // false when every connection is making progress.
  bool MakeRoom();
  // Whether MakeRoom would succeed now (below the cap, or some connection may go).
  bool CanMakeRoom() const;
  // Closes the connection MakeRoom would close, whatever the count; false when none may go.
  bool ShedOne();
  // Adopts an accepted socket (non-blocking, registered with the loop).
  void Add(SocketId socket);

  // One readiness report for socket: ready to read or write, or (Windows) closed by the peer.
  void Dispatch(SocketId socket, bool peerClosed = false);
  // Gives each connection that asked for another turn its turn.
  void RunTurns();
  bool HasTurns() const { return !turns_.empty(); }
  // The timers; the loop calls it about once a second.
  void Tick();

  // Destroys every handler (closing its socket). The map is swapped out first so a
  // handler's destructor never sees a half-erased table.
  void CloseAll();
  size_t Size() const { return handlers_.size(); }

 private:
  // What follows an event of handler: erased when it ended, queued for a turn when it
  // asked for one; then the header budget is enforced.
  void After(SocketId socket, SocketHandler* handler, bool alive);
  void Settle(SocketId socket, SocketHandler* handler, bool alive);
  void Erase(SocketId socket);
  // The connection ShedOne closes; kInvalidSocket when none may go.
  SocketId Victim() const;

  HttpServer* owner_;
  ConnectionContext context_;
  std::map<SocketId, std::unique_ptr<SocketHandler>> handlers_;
  std::vector<SocketId> turns_;
};

}  // namespace storage
