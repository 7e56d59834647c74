// The server and the archive provider against curl: whole entries, byte ranges of stored
// and deflated entries and parallel transfers from content zipped by Info-ZIP, every body
// compared byte for byte with the entry it came from.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>

#include <sstream>

#include "testing/clients_fixture.h"
#include "testing/test_client.h"

namespace storage::clients {
namespace {

constexpr size_t kBig = 24u << 20;  // stored, larger than any socket buffer
constexpr char kDate[] = "Wed, 14 Jun 2023 09:41:26 GMT";
constexpr char kTag[] = "5764344A6E323239343A364754";  // the entity tag of kDate

class ClientsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // Zip records local times; with UTC everywhere the dates below are exact.
    setenv("TZ", "UTC", 1);
    tzset();
    content_ = new ServedContent({
        {"index.html", "<!doctype html><title>Start</title>" + std::string(3000, 'i')},
        {"app.js", ScriptText(1500000)},  // deflated
        {"media/clip.webm", ReadFile(SourceDir() + "/examples/demo/media/clip.webm")},
        {"media/big.bin", ScriptText(kBig)},
    });
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
  static Reply Curl(const std::string& options, const std::string& name) {
    std::string head = work_ + "/head", body = work_ + "/body";
    int exit = 0;
    std::string err =
        Shell("curl -s -S --http1.1 --max-time 60 -D " + Quote(head) + " -o " + Quote(body) + " " +
                  options + " " + Quote(content_->Url(name)) + " 2>&1",
              &exit);
    EXPECT_EQ(exit, 0) << "curl " << options << " " << name << ": " << err;
    Reply reply = ParseHead(ReadFile(head));
    reply.body = ReadFile(body);
    return reply;
  }

