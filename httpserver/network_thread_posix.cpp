// The network thread on POSIX: an epoll loop (Linux) that plays the part of the
// message-only window, woken for quit through an eventfd.
#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <condition_variable>
#include <cstring>
#include <thread>

#include "httpserver/http_server.h"
#include "httpserver/http_server_impl.h"

namespace storage {

struct HttpServerImpl::Platform {
  std::thread thread;
  int wakeFd = -1;
  // Start and stop hand-over: the network thread sets ready (listening) or ended.
  std::mutex mutex;
  std::condition_variable changed;
  bool ready = false;
  bool ended = false;

  void Run(HttpServerImpl* impl);
  void Loop(HttpServerImpl* impl, int listener);
  void Finish() {
    std::lock_guard<std::mutex> lock(mutex);
    ended = true;
    changed.notify_all();
  }
};

namespace {

std::string WithCode(const char* text, int code) { return text + std::to_string(code); }

constexpr uint32_t kConnectionEvents = EPOLLIN | EPOLLOUT | EPOLLET;

}  // namespace

HttpServerImpl::HttpServerImpl(HttpServer* owner, bool showNotificationIcon)
    : owner_(owner),
      showNotificationIcon_(showNotificationIcon),
      connections_(owner),
      platform_(std::make_unique<Platform>()) {}

HttpServerImpl::~HttpServerImpl() { Stop(); }

std::string HttpServerImpl::Start(unsigned port) {
  Stop();
  port_ = port & 0xFFFF;
  SetErrorText(std::string());
  Platform& p = *platform_;
  p.ready = p.ended = false;
  p.wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (p.wakeFd < 0) {
    SetErrorText(WithCode("socket creation error: ", errno));
    return GetUrl();
  }
  p.thread = std::thread([this] { platform_->Run(this); });
  std::unique_lock<std::mutex> lock(p.mutex);
  p.changed.wait_for(lock, std::chrono::seconds(10), [&p] { return p.ready || p.ended; });
  lock.unlock();
  return GetUrl();
}

void HttpServerImpl::RequestStop() {
  if (platform_->wakeFd >= 0) {
    uint64_t one = 1;
    ssize_t ignored = ::write(platform_->wakeFd, &one, sizeof(one));
    (void)ignored;
  }
}

void HttpServerImpl::Stop() {
  Platform& p = *platform_;
  if (!p.thread.joinable()) return;
  RequestStop();
  // The loop never blocks for long, so joining ends promptly; a thread cannot be
  // terminated safely here the way TerminateThread does on Windows.
  p.thread.join();
  ::close(p.wakeFd);
  p.wakeFd = -1;
}

bool HttpServerImpl::WaitForThread(uint32_t milliseconds) {
  Platform& p = *platform_;
  std::unique_lock<std::mutex> lock(p.mutex);
  if (!p.thread.joinable()) return true;
  if (milliseconds == 0xFFFFFFFF) {
    p.changed.wait(lock, [&p] { return p.ended; });
    return true;
  }
  return p.changed.wait_for(lock, std::chrono::milliseconds(milliseconds),
                            [&p] { return p.ended; });
}

void* HttpServerImpl::GetThreadHandle() { return nullptr; }

void HttpServerImpl::Platform::Run(HttpServerImpl* impl) {
  int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, IPPROTO_TCP);
  if (listener < 0) {
    impl->SetErrorText(WithCode("socket creation error: ", errno));
    Finish();
    return;
  }
  int one = 1;
  ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));

  sockaddr_in address{};
  address.sin_family = AF_INET;
  if (impl->owner_->options.listenAny) {
    address.sin_addr.s_addr = htonl(INADDR_ANY);
  } else {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo("localhost", nullptr, &hints, &found) != 0 || !found) {
      impl->SetErrorText("getaddrinfo error");
      ::close(listener);
      Finish();
      return;
    }
    address.sin_addr = reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr;
    ::freeaddrinfo(found);
  }
  address.sin_port = htons(static_cast<uint16_t>(impl->port_));
  if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
    impl->SetErrorText(WithCode("socket bind error: ", errno));
    ::close(listener);
    Finish();
    return;
  }
  std::string host = "localhost";
  sockaddr_in bound{};
  socklen_t length = sizeof(bound);
  if (::getsockname(listener, reinterpret_cast<sockaddr*>(&bound), &length) == 0) {
    host += ":" + std::to_string(ntohs(bound.sin_port));
  }
  impl->SetUrl("http://" + host + "/");
  if (::listen(listener, SOMAXCONN) != 0) {
    impl->SetErrorText(WithCode("socket listen error: ", errno));
    ::close(listener);
    Finish();
    return;
  }
  Loop(impl, listener);
  ::close(listener);
  impl->connections_.CloseAll();
  Finish();
}

