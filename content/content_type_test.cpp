#include "content/content_type.h"

#include <gtest/gtest.h>

namespace storage {
namespace {

TEST(GetContentType, Lookups) {
  // clang-format off
  const std::pair<const char*, const char*> cases[] = {
      {"book/BO_1/compound.PDF", "application/pdf"}, {"folder\\page.HTM", "text/html"},
      {"slide/x/slide.js?v=3", "application/javascript"}, {"v.WEBM", "video/webm"},
      {"dir.old/readme", "DEFAULT"}, {"archive.tar.gz", "DEFAULT"}, {"file.", "DEFAULT"},
      {"x/.htaccess", "DEFAULT"}, {"a\\b.c/d", "DEFAULT"}, {"", "DEFAULT"}, {"?x.js", "DEFAULT"},
      {"a.mp4?x.js", "video/mp4"}, {"e.\xC9XE", "DEFAULT"},
      {"nav.mnv", "application/x-morvane-navigation"},
  };
  // clang-format on
  for (const auto& [path, type] : cases) EXPECT_EQ(GetContentType(path, "DEFAULT"), type) << path;
}

}  // namespace
}  // namespace storage
