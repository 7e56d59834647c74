#include "tools/pack/zip_writer.h"

#include <gtest/gtest.h>

#include <sstream>

namespace pack {
namespace {

// What the writer writes is read back by real tools in pack_test.cpp, where an entry over
// the limit is refused too; here, the end record alone going over it.
TEST(ZipWriterTest, RefusesAnArchiveBeyondItsLimit) {
  for (uint64_t limit : {30 + 1 + 10 + 46 + 1 + 21, 30 + 1 + 10 + 46 + 1 + 22}) {
    std::stringstream out(std::ios::in | std::ios::out | std::ios::binary);
    ZipWriter writer(out, limit);
    EXPECT_TRUE(writer.AddBytes("x", Method::Stored, 0, std::string(10, 'x')));
    EXPECT_EQ(limit == 110, writer.Finish()) << limit;
  }
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
