#include "testing/test_client.h"

#include <chrono>
#include <thread>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>

// After the headers that define the Windows types.
#include <psapi.h>
#else
#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <fstream>
#endif

namespace storage::test {
namespace {

#ifdef MSG_NOSIGNAL
constexpr int kSendFlags = MSG_NOSIGNAL;  // a closed server must fail the send, not the test
#else
constexpr int kSendFlags = 0;
#endif

}  // namespace

namespace {

void StartSockets() {
#ifdef _WIN32
  static WSADATA data;
  static const int started = WSAStartup(MAKEWORD(2, 2), &data);
  (void)started;
#endif
}

// The loopback address of a family with a port.
sockaddr_storage Loopback(bool ipv6, uint16_t port, int& length) {
  sockaddr_storage storage{};
  if (ipv6) {
    auto* a = reinterpret_cast<sockaddr_in6*>(&storage);
    a->sin6_family = AF_INET6;
    a->sin6_port = htons(port);
    a->sin6_addr = in6addr_loopback;
    length = sizeof(*a);
  } else {
    auto* a = reinterpret_cast<sockaddr_in*>(&storage);
    a->sin_family = AF_INET;
    a->sin_port = htons(port);
    a->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    length = sizeof(*a);
  }
  return storage;
}

}  // namespace

ClientSocket Connect(uint16_t port, int receiveBuffer, bool ipv6) {
  StartSockets();
  auto s = static_cast<ClientSocket>(::socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM, IPPROTO_TCP));
  if (s < 0) return -1;
  int one = 1;
  ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof(one));
  if (receiveBuffer > 0) {
    ::setsockopt(s, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&receiveBuffer),
                 sizeof(receiveBuffer));
  }
  SetTimeouts(s, 0, 10000);
  int length = 0;
  sockaddr_storage address = Loopback(ipv6, port, length);
  if (::connect(s, reinterpret_cast<sockaddr*>(&address), length) != 0) {
    CloseSocket(s);
    return -1;
  }
  return s;
}

bool CanBind(uint16_t port, bool ipv6) {
  StartSockets();
  auto s = static_cast<ClientSocket>(::socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM, IPPROTO_TCP));
  if (s < 0) return false;
  int one = 1;
  ::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&one), sizeof(one));
  int length = 0;
  sockaddr_storage address = Loopback(ipv6, port, length);
  const bool bound = ::bind(s, reinterpret_cast<sockaddr*>(&address), length) == 0;
  CloseSocket(s);
  return bound;
}

bool SendText(ClientSocket s, const std::string& text) {
  size_t sent = 0;
  while (sent < text.size()) {
    int n = ::send(s, text.data() + sent, static_cast<int>(text.size() - sent), kSendFlags);
    if (n <= 0) return false;
    sent += static_cast<size_t>(n);
  }
  return true;
}

size_t ReceiveSome(ClientSocket s, char* buffer, size_t max) {
  int n = ::recv(s, buffer, static_cast<int>(max), 0);
  return n > 0 ? static_cast<size_t>(n) : 0;
}

std::string ReceiveAll(ClientSocket s) {
  std::string all;
  char buffer[65536];
  while (size_t n = ReceiveSome(s, buffer, sizeof(buffer))) all.append(buffer, n);
  return all;
}

std::string ReceiveExactly(ClientSocket s, size_t n) {
  std::string out(n, '\0');
  size_t got = 0;
  while (size_t more = got < n ? ReceiveSome(s, out.data() + got, n - got) : 0) got += more;
  return out.substr(0, got);
}

void CloseSocket(ClientSocket s) {
#ifdef _WIN32
  ::closesocket(static_cast<SOCKET>(s));
#else
  ::close(static_cast<int>(s));
#endif
}

void SetTimeouts(ClientSocket s, int sendMs, int receiveMs) {
#ifdef _WIN32
  DWORD send = static_cast<DWORD>(sendMs), receive = static_cast<DWORD>(receiveMs);
#else
  timeval send{sendMs / 1000, sendMs % 1000 * 1000}, receive{receiveMs / 1000, receiveMs % 1000 * 1000};
#endif
  ::setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&send), sizeof(send));
  ::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&receive),
               sizeof(receive));
}

void ShutdownSend(ClientSocket s) {
#ifdef _WIN32
  ::shutdown(static_cast<SOCKET>(s), SD_SEND);
#else
  ::shutdown(static_cast<int>(s), SHUT_WR);
#endif
}

std::string Exchange(uint16_t port, const std::string& request) {
  ClientSocket s = Connect(port);
  if (s < 0) return "<no connection>";
  SendText(s, request);
  ShutdownSend(s);
  std::string answer = ReceiveAll(s);
  CloseSocket(s);
  return answer;
}

uint16_t PortOf(const std::string& url) {
  size_t colon = url.rfind(':');
  return colon == std::string::npos ? 0 : static_cast<uint16_t>(std::stoi(url.substr(colon + 1)));
}

size_t OpenHandleCount() {
#ifdef _WIN32
  DWORD count = 0;
  GetProcessHandleCount(GetCurrentProcess(), &count);
  return count;
#else
  size_t count = 0;
  if (DIR* dir = ::opendir("/proc/self/fd")) {
    while (::readdir(dir)) ++count;
    ::closedir(dir);
  }
  return count;
#endif
}

size_t ResidentBytes() {
#ifdef _WIN32
  PROCESS_MEMORY_COUNTERS counters{};
  return GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters))
             ? counters.WorkingSetSize
             : 0;
#else
  std::ifstream statm("/proc/self/statm");
  size_t pages = 0, resident = 0;
  statm >> pages >> resident;
  return resident * static_cast<size_t>(::sysconf(_SC_PAGESIZE));
#endif
}

void SleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

bool WaitUntil(const std::function<bool()>& done, int ms) {
  for (int waited = 0; !done(); waited += 10) {
    if (waited >= ms) return false;
    SleepMs(10);
  }
  return true;
}

}  // namespace storage::test
