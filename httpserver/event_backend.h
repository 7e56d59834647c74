// storage::EventBackend: the readiness mechanism under the POSIX network thread. Linux
// uses epoll (event_backend_epoll.cpp), the one backend built and tested today; another
// POSIX system adds its own file (kqueue with EV_CLEAR, say) and changes nothing else.
//
// Contract: listeners and the wake descriptor are reported while they are readable.
// Connections are reported edge-wise: after a receive or send on one has met
// would-block, the backend reports it again once it may have become ready in that
// direction (a poll(2) backend keeps that promise by watching both directions and
// reporting a connection after each change it sees). Closing a descriptor removes it.
// Network thread only.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace storage {

class EventBackend {
 public:
  struct Ready {
    int fd;
    bool readable;  // also set on hang-up and error, which the next receive reveals
    bool writable;
  };

  // Null with error set when the mechanism cannot be set up.
  static std::unique_ptr<EventBackend> Create(std::string& error);
  virtual ~EventBackend() = default;

  virtual bool WatchListener(int fd) = 0;
  virtual void UnwatchListener(int fd) = 0;
  virtual bool WatchConnection(int fd) = 0;
  // Waits up to timeoutMs (0: just looks) and replaces ready with what was reported;
  // false on a failure other than an interruption.
  virtual bool Wait(int timeoutMs, std::vector<Ready>& ready) = 0;
};

}  // namespace storage
