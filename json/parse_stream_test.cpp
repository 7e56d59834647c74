#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "testing/json_util.h"
#include "json/parser.h"
#include "utils/exception.h"
#include "utils/file/streams.h"

namespace json {
namespace {

using testing::Canonical;
using testing::ScriptedStream;

TEST(ParseStream, SizedStreamsInOneReadOthersInBlocksUntilEmpty) {
  auto* scripted = new ScriptedStream("{\"a\": [true]}");
  ParseError error;
  std::unique_ptr<Value> root(ParseStream(utils::SharedPtr<utils::ReadStreamI>(scripted), error));
  EXPECT_EQ(error.code, kNoError);
  EXPECT_EQ(Canonical(root.get()), u"{\"a\":[true]}");
  EXPECT_EQ(scripted->reads, 1);

  std::string doc = "[";
  for (int i = 0; i < 60000; ++i) doc += "12345,";
  doc += "0]";
  scripted = new ScriptedStream(doc);
  scripted->sized = false;
  scripted->piece = 100000;
  root.reset(ParseStream(utils::SharedPtr<utils::ReadStreamI>(scripted), error));
  ASSERT_EQ(error.code, kNoError);
  EXPECT_EQ(static_cast<Array&>(*root).size(), 60001u);
  EXPECT_EQ(scripted->reads, int((doc.size() + 99999) / 100000) + 1);
}

TEST(ParseStream, ReadFailuresGiveCodeTwo) {
  struct Case {
    bool sized, fail;
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

// The marked encodings are read in round_trip_test.cpp; here the empty ones and UTF-32.
TEST(ParseStream, EmptyTextsAndUnreadableEncodings) {
  using namespace std::string_literals;
  auto stream = [](const std::string& bytes) {
    return utils::SharedPtr<utils::ReadStreamI>(new utils::StreamReader(bytes, u"doc.json"));
  };
  for (std::string empty : {""s, "\xEF\xBB\xBF"s, "\xFE\xFF"s}) {
    ParseError error;
    std::unique_ptr<Value> root(ParseStream(stream(empty), error));
    EXPECT_EQ(error.code, kEmptyText) << empty;
  }
  ParseError error;
  EXPECT_THROW(ParseStream(stream("\xFF\xFE\0\0"s), error), utils::Exception);
}

}  // namespace
}  // namespace json
