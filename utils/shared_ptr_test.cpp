#include "utils/shared_ptr.h"

#include <gtest/gtest.h>

#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "utils/counter_pool.h"

#ifndef _WIN32
#include <atomic>
#include <thread>
#endif

namespace utils {
namespace {

struct Tracked {
  explicit Tracked(int* destroyed) : destroyed(destroyed) {}
  virtual ~Tracked() { ++*destroyed; }
  int* destroyed;
};
struct Derived : Tracked {
  Derived(int* destroyed, std::string* log) : Tracked(destroyed), log(log) {}
  ~Derived() override { *log += "derived"; }
  std::string* log;
};

TEST(SharedPtr, LastOfThreeCopiesDestroysOnceAndNullTakesNoCounter) {
  int destroyed = 0;
  size_t before = CounterPool::CountersInUse();
  SharedPtr<int> empty(nullptr), emptyCopy = empty;
  EXPECT_EQ(CounterPool::CountersInUse(), before);
  EXPECT_EQ(emptyCopy.UseCount(), 0u);
  {
    auto* a = new SharedPtr<Tracked>(new Tracked(&destroyed));
    EXPECT_EQ(CounterPool::CountersInUse(), before + 1);
    auto* b = new SharedPtr<Tracked>(*a);
    SharedPtr<Tracked> c;
    c = *b;
    EXPECT_EQ(c.UseCount(), 3u);
    delete a;
    delete b;
    EXPECT_EQ(destroyed, 0);
    EXPECT_EQ(c.UseCount(), 1u);
  }
  EXPECT_EQ(destroyed, 1);
  EXPECT_EQ(CounterPool::CountersInUse(), before);
}

TEST(SharedPtr, AssignmentConversionAndEmptyDereference) {
  int destroyedA = 0, destroyedB = 0;
  std::string log;
  SharedPtr<Tracked> a(new Tracked(&destroyedA));
  SharedPtr<Derived> d(new Derived(&destroyedB, &log));
  SharedPtr<Tracked> b = d;  // converted: destroyed through the virtual destructor
  a = b;                     // releases the old object first
  EXPECT_EQ(destroyedA, 1);
  a = a;  // self-assignment changes nothing
  EXPECT_EQ(a.UseCount(), 3u);
  SharedPtr<Tracked> moved = std::move(a);
  EXPECT_FALSE(a);
  EXPECT_EQ(moved.UseCount(), 3u);
  d.Reset();
  b.Reset();
  EXPECT_EQ(destroyedB, 0);
  moved.Reset();
  EXPECT_EQ(destroyedB, 1);
  EXPECT_EQ(log, "derived");
  SharedPtr<std::vector<int>> empty;
  EXPECT_THROW((void)empty->size(), std::domain_error);
  EXPECT_THROW((void)*empty, std::domain_error);
}

#ifndef _WIN32
// Counters taken and given back from several threads at once, across chunk boundaries:
// the pool's lock must keep the free lists intact (ASan sees any overlap).
TEST(SharedPtr, ThreadsShareThePool) {
  size_t before = CounterPool::CountersInUse();
  std::atomic<int> destroyed{0};
  struct Counted {
    explicit Counted(std::atomic<int>* d) : d(d) {}
    ~Counted() { ++*d; }
    std::atomic<int>* d;
  };
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&destroyed] {
      std::vector<SharedPtr<Counted>> held;
      for (int i = 0; i < 3000; ++i) {
        held.emplace_back(new Counted(&destroyed));
        SharedPtr<Counted> copy = held[i / 2];
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
