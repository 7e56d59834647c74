#include <errno.h>
#include <sys/socket.h>
#include <unistd.h>

#include "httpserver/socket_ops.h"

namespace storage {
namespace {

#ifdef MSG_NOSIGNAL
constexpr int kSendFlags = MSG_NOSIGNAL;  // a reset peer must not raise SIGPIPE
#else
constexpr int kSendFlags = 0;  // BSDs: SO_NOSIGPIPE is set on the socket instead
#endif

int Fd(SocketId socket) { return static_cast<int>(socket); }

}  // namespace

IoResult SocketSend(SocketId socket, const char* data, size_t size) {
  for (;;) {
    ssize_t n = ::send(Fd(socket), data, size, kSendFlags);
    if (n >= 0) return {IoStatus::kDone, static_cast<size_t>(n)};
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return {IoStatus::kWouldBlock, 0};
    return {IoStatus::kError, 0};
  }
}

IoResult SocketReceive(SocketId socket, char* data, size_t size) {
  for (;;) {
    ssize_t n = ::recv(Fd(socket), data, size, 0);
    if (n > 0) return {IoStatus::kDone, static_cast<size_t>(n)};
    if (n == 0) return {IoStatus::kClosed, 0};
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return {IoStatus::kWouldBlock, 0};
    return {IoStatus::kError, 0};
  }
}

void SocketShutdownSend(SocketId socket) { ::shutdown(Fd(socket), SHUT_WR); }

void SocketClose(SocketId socket) { ::close(Fd(socket)); }

}  // namespace storage
