// EventBackend over Linux epoll: listeners level-triggered, connections edge-triggered
// (EPOLLET) for both directions.
#include <errno.h>
#include <sys/epoll.h>
#include <unistd.h>

#include "httpserver/event_backend.h"

namespace storage {
namespace {

class EpollBackend final : public EventBackend {
 public:
  explicit EpollBackend(int epoll) : epoll_(epoll) {}
  ~EpollBackend() override { ::close(epoll_); }

  bool WatchListener(int fd) override { return Add(fd, EPOLLIN); }
  void UnwatchListener(int fd) override { ::epoll_ctl(epoll_, EPOLL_CTL_DEL, fd, nullptr); }
  bool WatchConnection(int fd) override { return Add(fd, EPOLLIN | EPOLLOUT | EPOLLET); }

  bool Wait(int timeoutMs, std::vector<Ready>& ready) override {
    ready.clear();
    const int n = ::epoll_wait(epoll_, events_, kEvents, timeoutMs);
    if (n < 0) return errno == EINTR;
    for (int i = 0; i < n; ++i) {
      const uint32_t what = events_[i].events;
      const bool trouble = (what & (EPOLLHUP | EPOLLERR)) != 0;
      ready.push_back(Ready{events_[i].data.fd, trouble || (what & EPOLLIN) != 0,
                            trouble || (what & EPOLLOUT) != 0});
    }
    return true;
  }

 private:
  static constexpr int kEvents = 256;

  bool Add(int fd, uint32_t events) {
    epoll_event event{};
    event.events = events;
    event.data.fd = fd;
    return ::epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &event) == 0;
  }

  int epoll_;
  epoll_event events_[kEvents];
};

}  // namespace

std::unique_ptr<EventBackend> EventBackend::Create(std::string& error) {
  const int epoll = ::epoll_create1(EPOLL_CLOEXEC);
  if (epoll < 0) {
    error = "event loop error: " + std::to_string(errno);
    return nullptr;
  }
  return std::make_unique<EpollBackend>(epoll);
}

}  // namespace storage
