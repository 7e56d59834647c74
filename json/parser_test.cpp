#include "json/parser.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "testing/json_util.h"

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

std::u16string Compact(const Value* v) { return testing::Canonical(v); }

std::u16string Nested(int depth, char16_t open, char16_t close) {
  return std::u16string(depth, open) + std::u16string(depth, close);
}

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
      {u"\"text\"", kNotAContainer, 0, u"<none>"},
      {u"{} x", kTrailingCharacters, 3, u"{}"},
      {u"[] []", kTrailingCharacters, 3, u"[]"},
      {u"[-]", kBadNumber, 3, u"[]"},
      {u"[-", kBadNumber, 2, u"<none>"},
      {u"[1e]", kBadNumber, 4, u"[]"},
      {u"[1e+", kBadNumber, 4, u"<none>"},
      {u"[1e+x]", kBadNumber, 4, u"<none>"},
      {u"[\"", kBadString, 2, u"<none>"},
      {u"[\"\\u12G4\"]", kBadString, 6, u"<none>"},
      {u"[\"\\u12", kBadString, 6, u"<none>"},
      {u"[\"\\x\"]", kBadEscape, 4, u"<none>"},
      {u"[\"\\'\"]", kBadEscape, 4, u"<none>"},
      {u"[1,]", kBadArray, 4, u"[1]"},
      {u"[1 2]", kBadArray, 3, u"<none>"},
      {u"[1", kBadArray, 2, u"<none>"},
      {u"[", kBadArray, 1, u"<none>"},
      {u"[,]", kBadArray, 1, u"<none>"},
      {u"[nul]", kBadArray, 1, u"<none>"},
      {u"{\"a\":1,}", kNoError, 8, u"{\"a\":1}"},
      {u"{", kBadObject, 1, u"<none>"},
      {u"{1:2}", kBadObject, 1, u"<none>"},
      {u"{\"a\" 1}", kBadObject, 5, u"<none>"},
      {u"{\"a\":}", kBadObject, 6, u"{}"},
      {u"{\"a\":1", kBadObject, 6, u"<none>"},
      {u"{\"a\":1 \"b\":2}", kBadObject, 7, u"<none>"},
      {u"{\"a\":\"x", kBadObject, 7, u"<none>"},
      {u"{\"a\":1,\"a\":2}", kDuplicateKey, 13, u"{\"a\":1}"},
      {u"{\"a\":1,\"a\":2,\"b\":[1,]}", kDuplicateKey, 22, u"{\"a\":1,\"b\":[1]}"},
  };
  for (const Case& c : cases) {
    Parsed p = ParseText(c.text);
    std::string label(c.text.begin(), c.text.end());
    EXPECT_EQ(p.error.code, c.code) << label;
    EXPECT_EQ(p.error.position, c.position) << label;
    EXPECT_EQ(Compact(p.root.get()), c.tree) << label;
  }
}

TEST(JsonParse, ScalarsInsideContainers) {
  Parsed p = ParseText(
      u"[null, true, false, 0, -7, 1e5, 1.5, 1.5E-1, 007, 9223372036854775807,"
      u" -9223372036854775808, 18446744073709551616, 'single', \"dq\"]");
  ASSERT_EQ(p.error.code, kNoError);
  auto& a = static_cast<Array&>(*p.root);
  ASSERT_EQ(a.size(), 14u);
  EXPECT_EQ(a[0]->tag, kNullTag);
  EXPECT_EQ(static_cast<Bool*>(a[1])->value, 1);
  EXPECT_EQ(static_cast<Bool*>(a[2])->value, 0);
  auto num = [&](size_t i) { return static_cast<Number*>(a[i]); };
  EXPECT_EQ(num(3)->isFloat, 0u);
  EXPECT_EQ(num(4)->integer, -7);
  EXPECT_EQ(num(5)->isFloat, 1u);
  EXPECT_EQ(num(5)->real, 100000.0);
  EXPECT_EQ(num(6)->real, 1.5);
  EXPECT_EQ(num(7)->real, 0.15);
  EXPECT_EQ(num(8)->integer, 7);
  EXPECT_EQ(num(9)->integer, INT64_MAX);
  EXPECT_EQ(num(10)->integer, INT64_MIN);
  EXPECT_EQ(num(11)->isFloat, 1u) << "beyond 64 bits the magnitude is kept as a double";
  EXPECT_EQ(num(11)->real, 18446744073709551616.0);
  EXPECT_EQ(static_cast<String&>(*a[12]), u"single");
  EXPECT_EQ(static_cast<String&>(*a[13]), u"dq");
  EXPECT_EQ(Compact(p.root.get()),
            u"[null,true,false,0,-7,100000.000000,1.500000,0.150000,7,9223372036854775807,"
            u"-9223372036854775808,18446744073709551616.000000,\"single\",\"dq\"]");
}

