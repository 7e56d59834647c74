#include "testing/recording_relay.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>

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

std::string RecordingProxy::WaitForRequest(const std::string& needle, int ms) const {
  std::string found;
  test::WaitUntil(
      [&] {
        for (const Exchange& e : Exchanges())
          if (e.request.find(needle) != std::string::npos) found = e.request;
        return !found.empty();
      },
      ms);
  return found;
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

namespace {

// Cuts one direction of a persistent connection into message heads: each head ends with a
// blank line, and the "Content-Length" bytes behind it are passed over.
struct HeadSplitter {
  std::string pending;
  uint64_t skip = 0;

  template <typename OnHead>
  void Feed(const char* data, size_t size, OnHead onHead) {
    while (size != 0) {
      if (skip != 0) {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(skip, size));
        skip -= n;
        data += n;
        size -= n;
        continue;
      }
      const size_t before = pending.size();
      pending.append(data, size);
      const size_t end = pending.find("\r\n\r\n", before < 3 ? 0 : before - 3);
      if (end == std::string::npos) return;
      const std::string head = pending.substr(0, end);
      const size_t used = end + 4 - before;
      data += used;
      size -= used;
      pending.clear();
      const size_t at = head.find("\r\nContent-Length: ");
      if (at != std::string::npos) skip = std::strtoull(head.c_str() + at + 18, nullptr, 10);
      onHead(head);
    }
  }
};

}  // namespace

void RecordingProxy::Relay(int client, size_t slot) {
  const int server = static_cast<int>(test::Connect(upstream_));
  // Requests and responses on this connection, in order: the first request takes the slot
  // made when the connection was accepted, later ones get slots of their own.
  HeadSplitter split[2];
  std::vector<size_t> slots;
  size_t answered = 0;
  const auto onRequest = [&](const std::string& head) {
    std::lock_guard<std::mutex> hold(lock_);
    if (!slots.empty()) {
      exchanges_.emplace_back();
      slot = exchanges_.size() - 1;
    }
    slots.push_back(slot);
    exchanges_[slot].request = head;
  };
  const auto onResponse = [&](const std::string& head) {
    std::lock_guard<std::mutex> hold(lock_);
    if (answered < slots.size()) exchanges_[slots[answered++]].responseHead = head;
  };
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
      if (n > 0) {
        if (from == 0) {
          split[0].Feed(buffer, static_cast<size_t>(n), onRequest);
        } else {
          split[1].Feed(buffer, static_cast<size_t>(n), onResponse);
        }
      }
    }
    if (!open) break;
  }
  if (server >= 0) close(server);
  close(client);
}

}  // namespace storage::clients
