#include "json/value.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <climits>
#include <cmath>
#include <limits>

namespace json {
namespace {

std::u16string Written(const Value& v, int style = 2) {
  std::u16string out;
  WriteFormat format(style);
  v.Write(out, format);
  EXPECT_EQ(format.level, 0) << "the writer left the level changed";
  return out;
}

// A value destroyed while an owner still points to it shows up under the sanitizers.
struct Counted : Null {
  explicit Counted(int& alive) : alive(alive) { ++alive; }
  ~Counted() override { --alive; }
  int& alive;
};

TEST(JsonValue, TagsMatchTheClasses) {
  EXPECT_EQ(Null().tag, kNullTag);
  EXPECT_EQ(Bool(true).tag, kBoolTag);
  EXPECT_EQ(Number(int64_t{1}).tag, kNumberTag);
  EXPECT_EQ(Number(1.0).tag, kNumberTag);
  EXPECT_EQ(String(u"x").tag, kStringTag);
  EXPECT_EQ(Array().tag, kArrayTag);
  EXPECT_EQ(Dict().tag, kDictTag);
  EXPECT_EQ(Number(int64_t{5}).isFloat, 0u);
  EXPECT_EQ(Number(5.0).isFloat, 1u);
  EXPECT_EQ(Bool(true).value, 1);
  EXPECT_EQ(Bool(false).value, 0);
}

TEST(JsonValue, ScalarsAreWrittenAsText) {
  struct Case {
    std::u16string got;
    std::u16string want;
  } cases[] = {
      {Written(Null()), u"null"},
      {Written(Bool(true)), u"true"},
      {Written(Bool(false)), u"false"},
      {Written(Number(int64_t{-7})), u"-7"},
      {Written(Number(int64_t{0})), u"0"},
      {Written(Number(int64_t{LLONG_MIN})), u"-9223372036854775808"},
      {Written(Number(int64_t{LLONG_MAX})), u"9223372036854775807"},
      {Written(Number(1.5)), u"1.500000"},
      {Written(Number(-0.25)), u"-0.250000"},
      {Written(Number(1e-7)), u"0.000000"},
      {Written(Number(std::numeric_limits<double>::infinity())), u"null"},
      {Written(Number(std::nan(""))), u"null"},
      {Written(String(u"")), u"\"\""},
      {Written(String(u"a/b \u00E9\u20AC\U0001F600")), u"\"a/b \u00E9\u20AC\U0001F600\""},
      {Written(String(u"q\"b\\s")), u"\"q\\\"b\\\\s\""},
      {Written(String(u"\b\t\n\f\r")), u"\"\\b\\t\\n\\f\\r\""},
      {Written(String(std::u16string(u"\x01\x1F\x0B\0", 4))), u"\"\\u0001\\u001F\\u000B\\u0000\""},
      {Written(String(u"\x7F")), u"\"\x7F\""},
  };
  for (const Case& c : cases) EXPECT_EQ(c.got, c.want);
}

TEST(JsonValue, HugeDoublesAreWrittenWhole) {
  std::u16string text = Written(Number(1e300));
  ASSERT_EQ(text.size(), 301u + 7u);
  EXPECT_EQ(text.substr(0, 2), u"10");
  EXPECT_EQ(text.substr(text.size() - 7), u".000000");
  EXPECT_EQ(Written(Number(-DBL_MAX)).size(), 1u + 309u + 7u);
}

TEST(JsonValue, ContainersInTheThreeStyles) {
  Dict dict;
  auto* list = new Array();
  list->Append(new Number(int64_t{1}));
  list->Append(new Array());
  list->Append(new Dict());
  dict.Insert(u"k", list);
  EXPECT_EQ(Written(dict, 2), u"{\"k\":[1,[],{}]}");
  EXPECT_EQ(Written(dict, 1), u"{\n \"k\":[\n  1,\n  [],\n  {}\n ]\n}");
  EXPECT_EQ(Written(dict, 0), u"{\r\n  \"k\" : [\r\n    1,\r\n    [],\r\n    {}\r\n  ]\r\n}");
  Array empty;
  EXPECT_EQ(Written(empty, 0), u"[]");
  EXPECT_EQ(Written(Dict(), 1), u"{}");

  WriteFormat tabs(0);
  tabs.useTabs = true;
  std::u16string out;
  dict.Write(out, tabs);
  EXPECT_EQ(out, u"{\r\n\t\"k\" : [\r\n\t\t1,\r\n\t\t[],\r\n\t\t{}\r\n\t]\r\n}");

  Dict keys;
  keys.Insert(u"a\"\n", new Null());
  EXPECT_EQ(Written(keys), u"{\"a\\\"\\n\":null}");
}

TEST(JsonValue, ContainersOwnTheirElements) {
  int alive = 0;
  {
    Dict dict;
    auto* inner = new Array();
    inner->Append(new Counted(alive));
    inner->Append(new Counted(alive));
    EXPECT_TRUE(dict.Insert(u"a", inner));
    EXPECT_TRUE(dict.Insert(u"b", new Counted(alive)));
    Counted* rejected = new Counted(alive);
    EXPECT_FALSE(dict.Insert(u"b", rejected));
    delete rejected;  // the caller still owns a rejected value
    EXPECT_EQ(alive, 3);
    dict.Set(u"b", new Counted(alive));
    EXPECT_EQ(alive, 3) << "Set destroys the value it replaces";
    dict.Set(u"c", new Counted(alive));
    EXPECT_EQ(alive, 4);
    EXPECT_EQ(dict.size(), 3u);
    EXPECT_NE(dict.Find(u"c"), nullptr);
    EXPECT_EQ(dict.Find(u"zz"), nullptr);
  }
  EXPECT_EQ(alive, 0);
}

}  // namespace
}  // namespace json
