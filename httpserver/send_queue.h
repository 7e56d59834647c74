// storage::SendQueue: the bytes a connection owes its peer, as a chain of blocks. Appending
// and sending are linear in the bytes moved however large the queue grows (no erase from the
// front of one long string). Not thread-safe; one connection owns it.
#pragma once

#include <cstddef>
#include <deque>
#include <string>
#include <string_view>

namespace storage {

class SendQueue {
 public:
  // Pieces are gathered into blocks of about this size.
  static constexpr size_t kBlock = 65536;

  void Append(std::string_view bytes);
  // n writable bytes at the end, contiguous, counted as queued; Trim gives back what was not
  // filled. A small last block grows, so a response head and its first body block leave in
  // one write.
  char* Extend(size_t n);
  void Trim(size_t n);
  // The first unsent bytes (empty when nothing waits).
  std::string_view Front() const;
  void Consume(size_t n);
  void Clear();

  size_t Size() const { return size_; }
  bool Empty() const { return size_ == 0; }

 private:
  std::deque<std::string> blocks_;
  size_t offset_ = 0;  // bytes of blocks_.front() already sent
  size_t size_ = 0;
};

}  // namespace storage
