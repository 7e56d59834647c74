#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "utils/read_stream.h"

namespace utils {
namespace {

TEST(MemoryStreamReader, SeeksFollowTheContractAndReadNothingOutside) {
  MemoryStreamReader s(std::string("0123456789"), u"name");
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
  // Failures answer -1 and leave the position where it was.
  EXPECT_EQ(s.Seek64(0, -5), -1);
  EXPECT_EQ(s.Seek64(7, 3), -1);
  EXPECT_EQ(s.Seek64(1, INT64_MAX), -1);
  EXPECT_EQ(s.Seek64(1, INT64_MIN), -1);
  EXPECT_EQ(s.Seek64(1, 0), 110);
  EXPECT_EQ(s.Seek(1, -120), 0xFFFFFFFFu);
  EXPECT_EQ(s.Seek(0, 1), 1u);
  EXPECT_EQ(s.Seek(1, -1), 0u) << "a negative 32-bit offset is widened with its sign";
  EXPECT_EQ(s.Read(buffer, 2), 2u);
  EXPECT_EQ(std::string(buffer, 2), "01");
  uint8_t byte = 0;
  EXPECT_TRUE(s.ReadByte(byte));
  EXPECT_EQ(byte, '2');
  s.Seek64(2, 0);
  EXPECT_FALSE(s.ReadByte(byte));
}

}  // namespace
}  // namespace utils
