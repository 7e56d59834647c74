#include "json/value.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <limits>

namespace json {
namespace {

std::u16string Written(const Value& v, int style = 2, bool tabs = false) {
  std::u16string out;
  WriteFormat format(style);
  format.useTabs = tabs;
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

// Other scalars and escapes are checked against Python in round_trip_test.cpp.
TEST(JsonValue, NonFiniteAndHugeDoublesAndTheThreeStyles) {
  EXPECT_EQ(Written(Number(std::numeric_limits<double>::infinity())), u"null");
  EXPECT_EQ(Written(Number(std::nan(""))), u"null");
  std::u16string text = Written(Number(1e300));  // written whole
  ASSERT_EQ(text.size(), 301u + 7u);
  EXPECT_EQ(text.substr(0, 2), u"10");
  EXPECT_EQ(Written(Number(-DBL_MAX)).size(), 1u + 309u + 7u);

  Dict dict;
  auto* list = new Array();
  list->Append(new Number(int64_t{1}));
  list->Append(new Array());
  list->Append(new Dict());
  dict.Insert(u"k", list);
  EXPECT_EQ(Written(dict, 2), u"{\"k\":[1,[],{}]}");
  EXPECT_EQ(Written(dict, 1), u"{\n \"k\":[\n  1,\n  [],\n  {}\n ]\n}");
  EXPECT_EQ(Written(dict, 0), u"{\r\n  \"k\" : [\r\n    1,\r\n    [],\r\n    {}\r\n  ]\r\n}");
  EXPECT_EQ(Written(dict, 0, true), u"{\r\n\t\"k\" : [\r\n\t\t1,\r\n\t\t[],\r\n\t\t{}\r\n\t]\r\n}");
  EXPECT_EQ(Written(Array(), 0), u"[]");
}

TEST(JsonValue, ContainersOwnTheirElements) {
  int alive = 0;
  {
    Dict dict;
    auto* inner = new Array();
    inner->Append(new Counted(alive));
    EXPECT_TRUE(dict.Insert(u"a", inner));
    EXPECT_TRUE(dict.Insert(u"b", new Counted(alive)));
    Counted rejected(alive);  // the caller still owns a rejected value
    EXPECT_FALSE(dict.Insert(u"b", &rejected));
    dict.Set(u"b", new Counted(alive));
    EXPECT_EQ(alive, 3) << "Set destroys the value it replaces";
    EXPECT_EQ(dict.Find(u"zz"), nullptr);
  }
  EXPECT_EQ(alive, 0);
}

}  // namespace
}  // namespace json
