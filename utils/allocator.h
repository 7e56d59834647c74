// Memory allocator interface used by files and streams.
#pragma once

#include <cstddef>

namespace utils {

class Allocator {
 public:
  virtual ~Allocator() = default;
  // A block of size bytes, or null when none can be had.
  virtual void* Alloc(size_t size) = 0;
  virtual void Free(void* p) = 0;
  void FreeAndReset(void*& p) {
    Free(p);
    p = nullptr;
  }
  // Allocates newSize bytes, copies copySize bytes from old (when old is not null and
  // copySize is not 0), frees old and returns the new block. Throws ExhaustedException
  // ("Insufficient Memory", "Allocator::ReAlloc") when Alloc gives null.
  void* ReAlloc(void* old, size_t newSize, size_t copySize);
};

// Alloc/Free over the global operator new/delete (which throws std::bad_alloc itself).
class CPPAllocator : public Allocator {
 public:
  void* Alloc(size_t size) override;
  void Free(void* p) override;
};

}  // namespace utils
