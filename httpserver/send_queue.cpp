#include "httpserver/send_queue.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace storage {
namespace {

// A pooled block holds a head and a whole body block besides.
constexpr size_t kPooledCapacity = SendQueue::kBlock + 8192;
#ifdef _WIN32
// mingw-w64's thread_local objects with destructors crash some threads at their end, so
// Windows keeps no pool: every block is allocated and freed (the pool stays empty).
constexpr size_t kPoolSize = 0;

std::vector<std::unique_ptr<char[]>>& Pool() {
  static std::vector<std::unique_ptr<char[]>> none;
  return none;
}
#else
// Blocks kept for reuse by the thread's connections; beyond that, sent blocks are freed.
constexpr size_t kPoolSize = 16;

std::vector<std::unique_ptr<char[]>>& Pool() {
  thread_local std::vector<std::unique_ptr<char[]>> pool;
  return pool;
}
#endif

}  // namespace

SendQueue::Block& SendQueue::Room(size_t n) {
  if (!blocks_.empty()) {
    Block& last = blocks_.back();
    if (last.capacity - last.size >= n) return last;
    if (last.size < kBlock) {
      // A small last block grows, so what follows stays contiguous with it.
      const size_t capacity = std::max(last.size + n, kPooledCapacity);
      std::unique_ptr<char[]> grown(new char[capacity]);
      std::memcpy(grown.get(), last.data.get(), last.size);
      if (last.capacity == kPooledCapacity && Pool().size() < kPoolSize) {
        Pool().push_back(std::move(last.data));
      }
      last.data = std::move(grown);
      last.capacity = capacity;
      return last;
    }
  }
  Block block;
  if (n <= kPooledCapacity && !Pool().empty()) {
    block.data = std::move(Pool().back());
    Pool().pop_back();
    block.capacity = kPooledCapacity;
  } else {
    block.capacity = std::max(n, kPooledCapacity);
    block.data.reset(new char[block.capacity]);
  }
  blocks_.push_back(std::move(block));
  return blocks_.back();
}

void SendQueue::Append(std::string_view bytes) {
  if (bytes.empty()) return;
  Block& block = Room(bytes.size());
  std::memcpy(block.data.get() + block.size, bytes.data(), bytes.size());
  block.size += bytes.size();
  size_ += bytes.size();
}

char* SendQueue::Extend(size_t n) {
  static char none;
  if (n == 0) return &none;  // no empty block, which Front would show as nothing to send
  Block& block = Room(n);
  char* at = block.data.get() + block.size;
  block.size += n;
  size_ += n;
  return at;
}

void SendQueue::Trim(size_t n) {
  while (n != 0 && !blocks_.empty()) {
    Block& last = blocks_.back();
    const size_t keep = blocks_.size() == 1 ? offset_ : 0;
    const size_t cut = std::min(n, last.size - keep);
    last.size -= cut;
    size_ -= cut;
    n -= cut;
    if (last.size == keep) {
      if (blocks_.size() == 1) offset_ = 0;
      // PopFront and the back are the same block here only when one is left.
      if (blocks_.size() == 1) {
        PopFront();
      } else {
        Block gone = std::move(blocks_.back());
        blocks_.pop_back();
        if (gone.capacity == kPooledCapacity && Pool().size() < kPoolSize) {
          Pool().push_back(std::move(gone.data));
        }
      }
    }
    if (cut == 0) break;
  }
}

std::string_view SendQueue::Front() const {
  if (blocks_.empty()) return {};
  const Block& first = blocks_.front();
  return std::string_view(first.data.get() + offset_, first.size - offset_);
}

void SendQueue::PopFront() {
  Block& first = blocks_.front();
  if (first.capacity == kPooledCapacity && Pool().size() < kPoolSize) {
    Pool().push_back(std::move(first.data));
  }
  blocks_.pop_front();
}

void SendQueue::Consume(size_t n) {
  size_ -= n;
  offset_ += n;
  while (!blocks_.empty() && offset_ >= blocks_.front().size) {
    offset_ -= blocks_.front().size;
    PopFront();
  }
  if (blocks_.empty()) offset_ = 0;
}

void SendQueue::Clear() {
  while (!blocks_.empty()) PopFront();
  offset_ = size_ = 0;
}

}  // namespace storage
