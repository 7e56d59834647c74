// amzip::RestartIndex: places inside one deflated entry where inflation can start again
// without going back to the entry's first byte.
//
// A point is taken at a deflate block boundary, at least kInterval bytes of output after
// the one before: its input and output offsets, the bits of the input byte before it
// that belong to the next block, and the last 32 KiB of output (the window the next
// block may refer back to). A seek then costs at most one interval of inflation. The
// entry streams of one entry share its index, so the second range request profits from
// the first. Every index of an archive draws on one RestartBudget, which caps the
// memory all windows together take; when it is spent, no more points are kept.
//
// Threads: budget and index lock themselves, so the network thread's streams and the
// background indexer (restart_indexer.h) share them. Points are only ever added, never
// moved or removed while the index lives: a point returned by Before stays valid and
// unchanged as long as the index.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "utils/shared_ptr.h"

namespace amzip {

class RestartBudget {
 public:
  static constexpr uint64_t kDefaultCap = 64ull << 20;
  explicit RestartBudget(uint64_t cap = kDefaultCap) : left_(cap) {}
  // Takes bytes from what is left; false (nothing taken) when too little is left.
  bool Take(uint64_t bytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (bytes > left_) return false;
    left_ -= bytes;
    return true;
  }
  void Give(uint64_t bytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    left_ += bytes;
  }
  uint64_t Left() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return left_;
  }

 private:
  mutable std::mutex mutex_;
  uint64_t left_;
};

struct RestartPoint {
  uint64_t in = 0;   // compressed bytes before the point
  uint64_t out = 0;  // uncompressed bytes before the point
  int bits = 0;      // bits of the byte at in - 1 not yet used (0 to 7)
  std::vector<uint8_t> window;
};

class RestartIndex {
 public:
  static constexpr uint64_t kInterval = 1ull << 20;

  explicit RestartIndex(utils::SharedPtr<RestartBudget> budget) : budget_(std::move(budget)) {}
  ~RestartIndex() {
    if (budget_) budget_->Give(held_);
  }
  RestartIndex(const RestartIndex&) = delete;
  RestartIndex& operator=(const RestartIndex&) = delete;

  // Whether a point at output offset out would be kept (a cheap test before the window
  // is fetched): no kept point lies less than an interval before it.
  bool Wants(uint64_t out) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return WantsLocked(out);
  }
  // Keeps point, in output order, when Wants(point.out) and the budget has room for its
  // window.
  void Add(RestartPoint point) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!WantsLocked(point.out) || !budget_ || !budget_->Take(point.window.size())) return;
    held_ += point.window.size();
    auto at = std::upper_bound(points_.begin(), points_.end(), point.out,
                               [](uint64_t out, const auto& p) { return out < p->out; });
    points_.insert(at, std::make_unique<RestartPoint>(std::move(point)));
  }
  // The last point at or before out, or null (start from the entry's first byte).
  const RestartPoint* Before(uint64_t out) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return BeforeLocked(out);
  }
  size_t Count() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return points_.size();
  }

 private:
  const RestartPoint* BeforeLocked(uint64_t out) const {
    auto at = std::upper_bound(points_.begin(), points_.end(), out,
                               [](uint64_t o, const auto& p) { return o < p->out; });
    return at == points_.begin() ? nullptr : at[-1].get();
  }
  bool WantsLocked(uint64_t out) const {
    const RestartPoint* before = BeforeLocked(out);
    return out >= (before ? before->out : 0) + kInterval;
  }

  mutable std::mutex mutex_;
  utils::SharedPtr<RestartBudget> budget_;
  std::vector<std::unique_ptr<RestartPoint>> points_;  // by output offset
  uint64_t held_ = 0;
};

}  // namespace amzip
