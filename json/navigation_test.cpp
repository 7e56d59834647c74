#include "json/navigation.h"

#include <gtest/gtest.h>

#include <memory>

#include "json/parser.h"
#include "testing/json_util.h"
#include "utils/encoding.h"
#include "utils/file/streams.h"

namespace json {
namespace {

using testing::Canonical;
using namespace std::string_literals;

utils::SharedPtr<utils::ReadStreamI> Stream(const std::string& bytes) {
  return utils::SharedPtr<utils::ReadStreamI>(new utils::MemoryStreamReader(bytes, u"nav.mnv"));
}

std::string ReadRest(utils::ReadStreamI& s) {
  std::string out(static_cast<size_t>(s.GetSize()), '\0');
  out.resize(s.Read(out.data(), static_cast<uint32_t>(out.size())));
  return out;
}

std::u16string Reparsed(const std::string& bytes) {
  ParseError error;
  std::unique_ptr<Value> back(Parse(utils::Utf8ToWide(bytes), error));
  EXPECT_EQ(error.code, kNoError) << bytes;
  return Canonical(back.get());
}

TEST(Navigation, MembersAreSetOnTheRootObjectOtherDocumentsAreServedAsStored) {
  NavigationMembers members = {{u"b", u"new \"b\" \\"}, {u"z", u"\u00E9\U0001F600"}};
  std::string bytes;
  ASSERT_TRUE(RewriteNavigation(Stream("\xEF\xBB\xBF{ \"a\": [1, 2.5], \"b\": {\"x\": null} }"),
                                members, bytes));
  EXPECT_EQ(Reparsed(bytes),
            u"{\"a\":[1,2.500000],\"b\":\"new \\\"b\\\" \\\\\",\"z\":\"\u00E9\U0001F600\"}");

  auto stream = Stream("\xFF\xFE{\0}\0"s);  // UTF-16 with its mark
  auto served = TransformNavigation(stream, {{u"k", u"v"}});
  EXPECT_EQ(served->GetName(), u"nav.mnv");
  EXPECT_EQ(ReadRest(*served), "{\"k\":\"v\"}");

  // An object with errors is still rewritten: duplicates and trailing text are dropped, and
  // so is a member whose value failed; the object closes as it stands.
  ASSERT_TRUE(RewriteNavigation(Stream("{\"a\":1,\"a\":2} trailing"), {{u"n", u"1"}}, bytes));
  EXPECT_EQ(Reparsed(bytes), u"{\"a\":1,\"n\":\"1\"}");
  ASSERT_TRUE(RewriteNavigation(Stream("{\"a\": [1,}"), {{u"n", u"1"}}, bytes));
  EXPECT_EQ(bytes, "{\"n\":\"1\"}");

  // Lists and non-JSON are served as stored in http_server_test.cpp; so are these: UTF-32
  // has no encoding we read, and an object that never closes is no object.
  for (const std::string& doc : {""s, "\xFF\xFE\0\0{}"s, "{\"a\": 1"s}) {
    auto stream = Stream(doc);
    auto served = TransformNavigation(stream, {{u"k", u"v"}});
    EXPECT_EQ(served.Get(), stream.Get());
    EXPECT_EQ(ReadRest(*served), doc);
  }
  EXPECT_FALSE(RewriteNavigation(utils::SharedPtr<utils::ReadStreamI>(), {{u"k", u"v"}}, bytes));
}

}  // namespace
}  // namespace json
