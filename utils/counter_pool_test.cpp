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

// The pool is process-wide: every test starts from "nothing in use" and gives back
// everything it takes, so the chunk counts below are exact.
class CounterPoolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(CounterPool::CountersInUse(), 0u);
    ASSERT_LE(CounterPool::ChunkCount(), 1u);
  }
  void TearDown() override { EXPECT_EQ(CounterPool::CountersInUse(), 0u); }
  static std::vector<void*> Take(size_t n) {
    std::vector<void*> out;
    for (size_t i = 0; i < n; ++i) {
      void* p = CounterPool::AllocateCounter();
      // All four bytes written: overlapping blocks show up as a corrupted free list (and ASan).
      *static_cast<uint32_t*>(p) = 0xA5A5A5A5u;
      out.push_back(p);
    }
    return out;
  }
  static void Give(const std::vector<void*>& blocks, size_t from, size_t to) {
    for (size_t i = from; i < to; ++i) CounterPool::FreeCounter(blocks[i]);
  }
};

TEST_F(CounterPoolTest, SecondChunkAfter4096AndGiveBackOfTheSecondEmptyOne) {
  std::vector<void*> taken = Take(kPerChunk + 1);
  std::set<uintptr_t> distinct;
  for (void* p : taken) distinct.insert(reinterpret_cast<uintptr_t>(p));
  EXPECT_EQ(distinct.size(), kPerChunk + 1);
  ASSERT_EQ(CounterPool::ChunkCount(), 2u);
  EXPECT_EQ(CounterPool::BlocksAvailable(1), kPerChunk - 1);
  EXPECT_FALSE(CounterPool::HasEmptyChunk());
  uint32_t outside = 0;  // foreign and null blocks are ignored
  CounterPool::FreeCounter(&outside);
  CounterPool::FreeCounter(nullptr);
  EXPECT_EQ(CounterPool::CountersInUse(), kPerChunk + 1);

  Give(taken, 0, kPerChunk);  // the first chunk stays as the one empty chunk
  EXPECT_EQ(CounterPool::ChunkCount(), 2u);
  EXPECT_TRUE(CounterPool::HasEmptyChunk());
  Give(taken, kPerChunk, kPerChunk + 1);  // a second empty one goes back to the heap
  EXPECT_EQ(CounterPool::ChunkCount(), 1u);
  EXPECT_EQ(CounterPool::BlocksAvailable(0), kPerChunk);

  taken = Take(kPerChunk);  // the kept chunk serves without a new chunk
  EXPECT_EQ(CounterPool::ChunkCount(), 1u);
  Give(taken, 0, kPerChunk);
}

// Chunks emptied out of order move the last chunk into the hole; its blocks must still be found.
TEST_F(CounterPoolTest, RandomOrderRoundTripsKeepAtMostOneEmptyChunk) {
  std::mt19937 rng(12345);
  for (int round = 0; round < 3; ++round) {
    std::vector<void*> blocks = Take(kPerChunk * 2 + 100 * round);
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
