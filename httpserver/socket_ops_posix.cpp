#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/resource.h>
#ifdef __linux__
#include <sys/sendfile.h>
#endif
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

#include "httpserver/socket_ops.h"

namespace storage {
namespace {

#ifdef MSG_NOSIGNAL
constexpr int kSendFlags = MSG_NOSIGNAL;  // a reset peer must not raise SIGPIPE
#else
constexpr int kSendFlags = 0;  // SO_NOSIGPIPE is set on each accepted socket instead
#endif

// Descriptors kept free for what the process opens besides connections.
constexpr size_t kDescriptorReserve = 32;

int Fd(SocketId socket) { return static_cast<int>(socket); }

std::string WithCode(const char* text, int code) { return text + std::to_string(code); }

bool SetFlags(int fd) {
  const int status = ::fcntl(fd, F_GETFL);
  return status >= 0 && ::fcntl(fd, F_SETFL, status | O_NONBLOCK) == 0 &&
         ::fcntl(fd, F_SETFD, FD_CLOEXEC) == 0;
}

}  // namespace

IoResult SocketSend(SocketId socket, const char* data, size_t size, bool more) {
#ifdef MSG_MORE
  const int flags = kSendFlags | (more ? MSG_MORE : 0);
#else
  const int flags = kSendFlags;
#endif
  for (;;) {
    ssize_t n = ::send(Fd(socket), data, size, flags);
    if (n >= 0) return {IoStatus::kDone, static_cast<size_t>(n)};
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return {IoStatus::kWouldBlock, 0};
    return {IoStatus::kError, 0};
  }
}

#ifdef __linux__
bool SocketCanSendFile() { return true; }

IoResult SocketSendFile(SocketId socket, uintptr_t file, uint64_t offset, size_t size) {
  for (;;) {
    off_t at = static_cast<off_t>(offset);
    ssize_t n = ::sendfile(Fd(socket), static_cast<int>(file), &at, size);
    if (n > 0) return {IoStatus::kDone, static_cast<size_t>(n)};
    if (n == 0) return {IoStatus::kError, 0};  // the file ends before offset
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return {IoStatus::kWouldBlock, 0};
    return {IoStatus::kError, 0};
  }
}
#else
bool SocketCanSendFile() { return false; }

IoResult SocketSendFile(SocketId, uintptr_t, uint64_t, size_t) { return {IoStatus::kError, 0}; }
#endif

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

SocketId SocketListen(AddressFamily family, bool any, unsigned port, std::string& error,
                      bool& unavailable) {
  unavailable = false;
  const bool v6 = family == AddressFamily::kIPv6;
  const int fd = ::socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (fd < 0) {
    unavailable = errno == EAFNOSUPPORT;
    error = WithCode("socket creation error: ", errno);
    return kInvalidSocket;
  }
  int one = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
  sockaddr_storage storage{};
  socklen_t length = 0;
  if (v6) {
    ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &one, sizeof(one));
    auto* a = reinterpret_cast<sockaddr_in6*>(&storage);
    a->sin6_family = AF_INET6;
    a->sin6_addr = any ? in6addr_any : in6addr_loopback;
    a->sin6_port = htons(static_cast<uint16_t>(port));
    length = sizeof(*a);
  } else {
    auto* a = reinterpret_cast<sockaddr_in*>(&storage);
    a->sin_family = AF_INET;
    a->sin_addr.s_addr = htonl(any ? INADDR_ANY : INADDR_LOOPBACK);
    a->sin_port = htons(static_cast<uint16_t>(port));
    length = sizeof(*a);
  }
  const char* failed = nullptr;
  if (!SetFlags(fd)) {
    failed = "socket creation error: ";
  } else if (::bind(fd, reinterpret_cast<sockaddr*>(&storage), length) != 0) {
    failed = "socket bind error: ";
    unavailable = errno == EADDRNOTAVAIL || errno == EAFNOSUPPORT;
  } else if (::listen(fd, SOMAXCONN) != 0) {
    failed = "socket listen error: ";
  }
  if (failed) {
    error = WithCode(failed, errno);
    ::close(fd);
    return kInvalidSocket;
  }
  return static_cast<SocketId>(fd);
}

unsigned SocketLocalPort(SocketId socket) {
  sockaddr_storage bound{};
  socklen_t length = sizeof(bound);
  if (::getsockname(Fd(socket), reinterpret_cast<sockaddr*>(&bound), &length) != 0) return 0;
  if (bound.ss_family == AF_INET6) return ntohs(reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port);
  return ntohs(reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
}

SocketId SocketAccept(SocketId listener, bool& outOfDescriptors) {
  outOfDescriptors = false;
  for (;;) {
    const int fd = ::accept(Fd(listener), nullptr, nullptr);
    if (fd < 0) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      outOfDescriptors = errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM;
      return kInvalidSocket;
    }
    int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
#ifdef SO_NOSIGPIPE
    ::setsockopt(fd, SOL_SOCKET, SO_NOSIGPIPE, &on, sizeof(on));
#endif
    if (!SetFlags(fd)) {
      ::close(fd);
      continue;
    }
    return static_cast<SocketId>(fd);
  }
}

size_t SocketCapacity() {
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return 65536;
  const size_t descriptors = static_cast<size_t>(limit.rlim_cur);
  return descriptors > 2 * kDescriptorReserve ? descriptors - kDescriptorReserve
                                              : descriptors / 2;
}

}  // namespace storage
