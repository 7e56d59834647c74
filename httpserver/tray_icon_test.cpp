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
  const std::string url = "http://localhost:65535/";  // 23
  const std::string prefix = "ffffffff/";             // 9 -> 32 before the caption
  struct Case {
    size_t captionLength;
    size_t expectedLength;
    bool cut;
  } cases[] = {
      {94, 127, false},  // 32 + 1 + 94 = 127: fits exactly
      {95, 127, true},   // one more: cut to 124 + "..."
      {400, 127, true},
  };
  for (const Case& c : cases) {
    std::u16string caption(c.captionLength, u'x');
    std::u16string tip = MakeNotificationTip(url, prefix, caption);
    EXPECT_EQ(tip.size(), c.expectedLength) << c.captionLength;
    bool endsWithDots = tip.size() >= 3 && tip.substr(tip.size() - 3) == u"...";
    EXPECT_EQ(endsWithDots, c.cut) << c.captionLength;
    if (c.cut) {
      std::u16string whole = u"http://localhost:65535/ffffffff/\n" + caption;
      EXPECT_EQ(tip.substr(0, 124), whole.substr(0, 124));
    }
  }
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
