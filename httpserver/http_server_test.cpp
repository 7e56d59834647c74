// The server facade over loopback: navigation documents served as stored or rewritten
// with the server's member table.
#include "httpserver/http_server.h"

#include <gtest/gtest.h>

#include <cstring>
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

class NavigationServeTest : public ::testing::Test {
 protected:
  void Start() {
    port = PortOf(server.Start(-1, u""));
    ASSERT_NE(port, 0);
    server.SetProvider(&provider);
  }
  void TearDown() override { server.Stop(); }
  Reply Get(const std::string& path) {
    std::string r = Exchange(port, "GET /" + path + " HTTP/1.1\r\nHost: x\r\n\r\n");
    size_t end = r.find("\r\n\r\n");
    return {r.substr(0, end + 4), end == std::string::npos ? "" : r.substr(end + 4)};
  }

  HttpServer server{false};
  MapProvider provider;
  uint16_t port = 0;
};

const char kDocument[] = "{ \"title\": \"Start\",\n  \"items\": [1, 2, 3], \"b\": \"old\" }";

TEST_F(NavigationServeTest, WithoutMembersTheDocumentGoesOutAsStored) {
  provider.entries["nav.mnv"] = kDocument;
  Start();
  EXPECT_EQ(Exchange(port, "GET /nav.mnv HTTP/1.1\r\n\r\n"),
            "HTTP/1.1 200 OK\r\nContent-Type: application/x-morvane-navigation\r\n"
            "Content-Length: " +
                std::to_string(std::strlen(kDocument)) +
                "\r\nLast-Modified: Mon, 23 Jul 2012 10:20:30 GMT\r\n\r\n" + kDocument);
}

TEST_F(NavigationServeTest, MembersRewriteTheRootObjectAndTheLength) {
  provider.entries["nav.mnv"] = kDocument;
  // Bigger than one 64 KiB send block, so the rewritten body crosses blocks too.
  std::string big = "{\"pad\":\"" + std::string(100000, 'p') + "\"}";
  provider.entries["big.mnv"] = big;
  server.SetNavigationMembers({{u"b", u"new"}, {u"lang", u"fran\u00E7ais"}});
  Start();

  // Compact, with the members replaced or added, in UTF-8, the length counted anew.
  const std::string lang =
      "\"lang\":\"fran\xC3\xA7"
      "ais\"";
  Reply r = Get("nav.mnv");
  ExpectObjectOf(r, {"\"title\":\"Start\"", "\"items\":[1,2,3]", "\"b\":\"new\"", lang});
  EXPECT_EQ(r.head.find("Cache-Control"), std::string::npos) << r.head;
  ExpectObjectOf(Get("big.mnv"), {big.substr(1, big.size() - 2), "\"b\":\"new\"", lang});
}

TEST_F(NavigationServeTest, MembersLeaveOtherDocumentsAlone) {
  provider.entries["list.mnv"] = "[1, 2]";      // not an object at its root
  provider.entries["broken.mnv"] = "not json";  // not JSON at all
  provider.entries["data.json"] = kDocument;    // JSON, but not a navigation document
  server.SetNavigationMembers({{u"k", u"v"}});
  Start();
  for (const std::string path : {"list.mnv", "broken.mnv", "data.json"}) {
    Reply r = Get(path);
    EXPECT_EQ(r.body, provider.entries[path]) << path;
    EXPECT_NE(r.head.find("Content-Length: " + std::to_string(r.body.size()) + "\r\n"),
              std::string::npos)
        << path;
  }
  // HEAD reads no stream: the provider's length stands.
  const std::string h = Exchange(port, "HEAD /list.mnv HTTP/1.1\r\nHost: x\r\n\r\n");
  EXPECT_NE(h.find("Content-Length: 6\r\n"), std::string::npos) << h;
  EXPECT_EQ(h.substr(h.find("\r\n\r\n")), "\r\n\r\n");
}

}  // namespace
}  // namespace storage
