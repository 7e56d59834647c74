#include "content/content_type.h"

#include <gtest/gtest.h>

namespace storage {
namespace {

TEST(GetContentType, Lookups) {
  // clang-format off
  const std::pair<const char*, const char*> cases[] = {
      {"book/BO_1/compound.PDF", "application/pdf"}, {"folder\\page.HTM", "text/html"},
      {"slide/x/slide.js?v=3", "application/javascript"}, {"v.WEBM", "video/webm"},
      {"dir.old/readme", "DEFAULT"}, {"archive.tar.bak", "DEFAULT"}, {"file.", "DEFAULT"},
      {"x/.htaccess", "DEFAULT"}, {"a\\b.c/d", "DEFAULT"}, {"", "DEFAULT"}, {"?x.js", "DEFAULT"},
      {"a.mp4?x.js", "video/mp4"}, {"e.\xC9XE", "DEFAULT"},
      {"nav.mnv", "application/x-morvane-navigation"},
  };
  // clang-format on
  for (const auto& [path, type] : cases) EXPECT_EQ(GetContentType(path, "DEFAULT"), type) << path;
}

TEST(IsStoredExtension, StoredFormatsHaveTheirTypes) {
  const std::pair<const char*, const char*> stored[] = {
      {"mkv", "video/x-matroska"}, {"opus", "audio/opus"}, {"flac", "audio/flac"},
      {"aac", "audio/aac"},        {"heic", "image/heic"}, {"gz", "application/gzip"},
      {"mp4", "video/mp4"},        {"jpg", "image/jpeg"},  {"woff2", "application/font-woff2"}};
  for (const auto& [extension, type] : stored) {
    EXPECT_TRUE(IsStoredExtension(extension)) << extension;
    EXPECT_EQ(GetContentType(std::string("a.") + extension, "DEFAULT"), type) << extension;
  }
  for (const char* deflated : {"html", "js", "css", "svg", "txt", "MP4", "unknown", ""}) {
    EXPECT_FALSE(IsStoredExtension(deflated)) << deflated;
  }
}

}  // namespace
}  // namespace storage
