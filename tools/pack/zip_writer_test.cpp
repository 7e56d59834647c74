#include "tools/pack/zip_writer.h"

#include <gtest/gtest.h>

#include <sstream>

#include "testing/pack_util.h"

namespace pack {
namespace {

// What the writer writes is read back by real tools in pack_test.cpp; here, its limits.
TEST(ZipWriterTest, RefusesAnArchiveBeyondItsLimit) {
  std::stringstream stream(std::ios::in | std::ios::out | std::ios::binary);
  ZipWriter writer(stream, 1000);
  EXPECT_TRUE(writer.AddBytes("small", Method::Stored, 0, std::string(500, 's')));
  EXPECT_FALSE(writer.AddBytes("big", Method::Stored, 0, testing::RandomBytes(600, 3)));
  EXPECT_NE(std::string::npos, writer.Error().find("does not fit")) << writer.Error();
  EXPECT_FALSE(writer.Finish());
  // The end record alone can push it over the limit too.
  std::stringstream exact(std::ios::in | std::ios::out | std::ios::binary);
  ZipWriter tight(exact, 30 + 1 + 10 + 46 + 1 + 21);
  EXPECT_TRUE(tight.AddBytes("x", Method::Stored, 0, std::string(10, 'x')));
  EXPECT_FALSE(tight.Finish());
}

TEST(ZipWriterTest, DosDateTimes) {
  EXPECT_EQ(0x00210000u, DosDateTime(1980, 1, 1, 0, 0, 0));
  EXPECT_EQ(0x00210000u, DosDateTime(1975, 6, 1, 12, 0, 0));  // clamped to the epoch
  // 2024-05-17 13:45:31: year 44, month 5, day 17 / hour 13, minute 45, 15 two-seconds.
  EXPECT_EQ((44u << 25 | 5u << 21 | 17u << 16) | (13u << 11 | 45u << 5 | 15u),
            DosDateTime(2024, 5, 17, 13, 45, 31));
  EXPECT_EQ(127u, DosDateTime(2200, 1, 1, 0, 0, 0) >> 25);
}

}  // namespace
}  // namespace pack