void HttpServerImpl::Platform::Loop(HttpServerImpl* impl, int listener) {
  int epoll = ::epoll_create1(EPOLL_CLOEXEC);
  if (epoll < 0) {
    impl->SetErrorText(WithCode("event loop error: ", errno));
    return;
  }
  epoll_event event{};
  event.events = EPOLLIN;
  event.data.u64 = static_cast<uint64_t>(listener);
  bool listening = ::epoll_ctl(epoll, EPOLL_CTL_ADD, listener, &event) == 0;
  event.data.u64 = static_cast<uint64_t>(wakeFd);
  if (!listening || ::epoll_ctl(epoll, EPOLL_CTL_ADD, wakeFd, &event) != 0) {
    impl->SetErrorText(WithCode("event loop error: ", errno));
    ::close(epoll);
    return;
  }
  {
    std::lock_guard<std::mutex> lock(mutex);
    ready = true;
    changed.notify_all();
  }

  ConnectionTable& table = impl->connections_;
  auto lastSweep = SocketHandler::Clock::now();
  epoll_event events[256];
  bool quit = false;
  while (!quit) {
    int n = ::epoll_wait(epoll, events, 256, 1000);
    if (n < 0 && errno != EINTR) break;
    for (int i = 0; i < n; ++i) {
      const int fd = static_cast<int>(events[i].data.u64);
      const uint32_t what = events[i].events;
      if (fd == wakeFd) {
        quit = true;
        break;
      }
      if (fd == listener) {
        for (;;) {
          int s = ::accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
          if (s < 0) {
            if (errno == EMFILE || errno == ENFILE) {
              // Out of descriptors: stop accepting until the next sweep frees some,
              // instead of spinning on a listener that stays readable.
              ::epoll_ctl(epoll, EPOLL_CTL_DEL, listener, nullptr);
              listening = false;
            }
            break;
          }
          int on = 1;
          ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
          epoll_event ce{};
          ce.events = kConnectionEvents;
          ce.data.u64 = static_cast<uint64_t>(s);
          if (::epoll_ctl(epoll, EPOLL_CTL_ADD, s, &ce) != 0) {
            ::close(s);
            continue;
          }
          table.GetOrCreate(static_cast<SocketId>(s));
        }
        continue;
      }
      SocketHandler* handler = table.Find(static_cast<SocketId>(fd));
      if (!handler) continue;
      bool alive = true;
      if (what & (EPOLLIN | EPOLLHUP | EPOLLERR)) alive = handler->OnRead();
      if (alive && (what & (EPOLLOUT | EPOLLHUP | EPOLLERR))) alive = handler->OnWrite();
      // Closing the descriptor also takes it out of the epoll set.
      if (!alive) table.Erase(static_cast<SocketId>(fd));
    }
    auto now = SocketHandler::Clock::now();
    if (now - lastSweep >= std::chrono::seconds(1)) {
      lastSweep = now;
      for (SocketId s : table.IdleSince(now - impl->owner_->options.idleLimit)) table.Erase(s);
      if (!listening) {
        event.events = EPOLLIN;
        event.data.u64 = static_cast<uint64_t>(listener);
        listening = ::epoll_ctl(epoll, EPOLL_CTL_ADD, listener, &event) == 0;
      }
    }
  }
  ::close(epoll);
}

}  // namespace storage
