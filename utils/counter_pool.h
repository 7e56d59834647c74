// The process-wide pool of 4-byte reference counters behind SharedPtr.
//
// Counters are carved from 16 KiB chunks (4096 counters each); the free blocks of a
// chunk form a list through their own first two bytes. At most one entirely free chunk
// is kept. The pool and its lock are created on first use; after the pool is destroyed
// at process exit, FreeCounter does nothing. All operations hold the pool's lock.
#pragma once

#include <cstddef>
#include <cstdint>

namespace utils {

class CounterPool {
 public:
  // A 4-byte block, or null when memory is exhausted.
  static void* AllocateCounter();
  static void FreeCounter(void* block);

  // Introspection for tests: number of chunks, and blocks free in chunk i.
  static size_t ChunkCount();
  static size_t BlocksAvailable(size_t chunk);
  static bool HasEmptyChunk();
  // Counters handed out and not yet given back, over all chunks.
  static size_t CountersInUse();
};

}  // namespace utils
