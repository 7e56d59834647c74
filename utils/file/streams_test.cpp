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
  char buf[4] = {1, 2, 3, 4};
  EXPECT_EQ(stream.Read(buf, 4), 0u);
  uint32_t got = 9;
  EXPECT_FALSE(stream.Read(buf, 4, got));
  EXPECT_EQ(got, 0u);
  uint8_t b = 0x55;
  EXPECT_FALSE(stream.ReadByte(b));
  EXPECT_EQ(b, 0);
  EXPECT_EQ(stream.Seek(0, 0), 0xFFFFFFFFu);
  EXPECT_EQ(stream.Seek64(0, 0), -1);
  EXPECT_FALSE(stream.CheckCacheFlags(0));
  EXPECT_TRUE(stream.GetName().empty());
  stream.SetCacheFlags(3);  // no file: nothing to refuse
  stream.Close();
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
  EXPECT_EQ(got, 1000u);
  EXPECT_EQ(buf, bytes.substr(0, 1000));
  EXPECT_EQ(stream.Seek(1, 10), 1010u);
  uint8_t b = 0;
  ASSERT_TRUE(stream.ReadByte(b));
  EXPECT_EQ(b, uint8_t(bytes[1010]));
  EXPECT_EQ(stream.Seek64(2, -1), int64_t(bytes.size() - 1));
  EXPECT_EQ(stream.Read(buf.data(), 1000), 1u);
  EXPECT_TRUE(stream.CheckCacheFlags(7));
  EXPECT_FALSE(stream.CheckCacheFlags(8));
  stream.SetName(u"other");
  EXPECT_EQ(stream.GetName(), u"other");
  EXPECT_THROW(stream.SetCacheFlags(3), NotImplementedException);
  stream.Close();
  EXPECT_FALSE(stream.IsOpen());
  EXPECT_EQ(stream.GetSize(), 0u);
}

TEST(StreamReader, ReadsSeeksAndEnds) {
  StreamReader stream("hello world", u"mem");
  EXPECT_TRUE(stream.IsOpen());
  EXPECT_EQ(stream.GetName(), u"mem");
  EXPECT_EQ(stream.GetSize(), 11u);
  char buf[32] = {};
  EXPECT_EQ(stream.Read(buf, 5), 5u);
  EXPECT_EQ(std::string(buf, 5), "hello");
  uint32_t got = 0;
  EXPECT_TRUE(stream.Read(buf, 32, got));
  EXPECT_EQ(got, 6u);
  EXPECT_EQ(std::string(buf, 6), " world");
  EXPECT_TRUE(stream.Read(buf, 32, got));
  EXPECT_EQ(got, 0u);

  EXPECT_EQ(stream.Seek64(0, 21), 21);
  EXPECT_EQ(stream.Read(buf, 5), 0u);
  uint8_t b = 0;
  EXPECT_FALSE(stream.ReadByte(b));
  EXPECT_EQ(stream.Seek64(2, -5), 6);
  ASSERT_TRUE(stream.ReadByte(b));
  EXPECT_EQ(b, 'w');
  EXPECT_EQ(stream.Seek64(1, -2), 5);
  EXPECT_EQ(stream.Seek64(7, 100), 5) << "unknown origins change nothing";
  EXPECT_EQ(stream.Seek(1, -1), 4u) << "a negative 32-bit offset is widened with its sign";
  EXPECT_EQ(stream.Read(buf, 2), 2u);
  EXPECT_EQ(std::string(buf, 2), "o ");
  // Before the start: the position wraps to a huge value and nothing is read.
  stream.Seek64(0, -1);
  EXPECT_EQ(stream.Read(buf, 2), 0u);
  EXPECT_FALSE(stream.ReadByte(b));
  EXPECT_TRUE(stream.CheckCacheFlags(7));
  EXPECT_FALSE(stream.CheckCacheFlags(9));
  stream.SetCacheFlags(3);
  stream.Close();
  EXPECT_EQ(stream.GetSize(), 11u) << "Close keeps the data";

  StreamReader empty("", u"");
  EXPECT_EQ(empty.GetSize(), 0u);
  EXPECT_FALSE(empty.ReadByte(b));
}

}  // namespace
}  // namespace utils
