// The limits every connection of a server lives by, shared by both event loops. They bound
// what one client (or many) can make the network thread hold: time, memory, descriptors.
// Set them in the server's options before Start; the network thread reads its own copy.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

namespace storage {

struct ConnectionLimits {
  // A connection that makes no progress (no byte received or sent) for this long is closed.
  // An open WebSocket is pinged instead and closed when no answer comes within this time.
  std::chrono::milliseconds idle = std::chrono::seconds(60);
  // The whole header block of a request must arrive within this time from its first byte;
  // otherwise the client gets 408 and the connection ends.
  std::chrono::milliseconds headerDeadline = std::chrono::seconds(30);
  // An RFC 6455 WebSocket quiet this long gets a ping.
  std::chrono::milliseconds pingAfter = std::chrono::seconds(60);
  // Reading from a connection pauses while more than this many reply bytes wait unsent.
  size_t maxUnsent = size_t{1} << 20;
  // Bytes of unfinished WebSocket frames held by all connections together; a frame that
  // would pass it closes its connection with 1009.
  size_t webSocketMemory = size_t{64} << 20;
  // Bytes of unfinished header blocks held by all connections together; past it, the
  // connection that has been collecting longest is answered 431 and closed.
  size_t headerMemory = size_t{64} << 20;
  // Open connections at most; 0 takes the platform's figure (the descriptor limit less a
  // reserve on POSIX). At the cap, one connection makes room for the new one: idle or
  // slow-header ones first, then those that made no progress for stalledAfter (a reader
  // that stopped taking its response) and WebSockets, the quiet longest first.
  size_t maxConnections = 0;
  std::chrono::milliseconds stalledAfter = std::chrono::seconds(5);
  // Requests served on one kept-alive connection; the last one is answered with a close.
  uint32_t maxRequests = 1000;
  // A request body (framed by Content-Length) larger than this is refused with 413.
  size_t maxBody = size_t{16} << 20;
  // Bytes one connection may send, and as many it may receive, per readiness event before
  // the loop serves the others.
  size_t turnBytes = size_t{4} << 16;
};

}  // namespace storage

namespace storage {

// What the connections of one server share on the network thread.
struct ConnectionContext {
  ConnectionLimits limits;
  // Bytes of unfinished WebSocket frames held by all connections now.
  size_t webSocketBytes = 0;
  // Bytes of received, not yet handled request text (unfinished header blocks) held by
  // all connections now.
  size_t headerBytes = 0;
};

}  // namespace storage
