#include "content/http_zip_provider.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "httpserver/http_server.h"
#include "testing/test_client.h"
#include "testing/zip_builder.h"

namespace storage {
namespace {

using amzip::testing::BuildZip;

std::string Pattern(size_t n) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 7 + i / 13) & 0xFF);
  return s;
}

std::string ReadAll(utils::ReadStreamI& stream) {
  std::string out;
  char buffer[4096];
  for (uint32_t got = 0; stream.Read(buffer, sizeof(buffer), got) && got > 0;)
    out.append(buffer, got);
  return out;
}

class ZipProviderTest : public ::testing::Test {
 protected:
  void SetUp() override {
#ifndef _WIN32
    setenv("TZ", "UTC", 1);
    tzset();
#endif
    bytes =
        BuildZip({{.name = "book/index.html",
                   .data = "<html>book</html>",
                   .modTime = (15 << 11) | (41 << 5) | (56 / 2),
                   .modDate = ((2024 - 1980) << 9) | (3 << 5) | 13},
                  {.name = "media/clip.mp4", .data = Pattern(300000)},
                  {.name = "script/app.js", .data = std::string(200000, 'x') + "end", .method = 8},
                  {.name = "empty.txt"},
                  // UTF-8 with the flag; "été" in the legacy code page (CP437); UTF-8
                  // bytes without the flag.
                  {.name = "\xC3\xA9t\xC3\xA9/caf\xC3\xA9.html", .data = "utf8", .flags = 0x0800},
                  {.name = "\x82t\x82.html", .data = "legacy"},
                  {.name = "na\xC3\xAFve.txt", .data = "unflagged"}})
            .bytes;
    archive = utils::SharedPtr<amzip::Archive>(new amzip::Archive());
    ASSERT_EQ(archive->OpenMemory(bytes.data(), bytes.size(), u"test.zip"), 0);
  }
  void TearDown() override { archive->Close(); }

  int32_t Info(const std::string& path, HttpMessage& response) {
    return HttpZipProvider(archive).GetInfo(path, response);
  }
  std::string Body(const std::string& path) {
    int32_t status = 200;
    HttpMessage headers;
    auto stream = HttpZipProvider(archive).GetStream(path, status, headers);
    EXPECT_TRUE(stream);
    EXPECT_EQ(status, 200);
    return stream ? ReadAll(*stream) : "<none>";
  }

  std::string bytes;
  utils::SharedPtr<amzip::Archive> archive;
};

TEST_F(ZipProviderTest, InfoOfEntries) {
  HttpMessage r;
  EXPECT_EQ(Info("Book/INDEX.HTML", r), 200);
  EXPECT_EQ(r.Serialize(),
            "HTTP/1.1 200 OK\r\nContent-Length: 17\r\n"
            "Last-Modified: Wed, 13 Mar 2024 15:41:56 GMT\r\n\r\n");
  HttpMessage e;
  EXPECT_EQ(Info("empty.txt", e), 200);
  EXPECT_EQ(e.Get("Content-Length"), "0");
  for (const char* missing : {"book/", "book", "", "nothing.html", "book/index.htm"}) {
    HttpMessage m;
    EXPECT_EQ(Info(missing, m), 404) << missing;
    EXPECT_TRUE(m.headers.empty());
  }
  int32_t status = 200;  // posted data is not kept
  EXPECT_FALSE(HttpZipProvider(archive).PostStream("x", "a=1", status, u""));
  EXPECT_EQ(status, 200);
}

TEST_F(ZipProviderTest, StreamsReadTheEntriesByTheirKeys) {
  EXPECT_EQ(Body("book\\index.html"), "<html>book</html>");
  EXPECT_EQ(Body("book//index.html/"), "<html>book</html>");
  EXPECT_EQ(Body("media/clip.mp4"), Pattern(300000));
  EXPECT_EQ(Body("script/app.js"), std::string(200000, 'x') + "end");
  // A deflated entry is inflated once and kept; a range starts anywhere in the kept bytes.
  for (int round = 0; round < 2; ++round) {
    int32_t status = 200;
    HttpMessage headers;
    auto stream = HttpZipProvider(archive).GetStream("script/app.js", status, headers);
    EXPECT_EQ(stream->GetSize(), 200003u);
    stream->Seek64(0, 199990);
    EXPECT_EQ(ReadAll(*stream), "xxxxxxxxxxend") << round;
  }
  EXPECT_EQ(Body("empty.txt"), "");
  EXPECT_EQ(Body("no/such/entry"), "");  // an empty stream, not an empty pointer
  // Non-ASCII names as browsers send them (UTF-8).
  EXPECT_EQ(Body("\xC3\xA9t\xC3\xA9/CAF\xC3\xA9.html"), "utf8");
  EXPECT_EQ(Body("\xC3\xA9t\xC3\xA9.html"), "legacy");
  EXPECT_EQ(Body("\x82t\x82.html"), "legacy");  // the legacy bytes themselves (OEM code page)
  EXPECT_EQ(Body("na\xC3\xAFve.txt"), "unflagged");
  HttpMessage r;
  EXPECT_EQ(Info("\xC3\xA9t\xC3\xA9.html", r), 200);
  EXPECT_EQ(r.Get("Content-Length"), "6");
}

TEST_F(ZipProviderTest, ServedOverLoopback) {
  HttpZipProvider zip(archive);
  HttpServer server(false);
  server.SetRunPrefix("ab/");
  uint16_t port = test::PortOf(server.Start(-1, u""));
  server.SetProvider(&zip);
  std::string r =
      test::Exchange(port, "GET /ab/media/clip.mp4 HTTP/1.1\r\nRange: bytes=1000-1999\r\n\r\n");
  EXPECT_EQ(r.rfind("HTTP/1.1 206 Partial Content\r\nContent-Type: video/mp4\r\n"
                    "Content-Length: 1000\r\n",
                    0),
            0u);
  EXPECT_NE(r.find("Content-Range: bytes 1000-1999/300000\r\n"), std::string::npos);
  EXPECT_EQ(r.substr(r.find("\r\n\r\n") + 4), Pattern(300000).substr(1000, 1000));
  EXPECT_EQ(
      test::Exchange(port, "GET /ab/%C3%A9t%C3%A9/caf%C3%A9.html HTTP/1.1\r\n\r\n").substr(0, 15),
      "HTTP/1.1 200 OK");
  EXPECT_EQ(test::Exchange(port, "GET /ab/book/ HTTP/1.1\r\n\r\n"), "HTTP/1.1 404 \r\n\r\n");
}

}  // namespace
}  // namespace storage
