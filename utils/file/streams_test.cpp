#include "utils/file/streams.h"

#include <gtest/gtest.h>

#include "utils/exception.h"
#include "utils/file/test_files.h"

namespace utils {
namespace {

using ReadFileStreamTest = testing::ScratchDir;

TEST_F(ReadFileStreamTest, MissingFileIsAnEmptyClosedStreamAnOpenOneForwards) {
  ReadFileStream missing(WidePath("missing.json"));
  EXPECT_FALSE(missing.IsOpen());
  EXPECT_EQ(missing.GetSize(), 0u);
  char buf[4];
  uint32_t got = 9;
  EXPECT_FALSE(missing.Read(buf, 4, got));
  EXPECT_EQ(got, 0u);
  uint8_t b = 0x55;
  EXPECT_FALSE(missing.ReadByte(b));
  EXPECT_EQ(missing.Seek64(0, 0), -1);
  EXPECT_FALSE(missing.CheckCacheFlags(0));
  missing.SetCacheFlags(3);  // no file: nothing to refuse

  // Reading an open one is checked by the JSON round trips; here what it adds to File.
  ReadFileStream stream(WriteBytes("data.bin", "0123456789"));
  EXPECT_EQ(stream.Seek64(2, -1), 9);
  EXPECT_EQ(stream.Seek64(0, -4), -1) << "a failed seek answers -1, it does not throw";
  EXPECT_EQ(stream.Seek64(1, 0), 9);
  EXPECT_TRUE(stream.CheckCacheFlags(7));
  EXPECT_FALSE(stream.CheckCacheFlags(8));
  EXPECT_THROW(stream.SetCacheFlags(3), NotImplementedException);
  stream.Close();
  EXPECT_FALSE(stream.IsOpen());
}

}  // namespace
}  // namespace utils
