#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "testing/json_util.h"
#include "json/parser.h"
#include "utils/exception.h"
#include "utils/file/streams.h"

namespace json {
namespace {

using testing::Canonical;
using testing::ScriptedStream;

utils::SharedPtr<utils::ReadStreamI> Stream(const std::string& bytes) {
  return utils::SharedPtr<utils::ReadStreamI>(new utils::StreamReader(bytes, u"doc.json"));
}

TEST(ParseStream, ReadsSizedStreamsInOneRead) {
  auto* scripted = new ScriptedStream("{\"a\": [true]}");
  utils::SharedPtr<utils::ReadStreamI> stream(scripted);
  ParseError error;
  std::unique_ptr<Value> root(ParseStream(stream, error));
  EXPECT_EQ(error.code, kNoError);
  EXPECT_EQ(Canonical(root.get()), u"{\"a\":[true]}");
  EXPECT_EQ(scripted->reads, 1);
  EXPECT_EQ(scripted->flagsSet, std::vector<uint32_t>{0});
}

TEST(ParseStream, ReadsOtherStreamsInBlocksUntilEmpty) {
  std::string doc = "[";
  for (int i = 0; i < 60000; ++i) doc += "12345,";
  doc += "0]";
  auto* scripted = new ScriptedStream(doc);
  scripted->sized = false;
  scripted->piece = 100000;
  utils::SharedPtr<utils::ReadStreamI> stream(scripted);
  ParseError error;
  std::unique_ptr<Value> root(ParseStream(stream, error));
  ASSERT_EQ(error.code, kNoError);
  EXPECT_EQ(static_cast<Array&>(*root).size(), 60001u);
  EXPECT_EQ(scripted->reads, int((doc.size() + 99999) / 100000) + 1);
}

TEST(ParseStream, ReadFailuresGiveCodeTwo) {
  struct Case {
    bool sized;
    bool fail;
    uint64_t claimed;
  } cases[] = {
      {false, true, UINT64_MAX},
      {true, true, UINT64_MAX},
      {true, false, 100},                // fewer bytes than the size promised
      {true, false, uint64_t{1} << 32},  // too large for one read
  };
  for (const Case& c : cases) {
    auto* scripted = new ScriptedStream("{}");
    scripted->sized = c.sized;
    scripted->failReads = c.fail;
    scripted->claimedSize = c.claimed;
    ParseError error;
    error.code = 99;
    std::unique_ptr<Value> root(ParseStream(utils::SharedPtr<utils::ReadStreamI>(scripted), error));
    EXPECT_EQ(root, nullptr);
    EXPECT_EQ(error.code, kStreamReadFailed);
    EXPECT_EQ(error.position, 0u);
  }
  ParseError error;
  EXPECT_EQ(ParseStream(utils::SharedPtr<utils::ReadStreamI>(), error), nullptr);
  EXPECT_EQ(error.code, kStreamReadFailed);
}

TEST(ParseStream, EncodingsByMark) {
  struct Case {
    std::string bytes;
    uint32_t code;
  } cases[] = {
      {"{}", kNoError},
      {"\xEF\xBB\xBF[1]", kNoError},
      {std::string("\xFE\xFF\0[\0]", 6), kNoError},
      {std::string("\xFF\xFE[\0]\0", 6), kNoError},
      {"", kEmptyText},
      {"\xEF\xBB\xBF", kEmptyText},
  };
  for (const Case& c : cases) {
    ParseError error;
    std::unique_ptr<Value> root(ParseStream(Stream(c.bytes), error));
    EXPECT_EQ(error.code, c.code) << c.bytes;
  }
  ParseError error;
  EXPECT_THROW(ParseStream(Stream(std::string("\xFF\xFE\0\0", 4)), error), utils::Exception);
}

}  // namespace
}  // namespace json
