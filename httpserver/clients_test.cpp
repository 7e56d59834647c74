// The server and the archive provider against real HTTP clients: curl and Python's
// http.client fetch pages, heads, byte ranges (stored and deflated entries), entity tags
// and cross-origin headers from content zipped by Info-ZIP, and every body is compared
// byte for byte with the entry it came from.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>

#include <memory>
#include <sstream>

#include "testing/clients_fixture.h"

namespace storage::clients {
namespace {

constexpr size_t kBig = 24u << 20;  // stored, larger than any socket buffer
constexpr char kDate[] = "Wed, 14 Jun 2023 09:41:26 GMT";

class ClientsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // Zip records local times; with UTC everywhere the dates below are exact.
    setenv("TZ", "UTC", 1);
    tzset();
    std::map<std::string, std::string> entries = {
        {"index.html", "<!doctype html><title>Start</title>" + std::string(3000, 'i')},
        {"pages/about.html", "<p>\xC3\xA0 propos</p>"},
        {"style.css", "body { margin: 0 }\n"},
        {"app.js", ScriptText(1500000)},
        {"media/clip.webm",
         ReadFile(std::string(std::getenv("CX_SOURCE_DIR") ? std::getenv("CX_SOURCE_DIR") : ".") +
                  "/examples/demo/media/clip.webm")},
        {"media/big.bin", NoiseBytes(kBig, 7)},
        {"empty.txt", ""},
    };
    content_ = new ServedContent(entries);
    work_ = MakeTempDir();
  }
  static void TearDownTestSuite() {
    delete content_;
    content_ = nullptr;
    RemoveTree(work_);
  }
  void SetUp() override {
    if (!content_->Ok()) GTEST_SKIP() << "no content server";
    if (!HaveCommand("curl")) GTEST_SKIP() << "curl not installed";
  }

  // One curl run; options are shell words (already quoted where needed).
  static Reply Curl(const std::string& options, const std::string& name, int* code = nullptr) {
    std::string head = work_ + "/head", body = work_ + "/body";
    RemoveTree(head);
    RemoveTree(body);
    int exit = 0;
    std::string err =
        Shell("curl -s -S --http1.1 --max-time 60 -D " + Quote(head) + " -o " + Quote(body) + " " +
                  options + " " + Quote(content_->Url(name)) + " 2>&1",
              &exit);
    if (code) {
      *code = exit;
    } else {
      EXPECT_EQ(exit, 0) << "curl " << options << " " << name << ": " << err;
    }
    std::string headText = ReadFile(head);
    Reply reply = ParseHead(headText);
    reply.body = ReadFile(body);
    // With --head curl writes the header block as the output, and reads no body.
    if (options.find("-I") != std::string::npos && reply.body == headText) reply.body.clear();
    return reply;
  }

  static ServedContent* content_;
  static std::string work_;
};
ServedContent* ClientsTest::content_ = nullptr;
std::string ClientsTest::work_;

TEST(ClientsHelpers, TagOfDateMatchesTheDocumentedExample) {
  EXPECT_EQ(TagOfDate("Mon, 23 Jul 2012 10:20:30 GMT"), "4D6E334A6C323130323A304754");
  Reply r = ParseHead("HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 206 Partial Content\r\nA: b\r\n");
  EXPECT_EQ(r.status, 206);
  EXPECT_EQ(r.reason, "Partial Content");
  EXPECT_EQ(r.Value("a"), "b");
}

TEST_F(ClientsTest, ArchiveHoldsStoredAndDeflatedEntries) {
  // The range cases below rely on these methods; a change in zip's choice would
  // silently turn them into something else.
  EXPECT_EQ(content_->Method("media/big.bin"), 0);
  EXPECT_EQ(content_->Method("media/clip.webm"), 0);
  EXPECT_EQ(content_->Method("app.js"), 8);
  EXPECT_EQ(content_->Method("index.html"), 8);
}

