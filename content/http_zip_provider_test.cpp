#include "content/http_zip_provider.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "testing/zip_builder.h"

namespace storage {
namespace {

// Whole entries and ranges over HTTP are checked with curl in httpserver/clients_test.cpp;
// here, how request paths find entries and what their headers say.
TEST(ZipProviderTest, FindsEntriesByKeyAndName) {
#ifndef _WIN32
  setenv("TZ", "UTC", 1);
  tzset();
#endif
  std::string bytes =
      amzip::testing::BuildZip(
          {{.name = "book/index.html",
            .data = "<html>book</html>",
            .modTime = (15 << 11) | (41 << 5) | (56 / 2),
            .modDate = ((2024 - 1980) << 9) | (3 << 5) | 13},
           {.name = "script/app.js", .data = "app();", .method = 8},
           {.name = "book/"},  // a folder's own record
           // Deflated data that does not inflate.
           {.name = "bad.js", .data = "app();", .method = 8, .payload = std::string(8, '\xFF')},
           // UTF-8 with the flag; "été" in the legacy code page (CP437);
           // UTF-8 bytes without the flag.
           {.name = "\xC3\xA9t\xC3\xA9/caf\xC3\xA9.html", .data = "utf8", .flags = 0x0800},
           {.name = "\x82t\x82.html", .data = "legacy"},
           {.name = "na\xC3\xAFve.txt", .data = "unflagged"},
           {.name = "locked.txt", .data = "secret", .flags = 0x0001},
           {.name = ".port", .data = std::string("8\0", 2)},
           {.name = ".well-known/a.txt", .data = "served"}})
          .bytes;
  utils::SharedPtr<amzip::Archive> archive(new amzip::Archive());
  ASSERT_EQ(archive->OpenMemory(bytes.data(), bytes.size(), u"test.zip"), 0);
  HttpZipProvider provider(archive);
  ProviderReply r = provider.Open("Book/INDEX.HTML");
  EXPECT_EQ(r.head.Serialize(),
            "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: 17\r\n"
            "Last-Modified: Wed, 13 Mar 2024 15:41:56 GMT\r\n\r\n");
  EXPECT_EQ(provider.Open("script/app.js").head.Get("Content-Type"), "application/javascript");
  // Control entries are not content, however the path names them.
  for (const char* missing : {"book/", "book", "", "book/index.htm", "no/such/entry", ".port",
                              ".PORT", "./.port", "book/../.port"}) {
    ProviderReply m = provider.Open(missing);
    EXPECT_EQ(m.head.status, 404) << missing;
    EXPECT_TRUE(m.head.headers.empty());
    EXPECT_FALSE(m.stream);
  }
  // Refused before a status line goes out, with a length of its own.
  ProviderReply bad = provider.Open("bad.js");
  EXPECT_EQ(bad.head.Serialize(), "HTTP/1.1 500 Internal Server Error\r\nContent-Length: 0\r\n\r\n");
  EXPECT_FALSE(bad.stream);
  EXPECT_EQ(provider.Open("locked.txt").head.status, 500) << "encrypted: refused, not served";
  auto body = [&](const std::string& path) {
    ProviderReply reply = provider.Open(path);
    EXPECT_EQ(reply.head.status, 200) << path;
    std::string out(reply.stream ? reply.stream->GetSize() : 0, '\0');
    EXPECT_EQ(reply.stream ? reply.stream->Read(out.data(), uint32_t(out.size())) : 99, out.size());
    return out;
  };
  // A deflated entry also comes as one gzip member over its raw data; a stored one not.
  ProviderReply js = provider.Open("script/app.js");
  ASSERT_TRUE(js.gzipStream);
  std::string member(js.gzipStream->GetSize(), '\0');
  ASSERT_EQ(js.gzipStream->Read(member.data(), uint32_t(member.size())), member.size());
  z_stream z{};
  ASSERT_EQ(inflateInit2(&z, 16 + MAX_WBITS), Z_OK);  // gzip framing, trailer checked
  char out[64];
  z.next_in = reinterpret_cast<Bytef*>(member.data());
  z.avail_in = uInt(member.size());
  z.next_out = reinterpret_cast<Bytef*>(out);
  z.avail_out = sizeof(out);
  EXPECT_EQ(inflate(&z, Z_FINISH), Z_STREAM_END);
  EXPECT_EQ(std::string(out, sizeof(out) - z.avail_out), "app();");
  EXPECT_EQ(z.avail_in, 0u);
  inflateEnd(&z);
  EXPECT_FALSE(provider.Open("book/index.html").gzipStream);
  EXPECT_EQ(body("book//index.html/"), "<html>book</html>");
  EXPECT_EQ(body("script/app.js"), "app();");
  // Non-ASCII names as browsers send them (UTF-8), and the legacy bytes themselves.
  EXPECT_EQ(body("\xC3\xA9t\xC3\xA9/CAF\xC3\xA9.html"), "utf8");
  EXPECT_EQ(body("\xC3\xA9t\xC3\xA9.html"), "legacy");
  EXPECT_EQ(body("\x82t\x82.html"), "legacy");
  EXPECT_EQ(body("na\xC3\xAFve.txt"), "unflagged");
  EXPECT_EQ(body(".well-known/a.txt"), "served");  // a dotted folder is content
}

// Paths are remembered between requests; an archive opened again must not be answered
// from what the old one held.
TEST(ZipProviderTest, AnArchiveOpenedAgainIsLookedUpAgain) {
  std::string first = amzip::testing::BuildZip({{.name = "a.txt", .data = "one"}}).bytes;
  std::string second =
      amzip::testing::BuildZip({{.name = "a.txt", .data = "two!", .method = 8},
                                {.name = "b.txt", .data = "bee"}})
          .bytes;
  utils::SharedPtr<amzip::Archive> archive(new amzip::Archive());
  ASSERT_EQ(archive->OpenMemory(first.data(), first.size(), u"first.zip"), 0);
  HttpZipProvider provider(archive);
  EXPECT_EQ(provider.Open("a.txt").head.Get("Content-Length"), "3");
  EXPECT_EQ(provider.Open("b.txt").head.status, 404);
  archive->Close();
  ASSERT_EQ(archive->OpenMemory(second.data(), second.size(), u"second.zip"), 0);
  ProviderReply a = provider.Open("a.txt");
  ASSERT_EQ(a.head.Get("Content-Length"), "4");
  std::string bytes(4, '\0');
  ASSERT_TRUE(a.stream);
  EXPECT_EQ(a.stream->Read(bytes.data(), 4), 4u);
  EXPECT_EQ(bytes, "two!");
  EXPECT_EQ(provider.Open("b.txt").head.status, 200);
}

}  // namespace
}  // namespace storage
