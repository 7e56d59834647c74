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
           // UTF-8 with the flag; "été" in the legacy code page (CP437);
           // UTF-8 bytes without the flag.
           {.name = "\xC3\xA9t\xC3\xA9/caf\xC3\xA9.html", .data = "utf8", .flags = 0x0800},
           {.name = "\x82t\x82.html", .data = "legacy"},
           {.name = "na\xC3\xAFve.txt", .data = "unflagged"},
           {.name = "locked.txt", .data = "secret", .flags = 0x0001}})
          .bytes;
  utils::SharedPtr<amzip::Archive> archive(new amzip::Archive());
  ASSERT_EQ(archive->OpenMemory(bytes.data(), bytes.size(), u"test.zip"), 0);
  HttpZipProvider provider(archive);
  HttpMessage r;
  EXPECT_EQ(provider.GetInfo("Book/INDEX.HTML", r), 200);
  EXPECT_EQ(r.Serialize(),
            "HTTP/1.1 200 OK\r\nContent-Length: 17\r\n"
            "Last-Modified: Wed, 13 Mar 2024 15:41:56 GMT\r\n\r\n");
  for (const char* missing : {"book/", "book", "", "book/index.htm"}) {
    HttpMessage m;
    EXPECT_EQ(provider.GetInfo(missing, m), 404) << missing;
    EXPECT_TRUE(m.headers.empty());
  }
  auto body = [&](const std::string& path, int32_t expected = 200) {
    int32_t status = 200;
    HttpMessage headers;
    auto stream = provider.GetStream(path, status, headers);
    EXPECT_EQ(status, expected) << path;
    std::string out(stream ? stream->GetSize() : 0, '\0');
    EXPECT_EQ(stream ? stream->Read(out.data(), uint32_t(out.size())) : 0u, out.size());
    return out;
  };
  EXPECT_EQ(body("book//index.html/"), "<html>book</html>");
  EXPECT_EQ(body("script/app.js"), "app();");
  EXPECT_EQ(body("no/such/entry", 404), "");
  EXPECT_EQ(body("locked.txt", 500), "") << "refused before any byte, with a status";
  // Non-ASCII names as browsers send them (UTF-8), and the legacy bytes themselves.
  EXPECT_EQ(body("\xC3\xA9t\xC3\xA9/CAF\xC3\xA9.html"), "utf8");
  EXPECT_EQ(body("\xC3\xA9t\xC3\xA9.html"), "legacy");
  EXPECT_EQ(body("\x82t\x82.html"), "legacy");
  EXPECT_EQ(body("na\xC3\xAFve.txt"), "unflagged");
}

}  // namespace
}  // namespace storage
