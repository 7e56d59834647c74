#include "content/content_type.h"

#include <gtest/gtest.h>

namespace storage {
namespace {

TEST(GetContentType, Lookups) {
  // clang-format off
  const std::pair<const char*, const char*> cases[] = {
      {"book/BO_1/compound.PDF", "application/pdf"}, {"slide/x/slide.js?v=3", "application/javascript"},
      {"dir.old/readme", "DEFAULT"}, {"archive.tar.gz", "DEFAULT"}, {"file.", "DEFAULT"},
      {"x/.htaccess", "DEFAULT"}, {"folder\\page.HTM", "text/html"}, {"a\\b.c/d", "DEFAULT"},
      {"", "DEFAULT"}, {"?x.js", "DEFAULT"}, {"a.mp4?x.js", "video/mp4"},
      {"nav.mnv", "application/x-morvane-navigation"}, {"v.WEBM", "video/webm"},
      {"e.\xC9XE", "DEFAULT"},
  };
  // clang-format on
  for (const auto& [path, type] : cases) EXPECT_EQ(GetContentType(path, "DEFAULT"), type) << path;
}

}  // namespace
}  // namespace storage