TEST(JsonParse, StringsAndEscapes) {
  Parsed p = ParseText(
      u"{'k\"ey': 'it''s', \"e\": \"\\b\\t\\n\\f\\r\\\"\\/\\\\\\u00e9\\uD83D\\uDE00\","
      u" \"sq\": \"don't\", \"raw\": \"\u20AC\x01\"}");
  // 'it''s' ends at the second quote; the next quote starts nothing the object accepts.
  EXPECT_EQ(p.error.code, kBadObject);

  p = ParseText(
      u"{'k\"ey': 'v', \"e\": \"\\b\\t\\n\\f\\r\\\"\\/\\\\\\u00e9\\uD83D\\uDE00\","
      u" \"sq\": \"don't\", \"raw\": \"\u20AC\x01\"}");
  ASSERT_EQ(p.error.code, kNoError);
  auto& d = static_cast<Dict&>(*p.root);
  EXPECT_EQ(static_cast<String&>(*d.Find(u"k\"ey")), u"v");
  EXPECT_EQ(static_cast<String&>(*d.Find(u"e")), u"\b\t\n\f\r\"/\\\u00E9\U0001F600");
  EXPECT_EQ(static_cast<String&>(*d.Find(u"sq")), u"don't");
  EXPECT_EQ(static_cast<String&>(*d.Find(u"raw")), u"\u20AC\x01");
}

TEST(JsonParse, NestingStopsAtOneHundred) {
  for (auto [open, close] : {std::pair{u'[', u']'}, std::pair{u'{', u'}'}}) {
    auto nested = [&](int depth) {
      if (open == u'[') return Nested(depth, open, close);
      std::u16string text;
      for (int i = 1; i < depth; ++i) text += u"{\"a\":";
      return text + u"{}" + std::u16string(depth - 1, u'}');
    };
    Parsed ok = ParseText(nested(99));
    EXPECT_EQ(ok.error.code, kNoError);
    ASSERT_NE(ok.root, nullptr);
    Parsed deep = ParseText(nested(100));
    EXPECT_EQ(deep.error.code, kTooDeep);
    EXPECT_EQ(deep.root, nullptr);
    Parsed deeper = ParseText(nested(100000));
    EXPECT_EQ(deeper.error.code, kTooDeep) << "no stack overflow on deep input";
  }
  // The limit counts open containers, not all containers seen.
  std::u16string wide = u"[";
  for (int i = 0; i < 500; ++i) wide += Nested(50, u'[', u']') + u",";
  wide += u"1]";
  EXPECT_EQ(ParseText(wide).error.code, kNoError);
}

TEST(JsonParse, WhiteSpaceIsTheWideClassification) {
  Parsed p = ParseText(u"\u00A0{\u2003\"a\"\u3000:\v[\f1\r,\u2028 2 ]\u0085}\u202F");
  EXPECT_EQ(p.error.code, kNoError);
  EXPECT_EQ(Compact(p.root.get()), u"{\"a\":[1,2]}");
  EXPECT_EQ(ParseText(u"\uFEFF{}").error.code, kNotAContainer) << "a mark is not blank";
}

}  // namespace
}  // namespace json
