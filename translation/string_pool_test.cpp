#include "translation/string_pool.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#ifndef _WIN32
#include <thread>
#endif

namespace t9n {
namespace {

using namespace std::string_view_literals;

TEST(StringPool, EqualTextsShareOneCountedCopy) {
  size_t before = StringPool::Size();
  std::u16string other = u"pool-shared";
  PooledString a = StringPool::Add(u"pool-shared"), b = StringPool::Add(other);
  EXPECT_TRUE(a == b && a != other.c_str());
  EXPECT_EQ(StringPool::UseCount(a), 2u);
  EXPECT_EQ(StringPool::Size(), before + 1);
  StringPool::Release(other.c_str());  // a lookalike not from the pool is ignored
  StringPool::Release(a);
  EXPECT_EQ(StringPool::Find(u"pool-shared"), a);
  StringPool::Release(b);
  EXPECT_EQ(StringPool::Find(u"pool-shared"), nullptr);
  StringPool::Release(a);  // a released pointer is no longer known
  EXPECT_EQ(StringPool::Size(), before);
  // The empty text is never pooled, and texts with NUL are kept apart.
  EXPECT_EQ(StringPool::Add(u""), StringPool::Empty());
  StringPool::Release(StringPool::Empty());
  EXPECT_EQ(StringPool::UseCount(StringPool::Empty()), 0u);
  PooledString withNul = StringPool::Add(u"a\0b"sv), plain = StringPool::Add(u"a"sv);
  EXPECT_NE(withNul, plain);
  StringPool::Release(withNul);
  EXPECT_EQ(StringPool::Find(u"a"sv), plain);
  StringPool::Release(plain);
  EXPECT_EQ(StringPool::Size(), before);
}

#ifndef _WIN32
TEST(StringPool, ConcurrentAddAndRelease) {
  size_t before = StringPool::Size();
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([] {
      for (int i = 0; i < 5000; ++i) {
        std::u16string text = u"thread-text-" + std::u16string(1, char16_t(u'a' + i % 7));
        PooledString p = StringPool::Add(text);
        if (std::u16string(p) != text) std::abort();
        StringPool::Release(p);
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(StringPool::Size(), before);
}
#endif

}  // namespace
}  // namespace t9n
