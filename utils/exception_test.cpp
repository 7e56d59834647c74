#include "utils/exception.h"

#include <gtest/gtest.h>

#include <memory>

#include "utils/allocator.h"
#include "utils/encoding.h"

namespace utils {
namespace {

TEST(ExceptionText, LayoutsOfTypeLocationAndMessage) {
  EXPECT_EQ(Exception(u"", u"").GetText(), u"Exception");
  EXPECT_EQ(Exception(u"Seek failed", u"File::Seek64").GetText(),
            u"Exception in 'File::Seek64'\nSeek failed");
  EXPECT_EQ(CantWriteException(u"", u"File::Flush").GetText(),
            u"CantWriteException in 'File::Flush'");
  EXPECT_EQ(ParameterException(u"zero-ptr passed", u"").GetText(),
            u"ParameterException\nzero-ptr passed");
  ExhaustedException e(u"Insufficient Memory", u"Allocator::ReAlloc");
  std::unique_ptr<Exception> copy(static_cast<const Exception&>(e).Clone());
  EXPECT_NE(dynamic_cast<ExhaustedException*>(copy.get()), nullptr) << "Clone keeps the class";
  EXPECT_EQ(copy->GetText(), e.GetText());
  EXPECT_EQ(FormatSourceLocation(nullptr, 7), u", line 7");
  EXPECT_EQ(FormatSourceLocation(u"c:\\src/utils\\file.cpp", 251), u"file.cpp, line 251");
  struct NullAllocator : CPPAllocator {
    void* Alloc(size_t) override { return nullptr; }
  } allocator;
  EXPECT_THROW(allocator.ReAlloc(nullptr, 16, 0), ExhaustedException) << "when Alloc fails";
}

TEST(FormatSystemError, CodeAndOneLineOfText) {
  EXPECT_EQ(WideToUtf8(FormatSystemError(u"Open failed", 0x20001234, 0)),
            "Open failed [0x20001234] ");
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
}  // namespace utils
