#include <winsock2.h>
#include <ws2tcpip.h>

#include "httpserver/socket_ops.h"

namespace storage {
namespace {

// send and recv take int counts; larger requests go out in pieces.
int Clamp(size_t size) { return size > 0x40000000 ? 0x40000000 : static_cast<int>(size); }

std::string WithCode(const char* text, int code) { return text + std::to_string(code); }

// Sockets must not leak into child processes (the browser the shell starts).
SOCKET NewSocket(int family) {
  SOCKET s = WSASocketW(family, SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                        WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
  if (s == INVALID_SOCKET && WSAGetLastError() == WSAEINVAL) {
    // Before Windows 7 SP1 the flag is unknown.
    s = WSASocketW(family, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_OVERLAPPED);
    if (s != INVALID_SOCKET)
      SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
  }
  return s;
}

}  // namespace

IoResult SocketSend(SocketId socket, const char* data, size_t size, bool) {
  int n = ::send(static_cast<SOCKET>(socket), data, Clamp(size), 0);
  if (n != SOCKET_ERROR) return {IoStatus::kDone, static_cast<size_t>(n)};
  return {WSAGetLastError() == WSAEWOULDBLOCK ? IoStatus::kWouldBlock : IoStatus::kError, 0};
}

bool SocketCanSendFile() { return false; }

IoResult SocketSendFile(SocketId, uintptr_t, uint64_t, size_t) { return {IoStatus::kError, 0}; }

IoResult SocketReceive(SocketId socket, char* data, size_t size) {
  int n = ::recv(static_cast<SOCKET>(socket), data, Clamp(size), 0);
  if (n > 0) return {IoStatus::kDone, static_cast<size_t>(n)};
  if (n == 0) return {IoStatus::kClosed, 0};
  return {WSAGetLastError() == WSAEWOULDBLOCK ? IoStatus::kWouldBlock : IoStatus::kError, 0};
}

void SocketShutdownSend(SocketId socket) { ::shutdown(static_cast<SOCKET>(socket), SD_SEND); }

void SocketClose(SocketId socket) { ::closesocket(static_cast<SOCKET>(socket)); }

SocketId SocketListen(AddressFamily family, bool any, unsigned port, std::string& error,
                      bool& unavailable) {
  unavailable = false;
  const bool v6 = family == AddressFamily::kIPv6;
  SOCKET s = NewSocket(v6 ? AF_INET6 : AF_INET);
  if (s == INVALID_SOCKET) {
    const int code = WSAGetLastError();
    unavailable = code == WSAEAFNOSUPPORT;
    error = WithCode("socket creation error: ", code);
    return kInvalidSocket;
  }
  // Under Winsock's rules SO_REUSEADDR would let a second socket bind the same port and
  // take some of its connections; the exclusive option forbids that.
  BOOL one = TRUE;
  setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&one), sizeof(one));
  sockaddr_storage storage{};
  int length = 0;
  if (v6) {
    DWORD only = 1;
    setsockopt(s, IPPROTO_IPV6, IPV6_V6ONLY, reinterpret_cast<const char*>(&only), sizeof(only));
    auto* a = reinterpret_cast<sockaddr_in6*>(&storage);
    a->sin6_family = AF_INET6;
    a->sin6_addr = any ? in6addr_any : in6addr_loopback;
    a->sin6_port = htons(static_cast<u_short>(port));
    length = sizeof(*a);
  } else {
    auto* a = reinterpret_cast<sockaddr_in*>(&storage);
    a->sin_family = AF_INET;
    a->sin_addr.s_addr = htonl(any ? INADDR_ANY : INADDR_LOOPBACK);
    a->sin_port = htons(static_cast<u_short>(port));
    length = sizeof(*a);
  }
  const char* failed = nullptr;
  const bool bound = bind(s, reinterpret_cast<sockaddr*>(&storage), length) == 0;
  if (!bound) {
    failed = "socket bind error: ";
  } else if (listen(s, SOMAXCONN) != 0) {
    failed = "socket listen error: ";
  }
  if (failed) {
    const int code = WSAGetLastError();
    unavailable = !bound && (code == WSAEADDRNOTAVAIL || code == WSAEAFNOSUPPORT);
    error = WithCode(failed, code);
    closesocket(s);
    return kInvalidSocket;
  }
  return static_cast<SocketId>(s);
}

unsigned SocketLocalPort(SocketId socket) {
  sockaddr_storage bound{};
  int length = sizeof(bound);
  if (getsockname(static_cast<SOCKET>(socket), reinterpret_cast<sockaddr*>(&bound), &length) != 0)
    return 0;
  if (bound.ss_family == AF_INET6) return ntohs(reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port);
  return ntohs(reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
}

SocketId SocketAccept(SocketId listener, bool& outOfDescriptors) {
  outOfDescriptors = false;
  // The accepted socket takes over the listener's WSAAsyncSelect events and is non-blocking.
  SOCKET s = INVALID_SOCKET;
  for (;;) {
    s = accept(static_cast<SOCKET>(listener), nullptr, nullptr);
    if (s != INVALID_SOCKET) break;
    const int code = WSAGetLastError();
    // A client that gave up before it was accepted: the next one may wait behind it.
    if (code == WSAECONNRESET) continue;
    outOfDescriptors = code == WSAEMFILE || code == WSAENOBUFS;
    return kInvalidSocket;
  }
  SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
  BOOL on = TRUE;
  setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof(on));
  return static_cast<SocketId>(s);
}

size_t SocketCapacity() {
  // Winsock has no per-process descriptor limit of its own; this bounds memory and the
  // work of one sweep.
  return 16384;
}

}  // namespace storage
