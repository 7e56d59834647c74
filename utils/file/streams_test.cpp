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
  EXPECT_TRUE(stream.CheckCacheFlags(7));
  EXPECT_FALSE(stream.CheckCacheFlags(8));
  EXPECT_THROW(stream.SetCacheFlags(3), NotImplementedException);
  stream.Close();
  EXPECT_FALSE(stream.IsOpen());
}

// Seeking is shared with MemoryStreamReader (UnboundedSeek) and tested with it.
TEST(StreamReader, ReadsNothingOutsideTheData) {
  StreamReader stream("hello world", u"mem");
  char buf[32] = {};
  uint32_t got = 0;
  EXPECT_EQ(stream.Read(buf, 5), 5u);
  EXPECT_TRUE(stream.Read(buf, 32, got));
  EXPECT_EQ(std::string(buf, got), " world");
  uint8_t b = 0;
  for (int64_t at : {11, 21, -1}) {
    stream.Seek64(0, at);
    EXPECT_EQ(stream.Read(buf, 2), 0u) << at;
    EXPECT_FALSE(stream.ReadByte(b)) << at;
  }
  EXPECT_EQ(stream.Seek(1, -2), 0xFFFFFFFDu) << "a negative 32-bit offset is widened with its sign";
  EXPECT_FALSE(stream.CheckCacheFlags(9));
}

}  // namespace
}  // namespace utils
