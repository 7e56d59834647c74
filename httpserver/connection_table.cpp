#include "httpserver/connection_table.h"

#include <algorithm>

namespace storage {

void ConnectionTable::Configure(const ConnectionLimits& limits, size_t platformCap) {
  context_.limits = limits;
  if (context_.limits.maxConnections == 0) context_.limits.maxConnections = platformCap;
}

bool ConnectionTable::MakeRoom() {
  return handlers_.size() < context_.limits.maxConnections || ShedOne();
}

bool ConnectionTable::CanMakeRoom() const {
  return handlers_.size() < context_.limits.maxConnections || Victim() != kInvalidSocket;
}

bool ConnectionTable::ShedOne() {
  const SocketId victim = Victim();
  if (victim == kInvalidSocket) return false;
  Erase(victim);
  return true;
}

SocketId ConnectionTable::Victim() const {
  SocketId victim = kInvalidSocket;
  int bestRank = 0;
  SocketHandler::Clock::time_point bestSince;
  for (const auto& [socket, handler] : handlers_) {
    int rank = 0;
    SocketHandler::Clock::time_point since;
    if (!handler->Sheddable(rank, since)) continue;
    if (victim == kInvalidSocket || rank < bestRank || (rank == bestRank && since < bestSince)) {
      victim = socket;
      bestRank = rank;
      bestSince = since;
    }
  }
  return victim;
}

void ConnectionTable::Add(SocketId socket) {
  auto& slot = handlers_[socket];
  if (!slot) slot = std::make_unique<SocketHandler>(socket, owner_, &context_);
}

void ConnectionTable::Dispatch(SocketId socket, bool peerClosed) {
  auto it = handlers_.find(socket);
  if (it == handlers_.end()) return;
  SocketHandler* handler = it->second.get();
  After(socket, handler, peerClosed ? handler->OnPeerClosed() : handler->OnReady());
}

void ConnectionTable::RunTurns() {
  std::vector<SocketId> due;
  due.swap(turns_);
  std::sort(due.begin(), due.end());
  due.erase(std::unique(due.begin(), due.end()), due.end());
  for (SocketId socket : due) {
    auto it = handlers_.find(socket);
    if (it == handlers_.end() || !it->second->WantsTurn()) continue;
    After(socket, it->second.get(), it->second->OnReady());
  }
}

void ConnectionTable::Tick() {
  const auto now = SocketHandler::Clock::now();
  std::vector<SocketId> sockets;
  sockets.reserve(handlers_.size());
  for (const auto& entry : handlers_) sockets.push_back(entry.first);
  // A tick may send (408, a ping), and a send may end the connection: look each one up.
  for (SocketId socket : sockets) {
    auto it = handlers_.find(socket);
    if (it != handlers_.end()) After(socket, it->second.get(), it->second->OnTick(now));
  }
}

void ConnectionTable::After(SocketId socket, SocketHandler* handler, bool alive) {
  Settle(socket, handler, alive);
  // Many clients each sending a header block just under the per-connection limit would
  // together hold far more: past the budget, the oldest unfinished one is refused.
  while (context_.headerBytes > context_.limits.headerMemory) {
    SocketId victim = kInvalidSocket;
    SocketHandler::Clock::time_point oldest;
    for (const auto& [s, h] : handlers_) {
      SocketHandler::Clock::time_point since;
      if (h->Collecting(since) && (victim == kInvalidSocket || since < oldest)) {
        victim = s;
        oldest = since;
      }
    }
    if (victim == kInvalidSocket) break;
    SocketHandler* refused = handlers_[victim].get();
    Settle(victim, refused, refused->RefuseOversized());
  }
}

void ConnectionTable::Settle(SocketId socket, SocketHandler* handler, bool alive) {
  if (!alive) {
    Erase(socket);
  } else if (handler->WantsTurn()) {
    turns_.push_back(socket);
  }
}

void ConnectionTable::Erase(SocketId socket) {
  auto it = handlers_.find(socket);
  if (it == handlers_.end()) return;
  std::unique_ptr<SocketHandler> doomed = std::move(it->second);
  handlers_.erase(it);
}

void ConnectionTable::CloseAll() {
  std::map<SocketId, std::unique_ptr<SocketHandler>> doomed;
  doomed.swap(handlers_);
  turns_.clear();
}

}  // namespace storage
