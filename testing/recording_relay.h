// A recording TCP relay for the browser tests: it sits between a real browser and the
// server, keeps each connection's request head and response head, and checks every body
// byte that passes against the entry it claims to be (offset from "Content-Range").
// POSIX sockets; one thread per connection.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace storage::clients {

struct Exchange {
  std::string request;       // request line and headers
  std::string responseHead;  // status line and headers ("" when none came)
  bool bodyMatches = true;   // every relayed body byte equals the entry's byte
};

class RecordingProxy {
 public:
  // entries: request path (without the leading "/" and prefix) -> expected bytes.
  RecordingProxy(uint16_t upstreamPort, std::string prefix,
                 std::map<std::string, std::string> entries);
  ~RecordingProxy();

  uint16_t Port() const { return port_; }
  // Finished and running connections, in order of acceptance.
  std::vector<Exchange> Exchanges() const;

 private:
  void AcceptLoop();
  void Relay(int client, size_t slot);
  const std::string* EntryOf(const std::string& request) const;

  uint16_t upstream_, port_ = 0;
  std::string prefix_;
  std::map<std::string, std::string> entries_;
  int listener_ = -1;
  std::atomic<bool> stop_{false};
  mutable std::mutex lock_;
  std::vector<Exchange> exchanges_;
  std::vector<std::thread> threads_;
  std::thread acceptor_;
};

}  // namespace storage::clients
