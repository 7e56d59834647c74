#include "content/inflated_cache.h"

namespace storage {

utils::SharedPtr<utils::ByteVector> InflatedCache::Find(const std::u16string& key) {
  auto it = entries_.find(key);
  if (it == entries_.end()) return {};
  uses_.splice(uses_.begin(), uses_, it->second.use);
  return it->second.bytes;
}

utils::SharedPtr<utils::ByteVector> InflatedCache::Fill(const std::u16string& key,
                                                        utils::ReadStreamI& stream, uint64_t size) {
  if (!Accepts(size)) return {};
  utils::SharedPtr<utils::ByteVector> bytes(new utils::ByteVector(size));
  uint64_t done = 0;
  while (done < size) {
    uint32_t got = 0;
    uint64_t want = size - done;
    if (!stream.Read(bytes->data() + done, static_cast<uint32_t>(want), got) || got == 0) break;
    done += got;
  }
  // A short or corrupt entry is not kept: the caller streams it and the client sees what
  // the archive gives, as without the cache.
  uint8_t extra = 0;
  if (done != size || stream.Read(&extra, 1) != 0) return {};

  auto old = entries_.find(key);
  if (old != entries_.end()) {
    total_ -= old->second.bytes->size();
    uses_.erase(old->second.use);
    entries_.erase(old);
  }
  while (total_ + size > maxTotal_ && !uses_.empty()) {
    auto victim = entries_.find(uses_.back());
    total_ -= victim->second.bytes->size();
    entries_.erase(victim);
    uses_.pop_back();
  }
  uses_.push_front(key);
  entries_[key] = Slot{bytes, uses_.begin()};
  total_ += size;
  return bytes;
}

}  // namespace storage
