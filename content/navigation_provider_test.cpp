// The navigation rewrite as a provider wrapper. (Which documents the rewrite takes, and an
// empty table, are in json/navigation_test.)
#include "content/navigation_provider.h"

#include <gtest/gtest.h>

#include <vector>

#include "testing/memory_provider.h"

namespace storage {
namespace {

std::string BodyOf(const ProviderReply& r) {
  std::string out(r.stream->GetSize(), '\0');
  EXPECT_EQ(r.stream->Read(out.data(), uint32_t(out.size())), out.size());
  return out;
}

// The body is one compact object of exactly these members (in any order), and the head
// counts its length.
void ExpectObjectOf(const ProviderReply& r, const std::vector<std::string>& members) {
  const std::string body = BodyOf(r);
  size_t length = 1;  // the braces and the commas between members
  for (const std::string& member : members) {
    EXPECT_NE(body.find(member), std::string::npos) << member.substr(0, 20);
    length += member.size() + 1;
  }
  EXPECT_EQ(body.size(), length);
  EXPECT_EQ(body.substr(0, 1) + body.substr(body.size() - 1), "{}");
  EXPECT_EQ(r.head.Get("Content-Length"), std::to_string(body.size()));
}

const char kDocument[] = "{ \"title\": \"Start\",\n  \"items\": [1, 2, 3], \"b\": \"old\" }";

TEST(NavigationProvider, MembersRewriteTheRootObjectAndTheLengthOfNavigationOnly) {
  test::MapProvider inner;
  inner.entries["nav.mnv"] = kDocument;
  inner.entries["list.mnv"] = "[1, 2]";    // not an object at its root
  inner.entries["data.json"] = kDocument;  // JSON, but not a navigation document
  NavigationProvider provider(inner, {{u"b", u"new"}, {u"lang", u"fran\u00E7ais"}});

  // Compact, with the members replaced or added, in UTF-8, the length counted anew.
  const std::string lang =
      "\"lang\":\"fran\xC3\xA7"
      "ais\"";
  ExpectObjectOf(provider.Open("nav.mnv"),
                 {"\"title\":\"Start\"", "\"items\":[1,2,3]", "\"b\":\"new\"", lang});
  // Documents the rewrite does not take go out as stored, with their own length.
  for (const std::string path : {"list.mnv", "data.json"}) {
    ProviderReply r = provider.Open(path);
    EXPECT_EQ(BodyOf(r), inner.entries[path]) << path;
    EXPECT_EQ(r.head.Get("Content-Length"), std::to_string(inner.entries[path].size())) << path;
  }
  EXPECT_EQ(provider.Open("missing.mnv").head.status, 404);
}

}  // namespace
}  // namespace storage
