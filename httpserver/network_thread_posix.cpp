// The network thread on POSIX: a loop over an EventBackend (epoll on Linux) that plays the
// part of the message-only window, woken for quit through a pipe. Everything above the
// backend is POSIX only, so another POSIX system needs nothing but its own backend.
#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <condition_variable>
#include <thread>

#include "httpserver/event_backend.h"
#include "httpserver/http_server.h"
#include "httpserver/http_server_impl.h"
#include "httpserver/network_thread.h"

namespace storage {

struct HttpServerImpl::Platform {
  std::thread thread;
  int wake[2] = {-1, -1};  // read end, write end
  // Start and stop hand-over: the network thread sets ready (listening) or ended.
  std::mutex mutex;
  std::condition_variable changed;
  bool ready = false;
  bool ended = false;

  void Run(HttpServerImpl* impl, bool listenAny);
  void Loop(HttpServerImpl* impl, EventBackend& backend, const std::vector<SocketId>& listeners);
  void Signal(bool listening) {
    std::lock_guard<std::mutex> lock(mutex);
    (listening ? ready : ended) = true;
    changed.notify_all();
  }
  void CloseWake() {
    for (int& fd : wake) {
      if (fd >= 0) ::close(fd);
      fd = -1;
    }
  }
};

HttpServerImpl::HttpServerImpl(HttpServer* owner, bool showNotificationIcon)
    : owner_(owner),
      showNotificationIcon_(showNotificationIcon),
      connections_(owner),
      platform_(std::make_unique<Platform>()) {}

HttpServerImpl::~HttpServerImpl() { Stop(); }

std::string HttpServerImpl::Start(unsigned port, bool listenAny) {
  Stop();
  port_ = port & 0xFFFF;
  SetErrorText(std::string());
  connections_.Configure(owner_->options.limits, SocketCapacity());
  Platform& p = *platform_;
  p.ready = p.ended = false;
  if (::pipe(p.wake) != 0) {
    SetErrorText("socket creation error: " + std::to_string(errno));
    return GetUrl();
  }
  for (int fd : p.wake) {
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
  }
  try {
    p.thread = std::thread([this, listenAny] { platform_->Run(this, listenAny); });
  } catch (const std::system_error& e) {
    p.CloseWake();
    SetErrorText(std::string("thread creation error: ") + std::to_string(e.code().value()));
    return GetUrl();
  }
  std::unique_lock<std::mutex> lock(p.mutex);
  const bool answered =
      p.changed.wait_for(lock, std::chrono::seconds(10), [&p] { return p.ready || p.ended; });
  lock.unlock();
  if (!answered) {
    Stop();
    SetErrorText("network thread not ready");
  }
  return GetUrl();
}

void HttpServerImpl::RequestStop() {
  if (platform_->wake[1] >= 0) {
    const char one = 1;
    ssize_t ignored = ::write(platform_->wake[1], &one, 1);
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
  p.CloseWake();
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

void HttpServerImpl::Platform::Run(HttpServerImpl* impl, bool listenAny) {
  std::vector<SocketId> listeners;
  unsigned bound = 0;
  std::string error;
  std::unique_ptr<EventBackend> backend;
  if (OpenListeners(impl->port_, listenAny, listeners, bound, error)) {
    impl->SetUrl(ServerUrl(bound));
    backend = EventBackend::Create(error);
    bool watching = backend && backend->WatchListener(wake[0]);
    for (SocketId s : listeners) watching = watching && backend->WatchListener(static_cast<int>(s));
    if (watching) {
      Signal(true);
      Loop(impl, *backend, listeners);
    } else if (error.empty()) {
      error = "event loop error: " + std::to_string(errno);
    }
  }
  if (!error.empty()) impl->SetErrorText(error);
  for (SocketId s : listeners) SocketClose(s);
  impl->connections_.CloseAll();
  backend.reset();
  Signal(false);
}

void HttpServerImpl::Platform::Loop(HttpServerImpl* impl, EventBackend& backend,
                                    const std::vector<SocketId>& listeners) {
  ConnectionTable& table = impl->connections_;
  const auto enroll = [&backend](SocketId s) {
    return backend.WatchConnection(static_cast<int>(s));
  };
  auto lastTick = SocketHandler::Clock::now();
  bool paused = false;  // listeners unwatched until the next tick
  std::vector<EventBackend::Ready> ready;
  for (;;) {
    if (!backend.Wait(table.HasTurns() ? 0 : 1000, ready)) return;
    for (const EventBackend::Ready& r : ready) {
      if (r.fd == wake[0]) return;
      bool listener = false;
      for (SocketId s : listeners) listener = listener || static_cast<int>(s) == r.fd;
      if (!listener) {
        table.Dispatch(static_cast<SocketId>(r.fd));
      } else if (!paused && !AcceptPending(table, static_cast<SocketId>(r.fd), enroll)) {
        // No room now: stop watching the listeners instead of spinning on them.
        paused = true;
        for (SocketId s : listeners) backend.UnwatchListener(static_cast<int>(s));
      }
    }
    table.RunTurns();
    const auto now = SocketHandler::Clock::now();
    if (now - lastTick >= std::chrono::seconds(1)) {
      lastTick = now;
      table.Tick();
      if (paused) {
        paused = false;
        for (SocketId s : listeners) backend.WatchListener(static_cast<int>(s));
      }
    }
  }
}

}  // namespace storage
