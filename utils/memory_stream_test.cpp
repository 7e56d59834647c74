#include <gtest/gtest.h>

#include <string>

#include "utils/read_stream.h"

namespace utils {
namespace {

// The seek is shared with StreamReader (UnboundedSeek); its origins are tested here.
TEST(MemoryStreamReader, SeeksAreUnboundedAndReadNothingOutside) {
  std::string text = "0123456789";
  MemoryStreamReader s(SharedPtr<ByteVector>(new ByteVector(text.begin(), text.end())), u"name");
  char buffer[4];
  EXPECT_EQ(s.Seek64(2, -3), 7);
  const uint8_t* data = nullptr;
  uint64_t size = 0;
  ASSERT_TRUE(s.PeekMemory(data, size));  // follows the position
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(data), size), "789");
  EXPECT_EQ(s.Read(buffer, 4), 3u);
  EXPECT_EQ(s.Seek64(1, 100), 110);
  EXPECT_EQ(s.Read(buffer, 4), 0u);
  ASSERT_TRUE(s.PeekMemory(data, size));
  EXPECT_EQ(size, 0u);
  // A position before the start reads as negative: nothing, not a wild copy.
  EXPECT_EQ(s.Seek64(0, -5), -5);
  EXPECT_EQ(s.Read(buffer, 4), 0u);
  EXPECT_EQ(s.Seek64(7, 3), -5);  // an unknown origin leaves the position alone
  EXPECT_EQ(s.Seek(0, 1), 1u);
  EXPECT_EQ(s.Seek(1, -1), 0u) << "a negative 32-bit offset is widened with its sign";
  EXPECT_EQ(s.Read(buffer, 2), 2u);
  EXPECT_EQ(std::string(buffer, 2), "01");
}

}  // namespace
}  // namespace utils
