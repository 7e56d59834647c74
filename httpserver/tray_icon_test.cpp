#include "httpserver/tray_icon.h"

#include <gtest/gtest.h>

namespace storage {
namespace {

TEST(NotificationTip, UrlAndPrefixThenTheCaptionOnTheSecondLine) {
  EXPECT_EQ(MakeNotificationTip("http://localhost:8080/", "1a2b3c/", u""),
            u"http://localhost:8080/1a2b3c/");
  EXPECT_EQ(MakeNotificationTip("http://localhost:5/", "f/", u"Atlas \u00e9t\u00e9"),
            u"http://localhost:5/f/\nAtlas \u00e9t\u00e9");
}

TEST(NotificationTip, CutAtTheRecordSize) {
  // 23 + 9 = 32 units before the caption, then the line break: 94 units fit exactly.
  const std::string url = "http://localhost:65535/", prefix = "ffffffff/";
  const std::u16string whole = u"http://localhost:65535/ffffffff/\n" + std::u16string(95, u'x');
  EXPECT_EQ(MakeNotificationTip(url, prefix, std::u16string(94, u'x')), whole.substr(0, 127));
  // One more: cut to 124 + "...".
  EXPECT_EQ(MakeNotificationTip(url, prefix, std::u16string(95, u'x')),
            whole.substr(0, 124) + u"...");
}

TEST(NotificationTip, CutNeverSplitsASurrogatePair) {
  // 32 + 1 + 90 = 123 units, then pairs from unit 124 on (1-based): 129 units in all.
  std::u16string caption(90, u'y');
  caption += u"\U0001F600\U0001F600\U0001F600";
  std::u16string tip = MakeNotificationTip("http://localhost:65535/", "ffffffff/", caption);
  ASSERT_EQ(tip.substr(tip.size() - 3), u"...");
  EXPECT_EQ(tip.size(), 126u);  // 123 kept, the lone high half dropped
  char16_t last = tip[tip.size() - 4];
  EXPECT_FALSE(last >= 0xD800 && last <= 0xDBFF);
}

}  // namespace
}  // namespace storage
