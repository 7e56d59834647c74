#include "utils/counter_pool.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <set>
#include <vector>

#include "utils/shared_ptr.h"

namespace utils {
namespace {

constexpr size_t kPerChunk = 4096;

// The pool is process-wide: nothing else is in use here, so the chunk counts are exact.
// Chunks emptied out of order move the last chunk into the hole; its blocks must still be
// found, and at most one empty chunk is kept (and used again) at any time.
TEST(CounterPool, RandomOrderRoundTripsKeepAtMostOneEmptyChunk) {
  ASSERT_EQ(CounterPool::CountersInUse(), 0u);
  ASSERT_LE(CounterPool::ChunkCount(), 1u);
  std::mt19937 rng(12345);
  for (size_t round = 0; round < 3; ++round) {
    std::vector<void*> blocks;
    for (size_t i = 0; i < kPerChunk * 2 + 100 * round; ++i) {
      blocks.push_back(CounterPool::AllocateCounter());
      // All four bytes written: overlapping blocks show up as a corrupted free list (and ASan).
      *static_cast<uint32_t*>(blocks.back()) = 0xA5A5A5A5u;
    }
    EXPECT_EQ(std::set<void*>(blocks.begin(), blocks.end()).size(), blocks.size());
    EXPECT_EQ(CounterPool::ChunkCount(), round == 0 ? 2u : 3u);
    EXPECT_FALSE(CounterPool::HasEmptyChunk());
    uint32_t outside = 0;  // foreign and null blocks are ignored
    CounterPool::FreeCounter(&outside);
    CounterPool::FreeCounter(nullptr);
    std::shuffle(blocks.begin(), blocks.end(), rng);
    for (size_t i = 0; i < blocks.size(); ++i) {
      CounterPool::FreeCounter(blocks[i]);
      ASSERT_EQ(CounterPool::CountersInUse(), blocks.size() - i - 1);
      size_t empty = 0;
      for (size_t c = 0; c < CounterPool::ChunkCount(); ++c)
        empty += CounterPool::BlocksAvailable(c) == kPerChunk;
      ASSERT_LE(empty, 1u);
    }
    EXPECT_EQ(CounterPool::ChunkCount(), 1u);
  }
}

// Built before the pool (made at the first counter), so destroyed after it: a late release.
struct LateRelease {
  SharedPtr<int> held;
  ~LateRelease() {
    held.Reset();
    std::fputs("late release done\n", stderr);
  }
};
LateRelease g_lateRelease;

TEST(CounterPoolDeathTest, ReleaseAfterThePoolIsDestroyedDoesNothing) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        g_lateRelease.held = SharedPtr<int>(new int(5));
        std::exit(0);
      },
      ::testing::ExitedWithCode(0), "late release done");
}

}  // namespace
}  // namespace utils
