#include "testing/recording_relay.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "testing/test_client.h"

namespace storage::clients {
namespace {

bool SendAll(int s, const char* data, size_t size) {
  while (size > 0) {
    ssize_t n = send(s, data, size, MSG_NOSIGNAL);
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

// The start of "Content-Range: bytes S-E/N" in a response head, 0 without one.
uint64_t RangeStart(const std::string& head) {
  size_t at = head.find("\r\nContent-Range: bytes ");
  if (at == std::string::npos) return 0;
  return std::strtoull(head.c_str() + at + 23, nullptr, 10);
}

}  // namespace

RecordingProxy::RecordingProxy(uint16_t upstreamPort, std::string prefix,
                               std::map<std::string, std::string> entries)
    : upstream_(upstreamPort), prefix_(std::move(prefix)), entries_(std::move(entries)) {
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
    size_t slot;
    {
      std::lock_guard<std::mutex> hold(lock_);
      slot = exchanges_.size();
      exchanges_.emplace_back();
    }
    threads_.emplace_back([this, client, slot] { Relay(client, slot); });
  }
}

const std::string* RecordingProxy::EntryOf(const std::string& request) const {
  size_t space = request.find(' ');
  if (space == std::string::npos) return nullptr;
  size_t end = request.find_first_of(" ?", space + 1);
  std::string path = request.substr(space + 1, end - space - 1);
  std::string lead = "/" + prefix_;
  if (path.rfind(lead, 0) != 0) return nullptr;
  auto found = entries_.find(path.substr(lead.size()));
  return found == entries_.end() ? nullptr : &found->second;
}

void RecordingProxy::Relay(int client, size_t slot) {
  int server = static_cast<int>(test::Connect(upstream_));
  std::string request, head;
  bool headDone = false;
  const std::string* entry = nullptr;
  uint64_t offset = 0;
  char buffer[65536];
  auto update = [&](bool matches) {
    std::lock_guard<std::mutex> hold(lock_);
    Exchange& e = exchanges_[slot];
    e.request = request.substr(0, request.find("\r\n\r\n"));
    e.responseHead = head.substr(0, head.find("\r\n\r\n"));
    e.bodyMatches = e.bodyMatches && matches;
  };
  while (server >= 0 && !stop_) {
    pollfd p[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
    if (poll(p, 2, 100) <= 0) continue;
    if (p[0].revents) {
      ssize_t n = recv(client, buffer, sizeof(buffer), 0);
      if (n <= 0) break;
      request.append(buffer, static_cast<size_t>(n));
      update(true);
      if (!SendAll(server, buffer, static_cast<size_t>(n))) break;
    }
    if (p[1].revents) {
      ssize_t n = recv(server, buffer, sizeof(buffer), 0);
      if (n <= 0) break;
      const char* body = buffer;
      size_t bodySize = static_cast<size_t>(n);
      if (!headDone) {
        size_t before = head.size();
        head.append(buffer, bodySize);
        size_t end = head.find("\r\n\r\n");
        if (end == std::string::npos) {
          bodySize = 0;
        } else {
          headDone = true;
          body = buffer + (end + 4 - before);
          bodySize = head.size() - end - 4;
          head.resize(end + 4);
          entry = EntryOf(request);
          offset = RangeStart(head);
        }
      }
      bool matches = !entry || bodySize == 0 ||
                     (offset + bodySize <= entry->size() &&
                      std::memcmp(entry->data() + offset, body, bodySize) == 0);
      offset += bodySize;
      update(matches);
      if (!SendAll(client, buffer, static_cast<size_t>(n))) break;
    }
  }
  if (server >= 0) close(server);
  close(client);
}

}  // namespace storage::clients
