#include "utils/file/streams.h"

#include <gtest/gtest.h>

#include "utils/exception.h"
#include "utils/file/test_files.h"

namespace utils {
namespace {

using ReadFileStreamTest = testing::ScratchDir;

TEST_F(ReadFileStreamTest, MissingFileIsAnEmptyClosedStream) {
  ReadFileStream stream(WidePath("missing.json"));
  EXPECT_FALSE(stream.IsOpen());
  EXPECT_EQ(stream.GetSize(), 0u);
  char buf[4];
  uint32_t got = 9;
  EXPECT_FALSE(stream.Read(buf, 4, got));
  EXPECT_EQ(got, 0u);
  uint8_t b = 0x55;
  EXPECT_FALSE(stream.ReadByte(b));
  EXPECT_EQ(stream.Seek64(0, 0), -1);
  EXPECT_FALSE(stream.CheckCacheFlags(0));
  stream.SetCacheFlags(3);  // no file: nothing to refuse
}

TEST_F(ReadFileStreamTest, ForwardsToItsFile) {
  std::string bytes = Pattern(300000);
  std::u16string path = WriteBytes("data.bin", bytes);
  ReadFileStream stream(path);
  ASSERT_TRUE(stream.IsOpen());
  EXPECT_EQ(stream.GetName(), path);
  EXPECT_EQ(stream.GetSize(), bytes.size());
  std::string buf(1000, '\0');
  uint32_t got = 0;
  ASSERT_TRUE(stream.Read(buf.data(), 1000, got));
  EXPECT_EQ(buf.substr(0, got), bytes.substr(0, 1000));
  EXPECT_EQ(stream.Seek(1, 10), 1010u);
  uint8_t b = 0;
  ASSERT_TRUE(stream.ReadByte(b));
  EXPECT_EQ(b, uint8_t(bytes[1010]));
  EXPECT_EQ(stream.Seek64(2, -1), int64_t(bytes.size() - 1));
  EXPECT_EQ(stream.Read(buf.data(), 1000), 1u);
  EXPECT_TRUE(stream.CheckCacheFlags(7));
  EXPECT_FALSE(stream.CheckCacheFlags(8));
  EXPECT_THROW(stream.SetCacheFlags(3), NotImplementedException);
  stream.Close();
  EXPECT_FALSE(stream.IsOpen());
  EXPECT_EQ(stream.GetSize(), 0u);
}

TEST(StreamReader, ReadsAndEnds) {
  StreamReader stream("hello world", u"mem");
  EXPECT_EQ(stream.GetName(), u"mem");
  char buf[32] = {};
  EXPECT_EQ(stream.Read(buf, 5), 5u);
  uint32_t got = 0;
  EXPECT_TRUE(stream.Read(buf, 32, got));
  EXPECT_EQ(std::string(buf, got), " world");
  EXPECT_TRUE(stream.Read(buf, 32, got));
  EXPECT_EQ(got, 0u);
  uint8_t b = 0;
  EXPECT_EQ(stream.Seek64(2, -5), 6);
  ASSERT_TRUE(stream.ReadByte(b));
  EXPECT_EQ(b, 'w');
  EXPECT_EQ(stream.Seek(1, -2), 5u) << "a negative 32-bit offset is widened with its sign";
  // Past the end and before the start nothing is read.
  for (int64_t at : {21, -1}) {
    stream.Seek64(0, at);
    EXPECT_EQ(stream.Read(buf, 2), 0u) << at;
    EXPECT_FALSE(stream.ReadByte(b)) << at;
  }
  EXPECT_TRUE(stream.CheckCacheFlags(7));
  EXPECT_FALSE(stream.CheckCacheFlags(9));
  stream.Close();
  EXPECT_EQ(stream.GetSize(), 11u) << "Close keeps the data";
}

}  // namespace
}  // namespace utils
