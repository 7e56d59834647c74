// storage::SendQueue: the bytes a connection owes its peer, as a chain of blocks. Appending
// and sending are linear in the bytes moved however large the queue grows (no erase from the
// front of one long string). Blocks of the usual size come from a small pool of the network
// thread's and go back to it once sent, so a kept-alive connection's responses allocate
// nothing, and an idle connection holds no block. Not thread-safe; one connection owns it.
#pragma once

#include <cstddef>
#include <deque>
#include <memory>
#include <string_view>

namespace storage {

class SendQueue {
 public:
  // Pieces are gathered into blocks of about this size.
  static constexpr size_t kBlock = 65536;

  SendQueue() = default;
  SendQueue(const SendQueue&) = delete;
  SendQueue& operator=(const SendQueue&) = delete;
  ~SendQueue() { Clear(); }

  void Append(std::string_view bytes);
  // n writable bytes at the end, contiguous, counted as queued (their contents are not
  // set); Trim gives back what was not filled. A response head and its first body block
  // share one block, so both leave in one write.
  char* Extend(size_t n);
  void Trim(size_t n);
  // The first unsent bytes (empty when nothing waits).
  std::string_view Front() const;
  void Consume(size_t n);
  void Clear();

  size_t Size() const { return size_; }
  bool Empty() const { return size_ == 0; }

 private:
  struct Block {
    std::unique_ptr<char[]> data;
    size_t size = 0;
    size_t capacity = 0;
  };
  // Room for at least n more bytes at the end of the chain.
  Block& Room(size_t n);
  void PopFront();

  std::deque<Block> blocks_;
  size_t offset_ = 0;  // bytes of blocks_.front() already sent
  size_t size_ = 0;
};

}  // namespace storage
