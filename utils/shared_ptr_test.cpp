#include "utils/shared_ptr.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <string>
#include <vector>

#include "utils/counter_pool.h"

#ifndef _WIN32
#include <thread>
#endif

namespace utils {
namespace {

struct Tracked {
  explicit Tracked(std::atomic<int>* destroyed) : destroyed(destroyed) {}
  virtual ~Tracked() { ++*destroyed; }
  std::atomic<int>* destroyed;
};
struct Derived : Tracked {
  using Tracked::Tracked;
  ~Derived() override { *destroyed += 10; }
};

TEST(SharedPtr, CopiesAssignmentAndConversionDestroyOnce) {
  std::atomic<int> destroyedA{0}, destroyedB{0};
  size_t before = CounterPool::CountersInUse();
  SharedPtr<std::string> empty(nullptr), emptyCopy = empty;  // null takes no counter
  EXPECT_EQ(CounterPool::CountersInUse(), before);
  EXPECT_EQ(emptyCopy.UseCount(), 0u);
  EXPECT_THROW((void)emptyCopy->size(), std::domain_error);
  EXPECT_THROW((void)*emptyCopy, std::domain_error);
  {
    SharedPtr<Tracked> a(new Tracked(&destroyedA));
    EXPECT_EQ(CounterPool::CountersInUse(), before + 1);
    SharedPtr<Derived> d(new Derived(&destroyedB));
    SharedPtr<Tracked> converted = d;
    SharedPtr<Tracked> b(converted);
    a = b;  // releases the old object first
    EXPECT_EQ(destroyedA, 1);
    a = a;  // self-assignment changes nothing
    EXPECT_EQ(a.UseCount(), 4u);
    SharedPtr<Tracked> moved = std::move(a);
    EXPECT_FALSE(a);
    EXPECT_EQ(moved.UseCount(), 4u);
    d.Reset();
    converted.Reset();
    b.Reset();
    EXPECT_EQ(destroyedB, 0);
    EXPECT_EQ(moved.UseCount(), 1u);
  }
  EXPECT_EQ(destroyedB, 11) << "destroyed once, through the virtual destructor";
  EXPECT_EQ(CounterPool::CountersInUse(), before);
}

#ifndef _WIN32
// Counters taken and given back from several threads at once, across chunk boundaries:
// the pool's lock must keep the free lists intact (ASan sees any overlap).
TEST(SharedPtr, ThreadsShareThePool) {
  size_t before = CounterPool::CountersInUse();
  std::atomic<int> destroyed{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&destroyed] {
      std::vector<SharedPtr<Tracked>> held;
      for (int i = 0; i < 3000; ++i) {
        held.emplace_back(new Tracked(&destroyed));
        SharedPtr<Tracked> copy = held[i / 2];
        if (i % 3 == 0) held[i / 3].Reset();
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(destroyed.load(), 4 * 3000);
  EXPECT_EQ(CounterPool::CountersInUse(), before);
}
#endif

}  // namespace
}  // namespace utils
