#include "content/inflated_cache.h"

#include <gtest/gtest.h>

#include <string>

#include "content/http_zip_provider.h"
#include "testing/zip_builder.h"

namespace storage {
namespace {

utils::MemoryStreamReader StreamOf(const std::string& text) {
  utils::SharedPtr<utils::ByteVector> bytes(new utils::ByteVector(text.begin(), text.end()));
  return utils::MemoryStreamReader(bytes, u"s");
}

std::string Text(const utils::SharedPtr<utils::ByteVector>& bytes) {
  return std::string(bytes->begin(), bytes->end());
}

TEST(InflatedCache, KeepsOnlyCompleteEntriesThatFit) {
  InflatedCache cache(8, 20);
  auto whole = StreamOf("abcdefgh");
  ASSERT_TRUE(cache.Fill(u"a", whole, 8));
  EXPECT_EQ(Text(cache.Find(u"a")), "abcdefgh");

  auto shorter = StreamOf("abc");  // the entry gave fewer bytes than its size says
  EXPECT_FALSE(cache.Fill(u"b", shorter, 8));
  auto longer = StreamOf("abcdefghi");  // and more
  EXPECT_FALSE(cache.Fill(u"c", longer, 8));
  auto big = StreamOf("123456789");
  EXPECT_FALSE(cache.Fill(u"d", big, 9));  // over the entry limit
  EXPECT_FALSE(cache.Find(u"b"));
  EXPECT_FALSE(cache.Find(u"d"));
  EXPECT_EQ(cache.Count(), 1u);
}

TEST(InflatedCache, EvictsLeastRecentlyUsedWithinItsBudget) {
  InflatedCache cache(8, 20);
  auto one = StreamOf("11111111"), two = StreamOf("22222222"), three = StreamOf("33333333");
  cache.Fill(u"1", one, 8);
  cache.Fill(u"2", two, 8);
  cache.Find(u"1");  // "2" is now the least recently used
  cache.Fill(u"3", three, 8);
  EXPECT_TRUE(cache.Find(u"1"));
  EXPECT_FALSE(cache.Find(u"2"));
  EXPECT_TRUE(cache.Find(u"3"));
  EXPECT_LE(cache.TotalBytes(), 20u);
  // Bytes handed out stay valid after eviction.
  auto kept = cache.Find(u"1");
  auto four = StreamOf("44444444"), five = StreamOf("55555555");
  cache.Fill(u"4", four, 8);
  cache.Fill(u"5", five, 8);
  EXPECT_FALSE(cache.Find(u"1"));
  EXPECT_EQ(Text(kept), "11111111");
}

std::string ReadAll(utils::ReadStreamI& stream) {
  std::string out;
  char buffer[1000];
  uint32_t got = 0;
  while (stream.Read(buffer, sizeof(buffer), got) && got > 0) out.append(buffer, got);
  return out;
}

TEST(InflatedCache, ProviderServesDeflatedEntriesFromOneInflation) {
  std::vector<amzip::testing::TestEntry> entries(2);
  entries[0].name = "app.js";
  for (int i = 0; i < 5000; ++i) entries[0].data += "let v" + std::to_string(i) + " = 1;\n";
  entries[0].method = 8;
  entries[1].name = "other/app.js";
  entries[1].data = "other";
  entries[1].method = 8;
  std::string bytes = amzip::testing::BuildZip(entries).bytes;
  utils::SharedPtr<amzip::Archive> archive(new amzip::Archive());
  ASSERT_EQ(archive->OpenMemory(bytes.data(), bytes.size(), u"t.zip"), 0);
  HttpZipProvider provider(archive);
  int32_t status = 200;
  HttpMessage headers;
  for (int round = 0; round < 3; ++round) {
    auto stream = provider.GetStream("app.js", status, headers);
    EXPECT_EQ(stream->GetSize(), entries[0].data.size());
    stream->Seek64(0, 100);  // a range starts anywhere in the kept bytes
    EXPECT_EQ(ReadAll(*stream), entries[0].data.substr(100)) << round;
    auto other = provider.GetStream("other/app.js", status, headers);
    EXPECT_EQ(ReadAll(*other), "other");
  }
}

}  // namespace
}  // namespace storage
