// Python's http.client against the server: one connection per request, bodies read in
// odd-sized pieces, heads, ranges and a post, compared with the entries.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>

#include <sstream>

#include "testing/clients_fixture.h"

namespace storage::clients {
namespace {

// Reads requests "METHOD path [Name: value]..." (one per line, fields split by tabs)
// from standard input; writes N.head (curl's header-dump form) and N.body per request.
constexpr char kClient[] = R"(
import http.client, sys
port, out = int(sys.argv[1]), sys.argv[2]
for n, line in enumerate(sys.stdin.read().splitlines()):
    fields = line.split('\t')
    method, path = fields[0].split(' ', 1)
    headers = dict(f.split(': ', 1) for f in fields[1:])
    conn = http.client.HTTPConnection('127.0.0.1', port, timeout=30)
    conn.request(method, path, body=b'x=1' if method == 'POST' else None, headers=headers)
    resp = conn.getresponse()
    body = bytearray()
    try:
        while True:
            piece = resp.read(7919)
            if not piece:
                break
            body += piece
    except http.client.IncompleteRead as e:
        body += e.partial
        print('incomplete', n, file=sys.stderr)
    head = 'HTTP/1.1 %d %s\r\n' % (resp.status, resp.reason)
    head += ''.join('%s: %s\r\n' % kv for kv in resp.getheaders())
    open('%s/%d.head' % (out, n), 'w').write(head)
    open('%s/%d.body' % (out, n), 'wb').write(body)
    conn.close()
)";

struct Request {
  std::string method, name, headers;  // headers: "\tName: value" pieces
};

class PythonClientTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    setenv("TZ", "UTC", 1);
    tzset();
    content_ = new ServedContent({{"index.html", "<!doctype html>" + std::string(5000, 'p')},
                                  {"app.js", ScriptText(900000)},
                                  {"media/big.bin", NoiseBytes(9u << 20, 3)},
                                  {"media/song.mp3", NoiseBytes(300000, 4)}});
  }
  static void TearDownTestSuite() {
    delete content_;
    content_ = nullptr;
  }
  void SetUp() override {
    if (!content_->Ok()) GTEST_SKIP() << "no content server";
    if (!HaveCommand("python3")) GTEST_SKIP() << "python3 not installed";
  }

  static std::vector<Reply> Run(const std::vector<Request>& requests) {
    std::string dir = MakeTempDir();
    WriteFile(dir + "/client.py", kClient);
    std::ostringstream input;
    for (const Request& r : requests) {
      input << r.method << " /" << content_->Prefix() << r.name << r.headers << "\n";
    }
    WriteFile(dir + "/requests", input.str());
    int code = 0;
    std::string err =
        Shell("python3 " + Quote(dir + "/client.py") + " " + std::to_string(content_->Port()) +
                  " " + Quote(dir) + " < " + Quote(dir + "/requests") + " 2>&1",
              &code);
    EXPECT_EQ(code, 0) << err;
    std::vector<Reply> replies;
    for (size_t i = 0; i < requests.size(); ++i) {
      Reply r = ParseHead(ReadFile(dir + "/" + std::to_string(i) + ".head"));
      r.body = ReadFile(dir + "/" + std::to_string(i) + ".body");
      replies.push_back(std::move(r));
    }
    RemoveTree(dir);
    return replies;
  }

  static ServedContent* content_;
};
ServedContent* PythonClientTest::content_ = nullptr;

TEST_F(PythonClientTest, WholeEntriesHeadsAndPost) {
  std::vector<Reply> r = Run({{"GET", "index.html", ""},
                              {"GET", "media/big.bin", ""},
                              {"GET", "app.js", "\tOrigin: null"},
                              {"HEAD", "media/song.mp3", ""},
                              {"GET", "media/song.mp3", "\tX-Playback-Session-Id: 5E0A-11"},
                              {"POST", "index.html", "\tContent-Type: text/plain"},
                              {"GET", "missing.css", ""}});
  ASSERT_EQ(r.size(), 7u);
  for (int i : {0, 1, 2}) {
    const char* names[] = {"index.html", "media/big.bin", "app.js"};
    SCOPED_TRACE(names[i]);
    EXPECT_EQ(r[i].status, 200);
    EXPECT_EQ(r[i].body.size(), content_->Entry(names[i]).size());
    EXPECT_TRUE(r[i].body == content_->Entry(names[i]));
    EXPECT_EQ(r[i].Value("Cache-Control"), "max-age=5");
  }
  EXPECT_EQ(r[2].Value("Access-Control-Allow-Origin"), "*");
  EXPECT_EQ(r[2].Value("Vary"), "Origin");
  EXPECT_EQ(r[3].status, 200);
  EXPECT_EQ(r[3].Value("Content-Length"), "300000");
  EXPECT_TRUE(r[3].body.empty());
  // Audio is media: date, ranges, tag, and the playback session echoed.
  EXPECT_EQ(r[4].Value("Content-Type").rfind("audio/", 0), 0u);
  EXPECT_EQ(r[4].Value("Accept-Ranges"), "bytes");
  EXPECT_EQ(r[4].Value("X-Playback-Session-Id"), "5E0A-11");
  EXPECT_EQ(r[4].Value("ETag"), TagOfDate(r[4].Value("Last-Modified")));
  EXPECT_TRUE(r[4].body == content_->Entry("media/song.mp3"));
  EXPECT_EQ(r[5].status, 200);
  EXPECT_TRUE(r[5].headers.empty());
  EXPECT_TRUE(r[5].body.empty());
  EXPECT_EQ(r[6].status, 404);
}

TEST_F(PythonClientTest, RangesAreCutFromTheRightPlace) {
  const uint64_t big = 9u << 20, js = 900000;
  const uint64_t mid = big / 2 - (1u << 19);
  struct Case {
    const char* name;
    std::string range;
    uint64_t start, end;
  } cases[] = {
      {"media/big.bin", "bytes=" + std::to_string(mid) + "-" + std::to_string(mid + (1u << 20) - 1),
       mid, mid + (1u << 20) - 1},
      {"media/big.bin", "bytes=-1", big - 1, big - 1},
      {"media/big.bin", "bytes=131072-", 131072, big - 1},
      {"app.js", "bytes=450000-450000", 450000, 450000},
      {"app.js", "bytes=65530-131080", 65530, 131080},
      {"app.js", "bytes=-899999", 1, js - 1},
      {"media/song.mp3", "bytes=299990-400000", 299990, 299999},
  };
  std::vector<Request> requests;
  for (const Case& c : cases) requests.push_back({"GET", c.name, "\tRange: " + c.range});
  std::vector<Reply> r = Run(requests);
  ASSERT_EQ(r.size(), std::size(cases));
  for (size_t i = 0; i < r.size(); ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE(std::string(c.name) + " " + c.range);
    const std::string& entry = content_->Entry(c.name);
    EXPECT_EQ(r[i].status, 206);
    EXPECT_EQ(r[i].reason, "Partial Content");
    EXPECT_EQ(r[i].Value("Content-Range"), "bytes " + std::to_string(c.start) + "-" +
                                               std::to_string(c.end) + "/" +
                                               std::to_string(entry.size()));
    ASSERT_EQ(r[i].body.size(), c.end - c.start + 1);
    EXPECT_TRUE(r[i].body == entry.substr(c.start, c.end - c.start + 1));
  }
}

}  // namespace
}  // namespace storage::clients
