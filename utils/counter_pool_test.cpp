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

// The pool is process-wide: every test here starts from "nothing in use" and gives back
// everything it takes, so the chunk counts below are exact.
class CounterPoolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(CounterPool::CountersInUse(), 0u);
    ASSERT_LE(CounterPool::ChunkCount(), 1u);
  }
  void TearDown() override {
    for (void* p : taken_) CounterPool::FreeCounter(p);
    EXPECT_EQ(CounterPool::CountersInUse(), 0u);
  }
  std::vector<void*> Take(size_t n) {
    std::vector<void*> out;
    for (size_t i = 0; i < n; ++i) {
      void* p = CounterPool::AllocateCounter();
      EXPECT_NE(p, nullptr);
      // Write all four bytes: a block that overlaps another or lies outside its chunk
      // shows up as a corrupted free list (and under ASan as an overflow).
      *static_cast<uint32_t*>(p) = 0xA5A5A5A5u;
      out.push_back(p);
    }
    return out;
  }
  void Give(std::vector<void*>& blocks, size_t from, size_t to) {
    for (size_t i = from; i < to; ++i) CounterPool::FreeCounter(blocks[i]);
    blocks.erase(blocks.begin() + from, blocks.begin() + to);
  }
  std::vector<void*> taken_;
};

TEST_F(CounterPoolTest, SecondChunkAfter4096AndGiveBackOfTheSecondEmptyOne) {
  taken_ = Take(kPerChunk + 1);
  std::set<uintptr_t> distinct;
  for (void* p : taken_) {
    EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 4, 0u);
    distinct.insert(reinterpret_cast<uintptr_t>(p));
  }
  EXPECT_EQ(distinct.size(), kPerChunk + 1);
  ASSERT_EQ(CounterPool::ChunkCount(), 2u);
  EXPECT_EQ(CounterPool::BlocksAvailable(0), 0u);
  EXPECT_EQ(CounterPool::BlocksAvailable(1), kPerChunk - 1);
  EXPECT_FALSE(CounterPool::HasEmptyChunk());

  // All of the first chunk back: it stays as the one empty chunk.
  Give(taken_, 0, kPerChunk);
  EXPECT_EQ(CounterPool::ChunkCount(), 2u);
  EXPECT_TRUE(CounterPool::HasEmptyChunk());
  EXPECT_EQ(CounterPool::BlocksAvailable(0), kPerChunk);

  // The second one empty too: one of the two goes back to the heap.
  Give(taken_, 0, 1);
  EXPECT_EQ(CounterPool::ChunkCount(), 1u);
  EXPECT_TRUE(CounterPool::HasEmptyChunk());
  EXPECT_EQ(CounterPool::BlocksAvailable(0), kPerChunk);

  // The kept chunk serves the next allocations without a new chunk.
  taken_ = Take(kPerChunk);
  EXPECT_EQ(CounterPool::ChunkCount(), 1u);
  EXPECT_FALSE(CounterPool::HasEmptyChunk());
}

TEST_F(CounterPoolTest, GiveBackMovesTheLastRecordIntoTheHole) {
  taken_ = Take(3 * kPerChunk);
  ASSERT_EQ(CounterPool::ChunkCount(), 3u);
  std::vector<void*> first(taken_.begin(), taken_.begin() + kPerChunk);
  std::vector<void*> middle(taken_.begin() + kPerChunk, taken_.begin() + 2 * kPerChunk);
  std::vector<void*> last(taken_.begin() + 2 * kPerChunk, taken_.end());
  taken_.clear();

  for (void* p : middle) CounterPool::FreeCounter(p);
  EXPECT_EQ(CounterPool::ChunkCount(), 3u);
  EXPECT_TRUE(CounterPool::HasEmptyChunk());

  // The first chunk empties while the middle is the empty chunk: the last record (still
  // full) moves into the middle's place and the middle's memory is freed.
  for (void* p : first) CounterPool::FreeCounter(p);
  ASSERT_EQ(CounterPool::ChunkCount(), 2u);
  EXPECT_EQ(CounterPool::BlocksAvailable(0), kPerChunk);
  EXPECT_EQ(CounterPool::BlocksAvailable(1), 0u);
  EXPECT_EQ(CounterPool::CountersInUse(), kPerChunk);

  // The moved chunk's blocks are still found and given back.
  std::mt19937 rng(7);
  std::shuffle(last.begin(), last.end(), rng);
  for (size_t i = 0; i < last.size(); ++i) {
    CounterPool::FreeCounter(last[i]);
    EXPECT_EQ(CounterPool::CountersInUse(), kPerChunk - i - 1);
  }
  EXPECT_EQ(CounterPool::ChunkCount(), 1u);
  EXPECT_TRUE(CounterPool::HasEmptyChunk());
}

TEST_F(CounterPoolTest, RandomOrderRoundTripsKeepAtMostOneEmptyChunk) {
  std::mt19937 rng(12345);
  for (int round = 0; round < 4; ++round) {
    std::vector<void*> blocks = Take(kPerChunk * 2 + 100 * round);
    std::shuffle(blocks.begin(), blocks.end(), rng);
    size_t inUse = blocks.size();
    for (void* p : blocks) {
      CounterPool::FreeCounter(p);
      --inUse;
      ASSERT_EQ(CounterPool::CountersInUse(), inUse);
      size_t empty = 0;
      for (size_t c = 0; c < CounterPool::ChunkCount(); ++c) {
        if (CounterPool::BlocksAvailable(c) == kPerChunk) ++empty;
      }
      ASSERT_LE(empty, 1u);
    }
    EXPECT_EQ(CounterPool::ChunkCount(), 1u);
  }
}

TEST_F(CounterPoolTest, ForeignAndNullBlocksAreIgnored) {
  taken_ = Take(3);
  uint32_t outside = 0;
  CounterPool::FreeCounter(&outside);
  CounterPool::FreeCounter(nullptr);
  EXPECT_EQ(CounterPool::CountersInUse(), 3u);
}

// A pointer that lives in static storage constructed before the pool (this namespace-scope
// object is built before main, the pool at the first counter), so at exit the pool is
// destroyed first and this release comes afterwards.
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
