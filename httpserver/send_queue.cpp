#include "httpserver/send_queue.h"

#include <algorithm>

namespace storage {

void SendQueue::Append(std::string_view bytes) {
  if (bytes.empty()) return;
  if (!blocks_.empty() && blocks_.back().size() + bytes.size() <= kBlock) {
    blocks_.back().append(bytes.data(), bytes.size());
  } else {
    blocks_.emplace_back(bytes);
  }
  size_ += bytes.size();
}

char* SendQueue::Extend(size_t n) {
  if (blocks_.empty() || blocks_.back().size() >= kBlock) blocks_.emplace_back();
  std::string& last = blocks_.back();
  const size_t at = last.size();
  last.resize(at + n);
  size_ += n;
  return last.data() + at;
}

void SendQueue::Trim(size_t n) {
  while (n != 0 && !blocks_.empty()) {
    std::string& last = blocks_.back();
    const size_t keep = blocks_.size() == 1 ? offset_ : 0;
    const size_t cut = std::min(n, last.size() - keep);
    last.resize(last.size() - cut);
    size_ -= cut;
    n -= cut;
    if (last.size() == keep) {
      blocks_.pop_back();
      if (blocks_.empty()) offset_ = 0;
    }
    if (cut == 0) break;
  }
}

std::string_view SendQueue::Front() const {
  if (blocks_.empty()) return {};
  return std::string_view(blocks_.front()).substr(offset_);
}

void SendQueue::Consume(size_t n) {
  size_ -= n;
  offset_ += n;
  while (!blocks_.empty() && offset_ >= blocks_.front().size()) {
    offset_ -= blocks_.front().size();
    blocks_.pop_front();
  }
  if (blocks_.empty()) offset_ = 0;
}

void SendQueue::Clear() {
  blocks_.clear();
  offset_ = size_ = 0;
}

}  // namespace storage
