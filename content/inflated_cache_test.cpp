#include "content/inflated_cache.h"

#include <gtest/gtest.h>

#include <string>

#include "content/http_zip_provider.h"
#include "testing/zip_builder.h"

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

TEST(InflatedCache, KeepsOnlyCompleteEntriesThatFit) {
  InflatedCache cache(8, 20);
  ASSERT_TRUE(Fill(cache, u"a", "abcdefgh", 8));
  EXPECT_EQ(Text(cache.Find(u"a")), "abcdefgh");
  EXPECT_FALSE(Fill(cache, u"b", "abc", 8));        // fewer bytes than the size says
  EXPECT_FALSE(Fill(cache, u"c", "abcdefghi", 8));  // and more
  EXPECT_FALSE(Fill(cache, u"d", "123456789", 9));  // over the entry limit
  EXPECT_FALSE(cache.Find(u"b"));
  EXPECT_FALSE(cache.Find(u"d"));
  EXPECT_EQ(cache.Count(), 1u);
}

TEST(InflatedCache, EvictsLeastRecentlyUsedWithinItsBudget) {
  InflatedCache cache(8, 20);
  Fill(cache, u"1", "11111111", 8);
  Fill(cache, u"2", "22222222", 8);
  cache.Find(u"1");  // "2" is now the least recently used
  Fill(cache, u"3", "33333333", 8);
  EXPECT_TRUE(cache.Find(u"1"));
  EXPECT_FALSE(cache.Find(u"2"));
  EXPECT_TRUE(cache.Find(u"3"));
  EXPECT_LE(cache.TotalBytes(), 20u);
  // Bytes handed out stay valid after eviction.
  auto kept = cache.Find(u"1");
  Fill(cache, u"4", "44444444", 8);
  Fill(cache, u"5", "55555555", 8);
  EXPECT_FALSE(cache.Find(u"1"));
  EXPECT_EQ(Text(kept), "11111111");
}

std::string ReadAll(utils::ReadStreamI& stream) {
  std::string out;
  char buffer[1000];
  for (uint32_t got = 0; stream.Read(buffer, sizeof(buffer), got) && got > 0;)
    out.append(buffer, got);
  return out;
}

TEST(InflatedCache, ProviderServesDeflatedEntriesFromOneInflation) {
  std::string script;
  for (int i = 0; i < 5000; ++i) script += "let v" + std::to_string(i) + " = 1;\n";
  std::string bytes =
      amzip::testing::BuildZip({{.name = "app.js", .data = script, .method = 8},
                                {.name = "other/app.js", .data = "other", .method = 8}})
          .bytes;
  utils::SharedPtr<amzip::Archive> archive(new amzip::Archive());
  ASSERT_EQ(archive->OpenMemory(bytes.data(), bytes.size(), u"t.zip"), 0);
  HttpZipProvider provider(archive);
  int32_t status = 200;
  HttpMessage headers;
  for (int round = 0; round < 3; ++round) {
    auto stream = provider.GetStream("app.js", status, headers);
    EXPECT_EQ(stream->GetSize(), script.size());
    stream->Seek64(0, 100);  // a range starts anywhere in the kept bytes
    EXPECT_EQ(ReadAll(*stream), script.substr(100)) << round;
    EXPECT_EQ(ReadAll(*provider.GetStream("other/app.js", status, headers)), "other");
  }
}

}  // namespace
}  // namespace storage
