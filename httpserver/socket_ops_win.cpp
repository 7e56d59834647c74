#include <winsock2.h>

#include "httpserver/socket_ops.h"

namespace storage {
namespace {

// send and recv take int counts; larger requests go out in pieces.
int Clamp(size_t size) { return size > 0x40000000 ? 0x40000000 : static_cast<int>(size); }

}  // namespace

IoResult SocketSend(SocketId socket, const char* data, size_t size) {
  int n = ::send(static_cast<SOCKET>(socket), data, Clamp(size), 0);
  if (n != SOCKET_ERROR) return {IoStatus::kDone, static_cast<size_t>(n)};
  return {WSAGetLastError() == WSAEWOULDBLOCK ? IoStatus::kWouldBlock : IoStatus::kError, 0};
}

IoResult SocketReceive(SocketId socket, char* data, size_t size) {
  int n = ::recv(static_cast<SOCKET>(socket), data, Clamp(size), 0);
  if (n > 0) return {IoStatus::kDone, static_cast<size_t>(n)};
  if (n == 0) return {IoStatus::kClosed, 0};
  return {WSAGetLastError() == WSAEWOULDBLOCK ? IoStatus::kWouldBlock : IoStatus::kError, 0};
}

void SocketShutdownSend(SocketId socket) { ::shutdown(static_cast<SOCKET>(socket), SD_SEND); }

void SocketClose(SocketId socket) { ::closesocket(static_cast<SOCKET>(socket)); }

}  // namespace storage
