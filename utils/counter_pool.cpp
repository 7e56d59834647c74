#include "utils/counter_pool.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>

#include "utils/lock.h"

namespace utils {
namespace {

constexpr size_t kBlockSize = 4;
constexpr size_t kChunkBytes = 16384;
constexpr size_t kBlocksPerChunk = [] {
  size_t n = kChunkBytes / kBlockSize;
  if (n < 8) n = 8;
  if (n > 65535) n = 65535;
  return n;
}();
constexpr size_t kNone = static_cast<size_t>(-1);

struct Chunk {
  uint8_t* memory;
  uint16_t firstAvailable;
  uint16_t blocksAvailable;
};

// Fixed-size block allocator over 16 KiB chunks. Chunk records live in a plain growable
// array (malloc/realloc) and are referred to by index, so growing the array never
// invalidates allocChunk/deallocChunk/emptyChunk.
class Pool {
 public:
  ~Pool();
  void* Allocate();
  void Free(void* block);

  size_t count = 0;
  size_t capacity = 0;
  Chunk* chunks = nullptr;
  size_t allocChunk = kNone;
  size_t deallocChunk = kNone;
  size_t emptyChunk = kNone;

 private:
  static void* Take(Chunk& chunk);
  bool AddChunk();
  void GiveBackOneChunk();
};

// Set by the pool's destructor at exit. Constant-initialised and trivially destructible,
// so it is readable by every static destructor that runs after the pool's.
std::atomic<bool> g_destroyed{false};
Chunk* g_keptChunks = nullptr;

// The lock is created on first use and never destroyed: a release racing with exit
// must still find a valid lock.
Lock& PoolLock() {
  static Lock* lock = new Lock;
  return *lock;
}

Pool& ThePool() {
  static Pool pool;
  return pool;
}

// Chunks that still hold counters stay allocated: objects in static storage that are
// destroyed after the pool (or threads still running at exit) decrement their counter in
// place before they call FreeCounter, and must not write into freed memory. The
// process is ending, so only the memory of entirely free chunks is worth returning.
Pool::~Pool() {
  LockGuard guard(PoolLock());
  size_t kept = 0;
  for (size_t i = 0; i < count; ++i) {
    if (chunks[i].blocksAvailable == kBlocksPerChunk) {
      std::free(chunks[i].memory);
    } else {
      chunks[kept++] = chunks[i];
    }
  }
  if (kept == 0) {
    std::free(chunks);
  } else {
    g_keptChunks = chunks;  // still reachable, so leak checkers see no leak
  }
  chunks = nullptr;
  count = capacity = 0;
  allocChunk = deallocChunk = emptyChunk = kNone;
  g_destroyed.store(true);
}

void* Pool::Take(Chunk& chunk) {
  uint8_t* block = chunk.memory + size_t{chunk.firstAvailable} * kBlockSize;
  uint16_t next;
  std::memcpy(&next, block, sizeof next);
  chunk.firstAvailable = next;
  --chunk.blocksAvailable;
  return block;
}

bool Pool::AddChunk() {
  if (count == capacity) {
    size_t newCapacity = capacity ? capacity * 2 : 8;
    void* grown = std::realloc(chunks, newCapacity * sizeof(Chunk));
    if (!grown) return false;
    chunks = static_cast<Chunk*>(grown);
    capacity = newCapacity;
  }
  auto* memory = static_cast<uint8_t*>(std::malloc(kBlocksPerChunk * kBlockSize));
  if (!memory) return false;
  for (size_t i = 0; i < kBlocksPerChunk; ++i) {
    uint16_t next = static_cast<uint16_t>(i + 1);
    std::memcpy(memory + i * kBlockSize, &next, sizeof next);
  }
  chunks[count] = Chunk{memory, 0, static_cast<uint16_t>(kBlocksPerChunk)};
  allocChunk = count++;
  deallocChunk = 0;
  return true;
}

void* Pool::Allocate() {
  if (allocChunk == kNone || chunks[allocChunk].blocksAvailable == 0) {
    if (emptyChunk != kNone) {
      allocChunk = emptyChunk;
      emptyChunk = kNone;
    } else {
      allocChunk = kNone;
      for (size_t i = 0; i < count; ++i) {
        if (chunks[i].blocksAvailable) {
          allocChunk = i;
          break;
        }
      }
      if (allocChunk == kNone && !AddChunk()) return nullptr;
    }
  }
  if (allocChunk == emptyChunk) emptyChunk = kNone;
  return Take(chunks[allocChunk]);
}

void Pool::Free(void* block) {
  if (count == 0) return;
  auto* p = static_cast<uint8_t*>(block);
  auto holds = [&](size_t i) {
    return chunks[i].memory <= p && p < chunks[i].memory + kBlocksPerChunk * kBlockSize;
  };
  // Vicinity search: releases tend to hit the chunk of the previous release or its
  // neighbours, so walk outwards from there in both directions at once.
  size_t start = deallocChunk == kNone || deallocChunk >= count ? 0 : deallocChunk;
  size_t found = kNone;
  size_t lo = start, hi = start + 1;
  bool loDone = false;
  while (found == kNone && (!loDone || hi < count)) {
    if (!loDone) {
      if (holds(lo)) {
        found = lo;
        break;
      }
      if (lo == 0)
        loDone = true;
      else
        --lo;
    }
    if (hi < count) {
      if (holds(hi)) {
        found = hi;
        break;
      }
      ++hi;
    }
  }
  if (found == kNone) return;

  deallocChunk = found;
  Chunk& chunk = chunks[found];
  size_t index = static_cast<size_t>(p - chunk.memory) / kBlockSize;
  std::memcpy(p, &chunk.firstAvailable, sizeof chunk.firstAvailable);
  chunk.firstAvailable = static_cast<uint16_t>(index);
  ++chunk.blocksAvailable;
  if (chunk.blocksAvailable != kBlocksPerChunk) return;

  if (emptyChunk != kNone) GiveBackOneChunk();
  emptyChunk = deallocChunk;
}

// Two chunks are entirely free (emptyChunk and deallocChunk): free the memory of one of
// them, always taking the last record so the array stays dense.
void Pool::GiveBackOneChunk() {
  size_t last = count - 1;
  if (last == deallocChunk) {
    deallocChunk = emptyChunk;
  } else if (last != emptyChunk) {
    Chunk tmp = chunks[emptyChunk];
    chunks[emptyChunk] = chunks[last];
    chunks[last] = tmp;
  }
  std::free(chunks[last].memory);
  --count;
  if (allocChunk == last || allocChunk == kNone || chunks[allocChunk].blocksAvailable == 0) {
    allocChunk = deallocChunk;
  }
}

}  // namespace

void* CounterPool::AllocateCounter() {
  if (g_destroyed.load()) {
    // Static destructors running after the pool's: hand out a plain heap block, which
    // FreeCounter will leave alone (the process is ending).
    return ::operator new(kBlockSize, std::nothrow);
  }
  Pool& pool = ThePool();
  LockGuard guard(PoolLock());
  return pool.Allocate();
}

void CounterPool::FreeCounter(void* block) {
  if (!block || g_destroyed.load()) return;
  Pool& pool = ThePool();
  LockGuard guard(PoolLock());
  if (g_destroyed.load()) return;
  pool.Free(block);
}

size_t CounterPool::ChunkCount() {
  Pool& pool = ThePool();
  LockGuard guard(PoolLock());
  return pool.count;
}

size_t CounterPool::BlocksAvailable(size_t chunk) {
  Pool& pool = ThePool();
  LockGuard guard(PoolLock());
  return chunk < pool.count ? pool.chunks[chunk].blocksAvailable : 0;
}

bool CounterPool::HasEmptyChunk() {
  Pool& pool = ThePool();
  LockGuard guard(PoolLock());
  return pool.emptyChunk != kNone;
}

size_t CounterPool::CountersInUse() {
  Pool& pool = ThePool();
  LockGuard guard(PoolLock());
  size_t used = 0;
  for (size_t i = 0; i < pool.count; ++i) used += kBlocksPerChunk - pool.chunks[i].blocksAvailable;
  return used;
}

}  // namespace utils
