#include "testing/recording_relay.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "testing/test_client.h"

namespace storage::clients {

RecordingProxy::RecordingProxy(uint16_t upstreamPort) : upstream_(upstreamPort) {
  listener_ = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof(address);
  if (bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
      listen(listener_, 64) != 0 ||
      getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    return;
  }
  port_ = ntohs(address.sin_port);
  acceptor_ = std::thread([this] { AcceptLoop(); });
}

RecordingProxy::~RecordingProxy() {
  stop_ = true;
  if (acceptor_.joinable()) acceptor_.join();
  for (std::thread& t : threads_) t.join();
  if (listener_ >= 0) close(listener_);
}

std::vector<Exchange> RecordingProxy::Exchanges() const {
  std::lock_guard<std::mutex> hold(lock_);
  return exchanges_;
}

void RecordingProxy::AcceptLoop() {
  while (!stop_) {
    pollfd p = {listener_, POLLIN, 0};
    if (poll(&p, 1, 100) <= 0) continue;
    int client = accept(listener_, nullptr, nullptr);
    if (client < 0) continue;
    std::lock_guard<std::mutex> hold(lock_);
    exchanges_.emplace_back();
    threads_.emplace_back([this, client, slot = exchanges_.size() - 1] { Relay(client, slot); });
  }
}

void RecordingProxy::Relay(int client, size_t slot) {
  const int server = static_cast<int>(test::Connect(upstream_));
  std::string seen[2];  // the first bytes from the client and from the server
  char buffer[65536];
  while (server >= 0 && !stop_) {
    pollfd p[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
    if (poll(p, 2, 100) <= 0) continue;
    bool open = true;
    for (int from = 0; from < 2 && open; ++from) {
      if (!p[from].revents) continue;
      ssize_t n = recv(p[from].fd, buffer, sizeof(buffer), 0);
      for (ssize_t sent = 0, m = 0; open && sent < n; sent += m) {
        m = send(p[1 - from].fd, buffer + sent, static_cast<size_t>(n - sent), MSG_NOSIGNAL);
        open = m > 0;
      }
      open = open && n > 0;
      if (n > 0 && seen[from].find("\r\n\r\n") == std::string::npos) {
        seen[from].append(buffer, static_cast<size_t>(n));
        std::lock_guard<std::mutex> hold(lock_);
        exchanges_[slot] = {seen[0].substr(0, seen[0].find("\r\n\r\n")),
                            seen[1].substr(0, seen[1].find("\r\n\r\n"))};
      }
    }
    if (!open) break;
  }
  if (server >= 0) close(server);
  close(client);
}

}  // namespace storage::clients
