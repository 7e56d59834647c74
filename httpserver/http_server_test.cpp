// The server's options over loopback: what the program hands in is what the wire shows.
#include "httpserver/http_server.h"

#include <gtest/gtest.h>

#include <atomic>

#include "testing/memory_provider.h"
#include "testing/test_client.h"

namespace storage {
namespace {

using namespace storage::test;

std::string Get(uint16_t port, const std::string& path, const std::string& host = "localhost") {
  return Exchange(port, "GET /" + path + " HTTP/1.1\r\nHost: " + host + "\r\n\r\n");
}

// The max-age source is asked per response; listenAny answers a foreign Host (the
// loopback-only refusal is in server_test).
TEST(HttpServerOptions, MaxAgeFollowsItsSourceAndListenAnyAnswersAnyHost) {
  MapProvider provider;
  provider.entries["page.html"] = "<p>";
  std::atomic<int64_t> age{3600};
  HttpServer server(false);
  server.options.maxAge = [&age] { return age.load(); };
  server.options.listenAny = true;
  const uint16_t port = PortOf(server.Start(-1, u""));
  server.SetProvider(&provider);
  EXPECT_NE(Get(port, "page.html").find("\r\nCache-Control: max-age=3600\r\n"), std::string::npos);
  age = 0;
  const std::string r = Get(port, "page.html", "contentexe.example:80");
  EXPECT_EQ(r.substr(0, 15), "HTTP/1.1 200 OK");
  EXPECT_NE(r.find("\r\nCache-Control: max-age=0\r\n"), std::string::npos);
  server.Stop();
}

}  // namespace
}  // namespace storage