  static ServedContent* content_;
  static std::string work_;
};
ServedContent* ClientsTest::content_ = nullptr;
std::string ClientsTest::work_;

// Whole entries with the head of their kind, then ranges of the stored and the deflated
// entry (a deflated range has to be inflated past everything before it).
TEST_F(ClientsTest, CurlGetsEntriesAndRangesByteForByte) {
  const uint64_t big = kBig, js = content_->Entry("app.js").size();
  struct Case {
    const char* name;
    const char* type;  // whole entries: the start of Content-Type
    std::string range;
    uint64_t start, end;  // ranges: the bytes asked for, inclusive
  } cases[] = {
      {"index.html", "text/html"},
      {"app.js", "application/javascript"},
      {"media/clip.webm", "video/webm"},
      {"media/big.bin", ""},  // no type of its own
      {"media/big.bin", "", "-100", big - 100, big - 1},
      {"media/big.bin", "", "65535-65536", 65535, 65536},
      {"app.js", "", "700000-800123", 700000, 800123},
      {"app.js", "", "-70000", js - 70000, js - 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " " + c.range);
    const std::string& entry = content_->Entry(c.name);
    const bool servedAsMedia = !c.range.empty() || std::string(c.type) == "video/webm";
    Reply r = Curl(c.range.empty() ? "" : "-r " + c.range, c.name);
    if (c.range.empty()) {
      EXPECT_EQ(r.status, 200);
      EXPECT_EQ(r.Value("Content-Type").rfind(c.type, 0), 0u) << r.Value("Content-Type");
      EXPECT_TRUE(r.body == entry);
    } else {
      EXPECT_EQ(r.status, 206);
      EXPECT_EQ(r.reason, "Partial Content");
      EXPECT_EQ(r.Value("Content-Range"), "bytes " + std::to_string(c.start) + "-" +
                                              std::to_string(c.end) + "/" +
                                              std::to_string(entry.size()));
      EXPECT_TRUE(r.body == entry.substr(c.start, c.end - c.start + 1));
    }
    EXPECT_EQ(r.Value("Content-Length"), std::to_string(r.body.size()));
    EXPECT_EQ(r.Value("Last-Modified"), kDate);
    EXPECT_EQ(r.Value("ETag"), servedAsMedia ? kTag : "<absent>");
    EXPECT_EQ(r.Value("Cache-Control"), servedAsMedia ? "<absent>" : "max-age=5");
  }
}

// A deflated entry goes to a client that accepts gzip as its raw deflate data in a gzip
// member: curl and Python's gzip module inflate it back to the entry, HEAD shows the same
// head, and a client that does not ask gets the plain bytes, each form with its own tag.
TEST_F(ClientsTest, GzipClientsGetTheDeflatedDataAsItIs) {
  const std::string& entry = content_->Entry("app.js");
  Reply gz = Curl("--compressed", "app.js");
  EXPECT_EQ(gz.status, 200);
  EXPECT_EQ(gz.Value("Content-Encoding"), "gzip");
  EXPECT_EQ(gz.Value("Vary"), "Origin, Accept-Encoding");
  EXPECT_EQ(gz.Value("ETag"), std::string(kTag) + "-gzip");
  EXPECT_LT(std::stoull(gz.Value("Content-Length")), entry.size() / 2);
  EXPECT_TRUE(gz.body == entry);
  Reply head = Curl("-I -H 'Accept-Encoding: gzip'", "app.js");
  EXPECT_EQ(head.headers.size(), gz.headers.size());
  for (const auto& [name, value] : gz.headers) {
    if (name != "Date") EXPECT_EQ(head.Value(name), value) << name;
  }
  // A range asked with gzip admitted is cut from the plain bytes, never from the gzip form.
  Reply ranged = Curl("-H 'Accept-Encoding: gzip' -r 700000-800123", "app.js");
  EXPECT_EQ(ranged.status, 206);
  EXPECT_EQ(ranged.Value("Content-Encoding"), "<absent>");
  EXPECT_EQ(ranged.Value("Content-Range"),
            "bytes 700000-800123/" + std::to_string(entry.size()));
  EXPECT_TRUE(ranged.body == entry.substr(700000, 100124));
  Reply plain = Curl("", "app.js");
  EXPECT_EQ(plain.Value("Content-Encoding"), "<absent>");
  EXPECT_EQ(plain.Value("Vary"), "Origin, Accept-Encoding");
  EXPECT_EQ(plain.Value("ETag"), "<absent>");
  EXPECT_TRUE(plain.body == entry);
  // Python's client sends the header itself and leaves the body to the gzip module.
  const std::string out = work_ + "/py.js";
  int code = 0;
  std::string err = Shell(
      "python3 -c " +
          Quote("import gzip, http.client, sys\n"
                "c = http.client.HTTPConnection('127.0.0.1', " + std::to_string(content_->Port()) +
                ")\n"
                "c.request('GET', '/" + content_->Prefix() + "app.js', headers={'Accept-Encoding': 'gzip'})\n"
                "r = c.getresponse()\n"
                "assert r.status == 200 and r.getheader('Content-Encoding') == 'gzip'\n"
                "open(sys.argv[1], 'wb').write(gzip.decompress(r.read()))\n") +
          " " + Quote(out) + " 2>&1",
      &code);
  ASSERT_EQ(code, 0) << err;
  EXPECT_TRUE(ReadFile(out) == entry);
}

TEST_F(ClientsTest, CurlParallelTransfersAllArriveIntact) {
  // 24 transfers at once over separate connections: pages, whole entries and ranges of
  // the stored and the deflated entry.
  std::ostringstream command;
  command << "curl -Z --parallel-max 24";
  std::vector<std::pair<std::string, std::string>> expects;  // file, bytes
  const char* names[] = {"index.html", "media/big.bin", "app.js", "media/clip.webm"};
  for (int i = 0; i < 24; ++i) {
    const std::string& entry = content_->Entry(names[i % 4]);
    const std::string file = work_ + "/par" + std::to_string(i);
    command << (i ? " --next" : "") << " -s -S --http1.1 --max-time 120 -o " << Quote(file) << " "
            << Quote(content_->Url(names[i % 4]));
    if (i % 4 == 1 || i % 4 == 2) {
      const uint64_t start = i % 4 == 1 ? (i * 1000003ull) % (kBig / 2) : i * 40000;
      const uint64_t length = i % 4 == 1 ? 1u << 20 : 100000;
      command << " -r " << start << "-" << start + length - 1;
      expects.emplace_back(file, entry.substr(start, length));
    } else {
      expects.emplace_back(file, entry);
    }
  }
  int code = 0;
  std::string err = Shell(command.str() + " 2>&1", &code);
  ASSERT_EQ(code, 0) << err;
  for (const auto& [file, data] : expects) EXPECT_TRUE(ReadFile(file) == data) << file;
}

// An archive read from its file, as the runner reads its own: stored entries go from the
// file to the socket (sendfile on Linux), whole and in ranges byte for byte, and an entry
// with one wrong byte is cut before its last byte: its CRC-32 is checked ahead of what
// the system sends.
TEST(ClientsFileTest, StoredEntriesFromTheFileKeepTheCrcPromise) {
  if (!HaveCommand("curl")) GTEST_SKIP() << "curl not installed";
  const std::string big = ScriptText(6u << 20);
  const std::string bad(big.rbegin(), big.rbegin() + (3u << 20));
  ServedContent content({{"index.html", "start"}, {"media/big.bin", big}, {"media/bad.bin", bad}},
                        ServedContent::FromFile{"media/bad.bin"});
  ASSERT_TRUE(content.Ok());
  const std::string work = MakeTempDir();
  for (const std::string range : {"", "1000000-4999999", "6000000-", "-70000"}) {
    const std::string file = work + "/body";
    int code = 0;
    const std::string err = Shell("curl -s -S --http1.1 --max-time 60 -o " + Quote(file) +
                                      (range.empty() ? "" : " -r " + range) + " " +
                                      Quote(content.Url("media/big.bin")) + " 2>&1",
                                  &code);
    EXPECT_EQ(code, 0) << range << ": " << err;
    const size_t start = range.empty() ? 0 : range[0] == '-' ? big.size() - 70000 : range[0] == '6' ? 6000000 : 1000000;
    const size_t length = range.empty() || range[0] != '1' ? big.size() - start : 4000000;
    EXPECT_TRUE(ReadFile(file) == big.substr(start, length)) << range;
  }
  RemoveTree(work);

  std::string corrupted = bad;
  corrupted[bad.size() / 2] ^= 0x20;
  // Also with a send budget per event larger than the check-ahead step.
  ServedContent largeTurn({{"media/bad.bin", bad}}, ServedContent::FromFile{"media/bad.bin", 8u << 20});
  ASSERT_TRUE(largeTurn.Ok());
  for (const ServedContent* served : {&content, &largeTurn}) {
    const test::ClientSocket s = test::Connect(served->Port());
    ASSERT_NE(s, -1);
    ASSERT_TRUE(test::SendText(s, "GET /c0ffee/media/bad.bin HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"));
    const std::string reply = test::ReceiveAll(s);  // the server closes: the length is not kept
    test::CloseSocket(s);
    const size_t headEnd = reply.find("\r\n\r\n");
    ASSERT_NE(headEnd, std::string::npos) << reply.substr(0, 200);
    EXPECT_NE(reply.find("Content-Length: " + std::to_string(bad.size()) + "\r\n"),
              std::string::npos);
    const std::string body = reply.substr(headEnd + 4);
    EXPECT_LT(body.size(), bad.size()) << "the last byte went out before the CRC-32 was checked";
    EXPECT_TRUE(body == corrupted.substr(0, body.size())) << "what went out is the file's bytes";
  }
}

}  // namespace
}  // namespace storage::clients
