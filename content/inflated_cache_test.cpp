#include "content/inflated_cache.h"

#include <gtest/gtest.h>

#include <string>

namespace storage {
namespace {

// Fills the cache with text as the bytes of an entry of the given size.
bool Fill(InflatedCache& cache, const std::u16string& name, const std::string& text,
          uint64_t size) {
  utils::SharedPtr<utils::ByteVector> bytes(new utils::ByteVector(text.begin(), text.end()));
  utils::MemoryStreamReader stream(bytes, u"s");
  return bool(cache.Fill(name, stream, size));
}

std::string Text(const utils::SharedPtr<utils::ByteVector>& bytes) {
  return std::string(bytes->begin(), bytes->end());
}

TEST(InflatedCache, KeepsCompleteEntriesThatFitAndEvictsTheLeastRecentlyUsed) {
  InflatedCache cache(8, 20);
  EXPECT_FALSE(Fill(cache, u"b", "abc", 8));        // fewer bytes than the size says
  EXPECT_FALSE(Fill(cache, u"c", "abcdefghi", 8));  // and more
  EXPECT_FALSE(Fill(cache, u"d", "123456789", 9));  // over the entry limit
  EXPECT_EQ(cache.Count(), 0u);
  ASSERT_TRUE(Fill(cache, u"1", "11111111", 8));
  Fill(cache, u"2", "22222222", 8);
  auto kept = cache.Find(u"1");  // "2" is now the least recently used
  Fill(cache, u"3", "33333333", 8);
  EXPECT_FALSE(cache.Find(u"2"));
  EXPECT_TRUE(cache.Find(u"3"));
  EXPECT_EQ(Text(cache.Find(u"1")), "11111111");
  EXPECT_LE(cache.TotalBytes(), 20u);
  // Bytes handed out stay valid after eviction.
  Fill(cache, u"4", "44444444", 8);
  Fill(cache, u"5", "55555555", 8);
  EXPECT_FALSE(cache.Find(u"1"));
  EXPECT_EQ(Text(kept), "11111111");
}

}  // namespace
}  // namespace storage
