// What the network threads of every platform share: where the server listens and in which
// order, the URL it answers to, and accepting within the connection cap. The event
// mechanics stay in network_thread_win.cpp (a message-only window fed by WSAAsyncSelect)
// and network_thread_posix.cpp (over an EventBackend).
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "httpserver/connection_table.h"
#include "httpserver/socket_ops.h"

namespace storage {

// Listens on 127.0.0.1 and then ::1 (listenAny: 0.0.0.0 and ::) on one port, so a name
// that resolves to either family reaches this server and no other. port 0 takes a port
// the system picks for IPv4 that is free for IPv6 as well (a few picks are tried). A
// family this machine lacks is left out as long as another listens. On failure every
// socket is closed, false is returned and error holds the failing call's text.
bool OpenListeners(unsigned port, bool listenAny, std::vector<SocketId>& sockets,
                   unsigned& bound, std::string& error);

// "http://localhost:<port>/".
std::string ServerUrl(unsigned port);

// Accepts what waits on listener while the table has room; enroll registers a new socket
// with the loop (false: it could not, and the socket is closed). False when accepting is
// to pause until the next tick: no connection could make room, or the process is out of
// descriptors even after closing one. Never loops on a listener it cannot serve.
bool AcceptPending(ConnectionTable& table, SocketId listener,
                   const std::function<bool(SocketId)>& enroll);

}  // namespace storage
