// The few socket calls the server makes, over the platform's non-blocking sockets
// (Winsock on Windows, BSD sockets elsewhere). A would-block condition is reported as
// such, never waited for. Failures carry the platform's error code in their text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

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

// more: further bytes follow at once (a response head before its body sent from a
// file), so the system may hold these back to fill a segment with both (MSG_MORE).
IoResult SocketSend(SocketId socket, const char* data, size_t size, bool more = false);
// Whether SocketSendFile works here: Linux's sendfile. Elsewhere (Windows included) file
// bodies go through the process like any other.
bool SocketCanSendFile();
// Sends up to size bytes of file (a descriptor) from offset, the system reading them
// from the file itself. kError also when the file ends before offset + 1 (it shrank).
IoResult SocketSendFile(SocketId socket, uintptr_t file, uint64_t offset, size_t size);
IoResult SocketReceive(SocketId socket, char* data, size_t size);
// Sends FIN after the queued bytes; the receive side stays open so the peer's late bytes
// can be read off instead of turning the close into a reset.
void SocketShutdownSend(SocketId socket);
void SocketClose(SocketId socket);

enum class AddressFamily { kIPv4, kIPv6 };

// A listening socket on the loopback address of family (any: the any-address), port 0
// meaning a free one the system picks. Not inherited by child processes. On Windows the
// port is held with SO_EXCLUSIVEADDRUSE, so no other socket can bind it while it is
// held; on POSIX SO_REUSEADDR only lets a restart bind over connections in TIME_WAIT. An
// IPv6 socket takes IPv6 only. On failure kInvalidSocket, error set ("socket creation
// error: N", "socket bind error: N", "socket listen error: N") and unavailable set when the
// family or address does not exist on this machine.
SocketId SocketListen(AddressFamily family, bool any, unsigned port, std::string& error,
                      bool& unavailable);
// The port a socket is bound to; 0 when unknown.
unsigned SocketLocalPort(SocketId socket);
// A connection waiting on listener, made ready for the loop (non-blocking, not inherited,
// no Nagle delay, no SIGPIPE); kInvalidSocket when none waits or on failure, with
// outOfDescriptors set when the process has no descriptor left for it.
SocketId SocketAccept(SocketId listener, bool& outOfDescriptors);
// How many connections the process can hold open: on POSIX the descriptor limit less a
// reserve for files and pipes; on Windows a fixed figure.
size_t SocketCapacity();

}  // namespace storage