TEST_F(ClientsTest, CurlGetsEveryEntryByteForByte) {
  struct Case {
    const char* name;
    const char* type;
    bool media;
  } cases[] = {
      {"index.html", "text/html", false},      {"pages/about.html", "text/html", false},
      {"style.css", "text/css", false},        {"app.js", "application/javascript", false},
      {"media/clip.webm", "video/webm", true}, {"media/big.bin", nullptr, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Reply r = Curl("", c.name);
    const std::string& entry = content_->Entry(c.name);
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.reason, "OK");
    EXPECT_EQ(r.Value("Content-Length"), std::to_string(entry.size()));
    EXPECT_EQ(r.Value("Last-Modified"), kDate);
    if (c.type) {
      EXPECT_EQ(r.Value("Content-Type").rfind(c.type, 0), 0u) << r.Value("Content-Type");
    }
    ASSERT_EQ(r.body.size(), entry.size());
    EXPECT_TRUE(r.body == entry);
    if (c.media) {
      EXPECT_EQ(r.Value("ETag"), TagOfDate(kDate));
      EXPECT_EQ(r.Value("Accept-Ranges"), "bytes");
      EXPECT_TRUE(r.Has("Date"));
      EXPECT_FALSE(r.Has("Cache-Control"));
    } else {
      EXPECT_EQ(r.Value("Cache-Control"), "max-age=5");
      EXPECT_FALSE(r.Has("ETag"));
      EXPECT_FALSE(r.Has("Date"));
      EXPECT_FALSE(r.Has("Accept-Ranges"));
    }
  }
}

TEST_F(ClientsTest, CurlHeadMatchesGetWithoutBody) {
  for (const char* name : {"index.html", "media/big.bin", "media/clip.webm", "app.js"}) {
    SCOPED_TRACE(name);
    Reply r = Curl("-I", name);
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.Value("Content-Length"), std::to_string(content_->Entry(name).size()));
    EXPECT_EQ(r.Value("Last-Modified"), kDate);
    EXPECT_FALSE(r.Has("Cache-Control"));
    EXPECT_FALSE(r.Has("ETag"));
    EXPECT_TRUE(r.body.empty());
  }
  // An empty entry: a plain 200 with nothing to send.
  Reply empty = Curl("", "empty.txt");
  EXPECT_EQ(empty.status, 200);
  EXPECT_TRUE(empty.body.empty());
  EXPECT_FALSE(empty.Has("Cache-Control"));
}

TEST_F(ClientsTest, CurlRangesOfStoredAndDeflatedEntries) {
  const uint64_t big = kBig, js = content_->Entry("app.js").size();
  const uint64_t mid = big / 2 - (1u << 19);
  struct Case {
    const char* name;
    std::string option;
    int status;
    uint64_t start, end;  // inclusive; start > end: no Content-Range expected
  } cases[] = {
      // 1 MiB in the middle of the large stored entry.
      {"media/big.bin", "-r " + std::to_string(mid) + "-" + std::to_string(mid + (1u << 20) - 1),
       206, mid, mid + (1u << 20) - 1},
      {"media/big.bin", "-r -100", 206, big - 100, big - 1},
      {"media/big.bin", "-r " + std::to_string(big - 70000) + "-", 206, big - 70000, big - 1},
      {"media/big.bin", "-r 0-", 200, 0, big - 1},
      {"media/big.bin", "-r " + std::to_string(big - 10) + "-" + std::to_string(big + 5000), 206,
       big - 10, big - 1},
      {"media/big.bin", "-r 65535-65536", 206, 65535, 65536},
      // Deflated: the range has to be inflated past everything before it.
      {"app.js", "-r 700000-800123", 206, 700000, 800123},
      {"app.js", "-r -70000", 206, js - 70000, js - 1},
      {"app.js", "-r 0-0", 200, 0, js - 1},
      {"media/clip.webm", "-r 1000-1999", 206, 1000, 1999},
      // Only the first range of a list is answered.
      {"media/big.bin", "-r 0-10,20-30", 206, 0, 10},
      // Not a byte range: ignored.
      {"app.js", "-H 'Range: items=0-10'", 200, 1, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " " + c.option);
    Reply r = Curl(c.option, c.name);
    const std::string& entry = content_->Entry(c.name);
    EXPECT_EQ(r.status, c.status);
    if (c.start > c.end) {
      EXPECT_FALSE(r.Has("Content-Range"));
      EXPECT_TRUE(r.body == entry);
      continue;
    }
    EXPECT_EQ(r.Value("Content-Range"), "bytes " + std::to_string(c.start) + "-" +
                                            std::to_string(c.end) + "/" +
                                            std::to_string(entry.size()));
    EXPECT_EQ(r.Value("Content-Length"), std::to_string(c.end - c.start + 1));
    EXPECT_EQ(r.Value("Accept-Ranges"), "bytes");
    EXPECT_EQ(r.Value("ETag"), TagOfDate(kDate));
    ASSERT_EQ(r.body.size(), c.end - c.start + 1);
    EXPECT_TRUE(r.body == entry.substr(c.start, c.end - c.start + 1));
  }
}

