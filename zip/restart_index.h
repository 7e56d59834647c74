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
// Network thread only, like the streams.
#pragma once

#include <cstdint>
#include <vector>

#include "utils/shared_ptr.h"

namespace amzip {

class RestartBudget {
 public:
  static constexpr uint64_t kDefaultCap = 64ull << 20;
  explicit RestartBudget(uint64_t cap = kDefaultCap) : left_(cap) {}
  // Takes bytes from what is left; false (nothing taken) when too little is left.
  bool Take(uint64_t bytes) {
    if (bytes > left_) return false;
    left_ -= bytes;
    return true;
  }
  void Give(uint64_t bytes) { left_ += bytes; }
  uint64_t Left() const { return left_; }

 private:
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
  // is fetched).
  bool Wants(uint64_t out) const {
    return out >= (points_.empty() ? kInterval : points_.back().out + kInterval);
  }
  // Keeps point when Wants(point.out) and the budget has room for its window.
  void Add(RestartPoint point) {
    if (!Wants(point.out) || !budget_ || !budget_->Take(point.window.size())) return;
    held_ += point.window.size();
    points_.push_back(std::move(point));
  }
  // The last point at or before out, or null (start from the entry's first byte).
  const RestartPoint* Before(uint64_t out) const {
    const RestartPoint* best = nullptr;
    for (const RestartPoint& p : points_) {
      if (p.out > out) break;
      best = &p;
    }
    return best;
  }
  size_t Count() const { return points_.size(); }

 private:
  utils::SharedPtr<RestartBudget> budget_;
  std::vector<RestartPoint> points_;
  uint64_t held_ = 0;
};

}  // namespace amzip
