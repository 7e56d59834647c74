// A recording TCP relay for the browser tests: it sits between a real browser and the
// server and keeps the head of every request and of its response, persistent connections
// included (bodies are passed over by their "Content-Length"). POSIX sockets; one thread per
// connection.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace storage::clients {

struct Exchange {
  std::string request;       // request line and headers
  std::string responseHead;  // status line and headers ("" when none came)
};

class RecordingProxy {
 public:
  explicit RecordingProxy(uint16_t upstreamPort);
  ~RecordingProxy();

  uint16_t Port() const { return port_; }
  // The requests of finished and running connections, each connection's in their order,
  // connections in order of acceptance (a connection's later requests come after the
  // connections accepted before they were made).
  std::vector<Exchange> Exchanges() const;
  // The last request line and headers holding needle, waiting up to ms for one; "" when
  // none came.
  std::string WaitForRequest(const std::string& needle, int ms) const;

 private:
  void AcceptLoop();
  void Relay(int client, size_t slot);

  uint16_t upstream_, port_ = 0;
  int listener_ = -1;
  std::atomic<bool> stop_{false};
  mutable std::mutex lock_;
  std::vector<Exchange> exchanges_;
  std::vector<std::thread> threads_;
  std::thread acceptor_;
};

}  // namespace storage::clients