TEST_F(ClientsTest, ConditionalHeadersGetTheFullAnswer) {
  Reply first = Curl("", "media/clip.webm");
  std::string tag = first.Value("ETag");
  ASSERT_EQ(tag, TagOfDate(first.Value("Last-Modified")));
  // Validators are sent, never compared: a revalidating client always gets the data.
  const std::string conditions[] = {
      "-H " + Quote("If-None-Match: " + tag),
      "-H " + Quote("If-None-Match: \"" + tag + "\""),
      "-H " + Quote("If-Modified-Since: " + first.Value("Last-Modified")),
      "-H " + Quote("If-Match: nothing-like-it"),
  };
  for (const std::string& condition : conditions) {
    SCOPED_TRACE(condition);
    Reply r = Curl(condition, "media/clip.webm");
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.Value("ETag"), tag);
    EXPECT_TRUE(r.body == content_->Entry("media/clip.webm"));
  }
  Reply ranged = Curl("-H " + Quote("If-Range: " + tag) + " -r 10-19", "media/clip.webm");
  EXPECT_EQ(ranged.status, 206);
  EXPECT_TRUE(ranged.body == content_->Entry("media/clip.webm").substr(10, 10));
  // Tags depend on the date only: two entries of the same date share it.
  EXPECT_EQ(Curl("-r 0-1", "media/big.bin").Value("ETag"), tag);
}

TEST_F(ClientsTest, CrossOriginHeadersFollowOrigin) {
  const std::string origin = "-H 'Origin: http://elsewhere.example:8080'";
  const std::string forms[] = {"", "-I", "-r 5-9"};
  for (const char* name : {"index.html", "media/clip.webm", "media/big.bin", "empty.txt"}) {
    for (const std::string& form : forms) {
      SCOPED_TRACE(std::string(name) + " " + form);
      Reply with = Curl(origin + " " + form, name);
      EXPECT_EQ(with.Value("Access-Control-Allow-Origin"), "*");
      EXPECT_EQ(with.Value("Vary"), "Origin");
      Reply without = Curl(form, name);
      EXPECT_FALSE(without.Has("Access-Control-Allow-Origin"));
      EXPECT_FALSE(without.Has("Vary"));
      EXPECT_TRUE(with.body == without.body);
    }
  }
}

TEST_F(ClientsTest, MissingEntriesAndPosts) {
  Reply missing = Curl("-H 'Origin: http://a.example'", "no/such.html");
  EXPECT_EQ(missing.status, 404);
  EXPECT_TRUE(missing.headers.empty());
  EXPECT_TRUE(missing.body.empty());
  Reply post = Curl("--data-binary 'a=1'", "index.html");
  EXPECT_EQ(post.status, 200);
  EXPECT_TRUE(post.headers.empty());
  EXPECT_TRUE(post.body.empty());
}

TEST_F(ClientsTest, CurlParallelTransfersAllArriveIntact) {
  // 24 transfers at once over separate connections, mixing pages, whole entries and
  // ranges of the stored and the deflated entry.
  std::ostringstream command;
  command << "curl -Z --parallel-max 24";
  struct Expect {
    std::string file;
    std::string data;
  };
  std::vector<Expect> expects;
  for (int i = 0; i < 24; ++i) {
    std::string file = work_ + "/par" + std::to_string(i);
    std::string name;
    uint64_t start = 0, end = 0;
    bool ranged = true;
    switch (i % 4) {
      case 0:
        name = "index.html";
        ranged = false;
        break;
      case 1:
        name = "media/big.bin";
        start = (i * 1000003ull) % (kBig / 2);
        end = start + (1u << 20) - 1;
        break;
      case 2:
        name = "app.js";
        start = i * 40000;
        end = start + 99999;
        break;
      default:
        name = "media/clip.webm";
        ranged = false;
        break;
    }
    const std::string& entry = content_->Entry(name);
    command << (i ? " --next" : "") << " -s -S --http1.1 --max-time 120 -o " << Quote(file);
    if (ranged) {
      command << " -r " << start << "-" << end;
      expects.push_back({file, entry.substr(start, end - start + 1)});
    } else {
      expects.push_back({file, entry});
    }
    command << " " << Quote(content_->Url(name));
  }
  int code = 0;
  std::string err = Shell(command.str() + " 2>&1", &code);
  ASSERT_EQ(code, 0) << err;
  for (const Expect& e : expects) {
    SCOPED_TRACE(e.file);
    std::string got = ReadFile(e.file);
    EXPECT_EQ(got.size(), e.data.size());
    EXPECT_TRUE(got == e.data);
  }
}

}  // namespace
}  // namespace storage::clients
