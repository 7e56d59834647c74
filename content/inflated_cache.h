// InflatedCache: the inflated bytes of small deflated entries, kept between requests.
//
// Without it every request for a deflated script or style sheet inflates the entry again;
// with it a repeated request costs a copy from memory. Only entries up to kMaxEntry
// bytes are kept, at most kMaxTotal bytes in all; the least recently used go first.
// Large entries (video, big downloads) are never cached: they stream as before, in
// bounded memory. Network thread only, like the provider that owns it.
#pragma once

#include <cstdint>
#include <list>
#include <string>
#include <unordered_map>

#include "utils/read_stream.h"

namespace storage {

class InflatedCache {
 public:
  static constexpr uint64_t kMaxEntry = 1 << 20;
  static constexpr uint64_t kMaxTotal = 16 << 20;

  explicit InflatedCache(uint64_t maxEntry = kMaxEntry, uint64_t maxTotal = kMaxTotal)
      : maxEntry_(maxEntry), maxTotal_(maxTotal) {}

  // The bytes kept for key, or an empty pointer.
  utils::SharedPtr<utils::ByteVector> Find(const std::u16string& key);
  // Reads the whole stream; keeps and returns its bytes when it gives exactly size
  // bytes and size fits, else returns an empty pointer (the caller streams instead).
  utils::SharedPtr<utils::ByteVector> Fill(const std::u16string& key, utils::ReadStreamI& stream,
                                           uint64_t size);
  bool Accepts(uint64_t size) const { return size <= maxEntry_ && size <= maxTotal_; }
  uint64_t TotalBytes() const { return total_; }
  size_t Count() const { return entries_.size(); }

 private:
  struct Slot {
    utils::SharedPtr<utils::ByteVector> bytes;
    std::list<std::u16string>::iterator use;
  };

  uint64_t maxEntry_;
  uint64_t maxTotal_;
  uint64_t total_ = 0;
  std::list<std::u16string> uses_;  // most recent first
  std::unordered_map<std::u16string, Slot> entries_;
};

}  // namespace storage
