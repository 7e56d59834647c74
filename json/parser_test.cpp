#include "json/parser.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "testing/json_util.h"
#include "utils/exception.h"

namespace json {
namespace {

struct Parsed {
  std::unique_ptr<Value> root;
  ParseError error;
};

Parsed ParseText(const std::u16string& text) {
  Parsed p;
  p.root.reset(Parse(text, p.error));
  return p;
}

// The caller keeps its own reference, so the stream's counters can be read afterwards.
using Scripted = utils::SharedPtr<testing::ScriptedStream>;
Parsed ParseScripted(const Scripted& stream) {
  Parsed p;
  p.root.reset(ParseStream(utils::SharedPtr<utils::ReadStreamI>(stream), p.error));
  return p;
}

using testing::Canonical;
using testing::ScriptedStream;
using namespace std::string_literals;

TEST(JsonParse, ErrorCodesAndPositions) {
  struct Case {
    std::u16string text;
    uint32_t code;
    uint32_t position;
    std::u16string tree;  // compact text of what came back
  } cases[] = {
      {u"{}", kNoError, 2, u"{}"},
      {u" [ ] \n", kNoError, 6, u"[]"},
      {u"", kEmptyText, 0, u"<none>"},
      {u" \t\r\n\u3000", kEmptyText, 5, u"<none>"},
      {u"42", kNotAContainer, 0, u"<none>"},
      {u"{} x", kTrailingCharacters, 3, u"{}"},
      {u"[-]", kBadNumber, 3, u"[]"},
      {u"[1e+", kBadNumber, 4, u"<none>"},
      {u"[\"\\u12G4\"]", kBadString, 6, u"<none>"},
      {u"[\"\\u12", kBadString, 6, u"<none>"},
      {u"[\"\\x\"]", kBadEscape, 4, u"<none>"},
      {u"[1,]", kBadArray, 4, u"[1]"},
      {u"[", kBadArray, 1, u"<none>"},
      {u"[nul]", kBadArray, 1, u"<none>"},
      {u"{\"a\":1,}", kNoError, 8, u"{\"a\":1}"},
      {u"{1:2}", kBadObject, 1, u"<none>"},
      {u"{\"a\":}", kBadObject, 6, u"{}"},
      {u"{\"a\":1,\"a\":2}", kDuplicateKey, 13, u"{\"a\":1}"},
      {u"{\"a\":1,\"a\":2,\"b\":[1,]}", kDuplicateKey, 22, u"{\"a\":1,\"b\":[1]}"},
  };
  for (const Case& c : cases) {
    Parsed p = ParseText(c.text);
    std::string label(c.text.begin(), c.text.end());
    EXPECT_EQ(p.error.code, c.code) << label;
    EXPECT_EQ(p.error.position, c.position) << label;
    EXPECT_EQ(Canonical(p.root.get()), c.tree) << label;
  }
}

// Python's documents (round_trip_test.cpp) have no leading zeros, no integers beyond 64
// bits (kept as a double) and no single quotes.
TEST(JsonParse, ScalarsPythonDoesNotWrite) {
  EXPECT_EQ(Canonical(ParseText(u"[007, 18446744073709551616, -0]").root.get()),
            u"[7,18446744073709551616.000000,0]");
  // 'it''s' ends at the second quote; the next quote starts nothing the object accepts.
  EXPECT_EQ(ParseText(u"{'k': 'it''s'}").error.code, kBadObject);
  Parsed p = ParseText(u"{'k\"ey': 'v', \"e\": \"\\/\\u00e9\x01\", \"sq\": \"don't\"}");
  EXPECT_EQ(Canonical(p.root.get()),
            u"{\"e\":\"/\u00E9\\u0001\",\"k\\\"ey\":\"v\",\"sq\":\"don't\"}");
}

TEST(JsonParse, NestingStopsAtOneHundred) {
  for (bool arrays : {true, false}) {
    auto nested = [&](int depth) {
      if (arrays) return std::u16string(depth, u'[') + std::u16string(depth, u']');
      std::u16string text;
      for (int i = 1; i < depth; ++i) text += u"{\"a\":";
      return text + u"{}" + std::u16string(depth - 1, u'}');
    };
    EXPECT_EQ(ParseText(nested(99)).error.code, kNoError);
    Parsed deep = ParseText(nested(100));
    EXPECT_EQ(deep.error.code, kTooDeep);
    EXPECT_EQ(deep.root, nullptr);
    EXPECT_EQ(ParseText(nested(100000)).error.code, kTooDeep) << "no stack overflow";
  }
  // The limit counts open containers, not all containers seen.
  std::u16string wide = u"[";
  for (int i = 0; i < 500; ++i) wide += std::u16string(50, u'[') + std::u16string(50, u']') + u",";
  EXPECT_EQ(ParseText(wide + u"1]").error.code, kNoError);
}

TEST(JsonParse, WhiteSpaceIsTheWideClassification) {
  Parsed p = ParseText(u"\u00A0{\u2003\"a\"\u3000:\v[\f1\r,\u2028 2 ]\u0085}\u202F");
  EXPECT_EQ(p.error.code, kNoError);
  EXPECT_EQ(Canonical(p.root.get()), u"{\"a\":[1,2]}");
  EXPECT_EQ(ParseText(u"\uFEFF{}").error.code, kNotAContainer) << "a mark is not blank";
}

// The marked encodings are read in round_trip_test.cpp; here the empty ones and UTF-32.
TEST(ParseStream, ReadsEmptyTextsAndFailures) {
  Scripted sized(new ScriptedStream("{\"a\": [true]}"));
  EXPECT_EQ(Canonical(ParseScripted(sized).root.get()), u"{\"a\":[true]}");
  EXPECT_EQ(sized->reads, 1) << "a sized stream is read at once";
  std::string doc = "[";
  for (int i = 0; i < 60000; ++i) doc += "12345,";
  Scripted unsized(new ScriptedStream(doc + "0]"));
  unsized->sized = false;
  unsized->piece = 100000;
  Parsed p = ParseScripted(unsized);
  ASSERT_EQ(p.error.code, kNoError);
  EXPECT_EQ(static_cast<Array&>(*p.root).size(), 60001u);
  EXPECT_EQ(unsized->reads, int((doc.size() + 2 + 99999) / 100000) + 1) << "until one is empty";

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
    Scripted scripted(new ScriptedStream("{}"));
    scripted->sized = c.sized;
    scripted->failReads = c.fail;
    scripted->claimedSize = c.claimed;
    p = ParseScripted(scripted);
    EXPECT_EQ(p.root, nullptr);
    EXPECT_EQ(p.error.code, kStreamReadFailed);
    EXPECT_EQ(p.error.position, 0u);
  }
  EXPECT_EQ(ParseScripted(Scripted()).error.code, kStreamReadFailed);
  for (std::string empty : {""s, "\xEF\xBB\xBF"s, "\xFE\xFF"s})
    EXPECT_EQ(ParseScripted(Scripted(new ScriptedStream(empty))).error.code, kEmptyText) << empty;
  EXPECT_THROW(ParseScripted(Scripted(new ScriptedStream("\xFF\xFE\0\0"s))), utils::Exception);
}

}  // namespace
}  // namespace json
