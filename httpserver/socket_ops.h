// The few socket calls a connection makes, over the platform's non-blocking sockets
// (Winsock on Windows, BSD sockets elsewhere). A would-block condition is reported as
// such, never waited for.
#pragma once

#include <cstddef>
#include <cstdint>

namespace storage {

// A SOCKET on Windows, a file descriptor elsewhere.
using SocketId = uintptr_t;
inline constexpr SocketId kInvalidSocket = ~static_cast<SocketId>(0);

enum class IoStatus {
  kDone,        // count bytes moved (count > 0)
  kWouldBlock,  // nothing now; readiness will be reported
  kClosed,      // the peer ended its side (receive only)
  kError,       // the connection is unusable
};

struct IoResult {
  IoStatus status;
  size_t count;
};

IoResult SocketSend(SocketId socket, const char* data, size_t size);
IoResult SocketReceive(SocketId socket, char* data, size_t size);
// Sends FIN after the queued bytes; the receive side stays open so the peer's late bytes
// can be read off instead of turning the close into a reset.
void SocketShutdownSend(SocketId socket);
void SocketClose(SocketId socket);

}  // namespace storage
