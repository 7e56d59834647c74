// The server facade over loopback: navigation documents rewritten with the server's member
// table. (Which documents the rewrite takes, and an empty table, are in json/navigation_test.)
#include "httpserver/http_server.h"

#include <gtest/gtest.h>

#include <vector>

#include "testing/memory_provider.h"
#include "testing/test_client.h"

namespace storage {
namespace {

using namespace storage::test;

struct Reply {
  std::string head, body;
};

// The body is one compact object of exactly these members (in any order), and the head
// counts its length.
void ExpectObjectOf(const Reply& r, const std::vector<std::string>& members) {
  size_t length = 1;  // the braces and the commas between members
  for (const std::string& member : members) {
    EXPECT_NE(r.body.find(member), std::string::npos) << member.substr(0, 20);
    length += member.size() + 1;
  }
  EXPECT_EQ(r.body.size(), length);
  EXPECT_EQ(r.body.substr(0, 1) + r.body.substr(r.body.size() - 1), "{}");
  EXPECT_NE(r.head.find("Content-Length: " + std::to_string(r.body.size()) + "\r\n"),
            std::string::npos);
}

Reply Get(uint16_t port, const std::string& path) {
  std::string r = Exchange(port, "GET /" + path + " HTTP/1.1\r\nHost: x\r\n\r\n");
  size_t end = r.find("\r\n\r\n");
  return {r.substr(0, end + 4), end == std::string::npos ? "" : r.substr(end + 4)};
}

const char kDocument[] = "{ \"title\": \"Start\",\n  \"items\": [1, 2, 3], \"b\": \"old\" }";

TEST(NavigationServe, MembersRewriteTheRootObjectAndTheLengthOfNavigationOnly) {
  MapProvider provider;
  provider.entries["nav.mnv"] = kDocument;
  // Bigger than one 64 KiB send block, so the rewritten body crosses blocks too.
  std::string big = "{\"pad\":\"" + std::string(100000, 'p') + "\"}";
  provider.entries["big.mnv"] = big;
  provider.entries["list.mnv"] = "[1, 2]";    // not an object at its root
  provider.entries["data.json"] = kDocument;  // JSON, but not a navigation document
  HttpServer server(false);
  server.SetNavigationMembers({{u"b", u"new"}, {u"lang", u"fran\u00E7ais"}});
  const uint16_t port = PortOf(server.Start(-1, u""));
  server.SetProvider(&provider);

  // Compact, with the members replaced or added, in UTF-8, the length counted anew.
  const std::string lang =
      "\"lang\":\"fran\xC3\xA7"
      "ais\"";
  Reply r = Get(port, "nav.mnv");
  ExpectObjectOf(r, {"\"title\":\"Start\"", "\"items\":[1,2,3]", "\"b\":\"new\"", lang});
  EXPECT_EQ(r.head.find("Cache-Control"), std::string::npos) << r.head;
  ExpectObjectOf(Get(port, "big.mnv"), {big.substr(1, big.size() - 2), "\"b\":\"new\"", lang});

  // Documents the rewrite does not take go out as stored, with their own length.
  for (const std::string path : {"list.mnv", "data.json"}) {
    r = Get(port, path);
    EXPECT_EQ(r.body, provider.entries[path]) << path;
    EXPECT_NE(r.head.find("Content-Length: " + std::to_string(r.body.size()) + "\r\n"),
              std::string::npos)
        << path;
  }
  // HEAD reads no stream: the provider's length stands.
  const std::string h = Exchange(port, "HEAD /list.mnv HTTP/1.1\r\nHost: x\r\n\r\n");
  EXPECT_NE(h.find("Content-Length: 6\r\n"), std::string::npos) << h;
  EXPECT_EQ(h.substr(h.find("\r\n\r\n")), "\r\n\r\n");
  server.Stop();
}

}  // namespace
}  // namespace storage
