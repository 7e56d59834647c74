#include "content/folder_provider.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <fstream>
#include <random>

#include "testing/zip_builder.h"

namespace storage {
namespace {

namespace fs = std::filesystem;

using amzip::testing::ReadAll;

std::string Gunzip(const std::string& gz) {
  z_stream z{};
  EXPECT_EQ(inflateInit2(&z, 15 + 16), Z_OK);
  std::string out(1 << 16, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(gz.data()));
  z.avail_in = uInt(gz.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = uInt(out.size());
  EXPECT_EQ(inflate(&z, Z_FINISH), Z_STREAM_END);
  out.resize(z.total_out);
  inflateEnd(&z);
  return out;
}

class FolderProviderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    base_ = fs::temp_directory_path() / ("cx-folder-" + std::to_string(std::random_device()()));
    root_ = base_ / "site";
    Write("index.html", "<p>start</p>");
    Write("Guide/Intro.HTML", "<p>intro</p>");
    Write("media/clip.webm", std::string(3000, 'v'));
    Write("css/site.css", std::string(4000, 'a'));
    Write("../secret.txt", "outside");
    Write(".port", "80");
  }
  void TearDown() override { fs::remove_all(base_); }
  void Write(const std::string& name, const std::string& text) {
    fs::create_directories((root_ / name).parent_path());
    std::ofstream(root_ / name, std::ios::binary | std::ios::trunc) << text;
  }
  std::string Body(HttpFolderProvider& provider, const std::string& path) {
    ProviderReply reply = provider.Open(path);
    EXPECT_EQ(reply.head.status, 200) << path;
    return reply.stream ? ReadAll(*reply.stream) : "";
  }
  fs::path base_, root_;
};

TEST_F(FolderProviderTest, FindsFilesAsEntryKeysDoAndReadsThemAtEachRequest) {
  HttpFolderProvider provider(root_);
  ProviderReply r = provider.Open("index.html");
  ASSERT_EQ(r.head.status, 200);
  EXPECT_EQ(r.head.Get("Content-Type"), "text/html");
  EXPECT_EQ(r.head.Get("Content-Length"), "12");
  EXPECT_FALSE(r.head.Get("Last-Modified").empty());
  // Case and separators do not matter, as for the packed archive's entries.
  EXPECT_EQ(Body(provider, "guide/intro.html"), "<p>intro</p>");
  EXPECT_EQ(Body(provider, "GUIDE\\INTRO.html"), "<p>intro</p>");
  EXPECT_EQ(Body(provider, "Guide//Intro.HTML"), "<p>intro</p>");
  // Deflated by the packer: a gzip form as well; media: streamed from disk, no gzip form.
  ProviderReply css = provider.Open("css/site.css");
  EXPECT_EQ(css.head.Get("Content-Type"), "text/css");
  ASSERT_TRUE(css.gzipStream);
  EXPECT_EQ(Gunzip(ReadAll(*css.gzipStream)), std::string(4000, 'a'));
  ProviderReply clip = provider.Open("media/clip.webm");
  EXPECT_EQ(clip.head.Get("Content-Type"), "video/webm");
  EXPECT_FALSE(clip.gzipStream);
  ASSERT_TRUE(clip.stream);
  EXPECT_EQ(ReadAll(*clip.stream), std::string(3000, 'v'));

  // An edit shows at the next request; a deleted file is gone.
  Write("index.html", "<p>edited, longer</p>");
  EXPECT_EQ(Body(provider, "index.html"), "<p>edited, longer</p>");
  fs::remove(root_ / "index.html");
  EXPECT_EQ(provider.Open("index.html").head.status, 404);
}

TEST_F(FolderProviderTest, RefusesWhatThePackerWouldNotPack) {
  HttpFolderProvider provider(root_);
  std::error_code ec;
  fs::create_symlink(base_ / "secret.txt", root_ / "out.txt", ec);
  fs::create_directory_symlink(base_, root_ / "up", ec);
  fs::create_symlink(root_ / "index.html", root_ / "alias.html", ec);
  bool links = !ec;
  for (const char* path : {"../secret.txt", "guide/../../secret.txt", "Guide/../index.html",
                           "./index.html", "/etc/passwd", "\\etc\\passwd", "", "guide", "guide/",
                           "index.html:stream", "c:/x", "no-such.html", "index.html/x", ".port"}) {
    ProviderReply r = provider.Open(path);
    EXPECT_EQ(r.head.status, 404) << path;
    EXPECT_FALSE(r.stream) << path;
  }
  EXPECT_EQ(provider.Open(std::string("index.html\0x", 12)).head.status, 404);
  EXPECT_EQ(provider.Open("\xFF.html").head.status, 404) << "not UTF-8";
  if (links) {
    EXPECT_EQ(provider.Open("out.txt").head.status, 404) << "a link out of the folder";
    EXPECT_EQ(provider.Open("up/secret.txt").head.status, 404) << "a folder link out of it";
    EXPECT_EQ(Body(provider, "alias.html"), "<p>start</p>") << "a link inside it is packed";
    EXPECT_FALSE(HttpFolderProvider::IsInside(root_, root_ / "out.txt"));
    EXPECT_TRUE(HttpFolderProvider::IsInside(root_, root_ / "up" / "site" / "alias.html"));
  }
  // The rule the packer shares: links resolved, the root itself inside, what cannot be
  // resolved outside.
  EXPECT_TRUE(HttpFolderProvider::IsInside(root_, root_));
  EXPECT_TRUE(HttpFolderProvider::IsInside(base_ / "site/../site/", root_ / "Guide"));
  EXPECT_TRUE(HttpFolderProvider::IsInside(root_, root_ / "Guide" / ".." / "index.html"));
  EXPECT_FALSE(HttpFolderProvider::IsInside(root_, base_ / "secret.txt"));
  EXPECT_FALSE(HttpFolderProvider::IsInside(root_ / "Guide", root_ / "index.html"));
  EXPECT_FALSE(HttpFolderProvider::IsInside(root_, root_ / "missing"));
  EXPECT_FALSE(HttpFolderProvider::IsInside(base_ / "missing", root_));
  // A sibling whose name starts with the root's is not inside it.
  fs::create_directories(base_ / "site2");
  std::ofstream(base_ / "site2" / "x.html") << "x";
  EXPECT_FALSE(HttpFolderProvider::IsInside(root_, base_ / "site2" / "x.html"));
}

}  // namespace
}  // namespace storage
