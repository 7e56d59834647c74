#include "httpserver/network_thread.h"

namespace storage {
namespace {

constexpr int kPortPicks = 8;

void CloseAll(std::vector<SocketId>& sockets) {
  for (SocketId s : sockets) SocketClose(s);
  sockets.clear();
}

}  // namespace

bool OpenListeners(unsigned port, bool listenAny, std::vector<SocketId>& sockets,
                   unsigned& bound, std::string& error) {
  const AddressFamily order[] = {AddressFamily::kIPv4, AddressFamily::kIPv6};
  for (int pick = 0; pick < kPortPicks; ++pick) {
    CloseAll(sockets);
    unsigned chosen = port;
    bool failed = false;
    bool retry = false;
    for (AddressFamily family : order) {
      bool unavailable = false;
      SocketId s = SocketListen(family, listenAny, chosen, error, unavailable);
      if (s == kInvalidSocket) {
        if (unavailable) continue;
        failed = true;
        // The port the system picked for the first family is taken in this one.
        retry = port == 0 && !sockets.empty();
        break;
      }
      if (chosen == 0) chosen = SocketLocalPort(s);
      sockets.push_back(s);
    }
    if (retry) continue;
    if (failed || sockets.empty()) break;
    bound = chosen;
    error.clear();
    return true;
  }
  CloseAll(sockets);
  return false;
}

std::string ServerUrl(unsigned port) { return "http://localhost:" + std::to_string(port) + "/"; }

bool AcceptPending(ConnectionTable& table, SocketId listener,
                   const std::function<bool(SocketId)>& enroll) {
  bool shedForDescriptor = false;
  for (;;) {
    // Room is made only for a connection that is there: making it first would close the
    // newest arrival (collecting, nothing received yet) for one that never comes.
    if (!table.CanMakeRoom()) return false;
    bool outOfDescriptors = false;
    SocketId s = SocketAccept(listener, outOfDescriptors);
    if (s == kInvalidSocket) {
      if (!outOfDescriptors) return true;  // nothing more waits
      // Descriptors went to something else than connections: one connection makes room,
      // once; if that does not help, wait for the next tick.
      if (shedForDescriptor || !table.ShedOne()) return false;
      shedForDescriptor = true;
      continue;
    }
    shedForDescriptor = false;
    if (!table.MakeRoom()) {  // nothing changed since CanMakeRoom: not expected
      SocketClose(s);
      return false;
    }
    if (!enroll(s)) {
      SocketClose(s);
      continue;
    }
    table.Add(s);
  }
}

}  // namespace storage
