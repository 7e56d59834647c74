#include <gtest/gtest.h>

#include <string>

#include "utils/encoding.h"
#include "utils/exception.h"

namespace {

std::string N(const std::u16string& s) { return utils::WideToUtf8(s); }

TEST(FormatSystemError, CodeAndOneLineOfText) {
  EXPECT_EQ(N(FormatSystemError(u"Open failed", 0x20001234, 0)), "Open failed [0x20001234] ");
  EXPECT_EQ(N(FormatSystemError(u"", 0xFFFFFFFF, 0xFFFF)), " [0xFFFFFFFF] ");
  // 2 is "file not found" on Windows and ENOENT elsewhere. A language without messages
  // falls back to the neutral lookup: same text.
  std::u16string text = FormatSystemError(u"Open", 2, 0);
  const std::u16string head = u"Open [0x00000002] ";
  ASSERT_GT(text.size(), head.size());
  EXPECT_EQ(text.substr(0, head.size()), head);
  EXPECT_GE(text.back(), 0x20) << "trailing control characters must be cut";
  EXPECT_EQ(text.find(u'\n'), std::u16string::npos);
  for (uint16_t language : {uint16_t{0xFFFF}, uint16_t{0x7C7C}})
    EXPECT_EQ(FormatSystemError(u"Open", 2, language), text) << language;
}

}  // namespace
