#include "app/server_record.h"

#include <gtest/gtest.h>

#include <set>

#include "testing/utf16_text.h"

namespace app {
namespace {

using test::Utf16Le;

TEST(ServerRecordData, ExactMultiStringBytes) {
  std::string data = EncodeRecordData(4242, u"http://localhost:8080/1a2b/");
  std::string expected(
      "4\0"
      "2\0"
      "4\0"
      "2\0"
      "\0\0",
      10);
  expected += Utf16Le(u"http://localhost:8080/1a2b/");
  expected += std::string("\0\0\0\0", 4);
  EXPECT_EQ(data, expected);
  // 2 x (digits + 1 + URL + 1 + 1)
  EXPECT_EQ(data.size(), 2u * (4 + 1 + 27 + 1 + 1));
  EXPECT_EQ(RecordName(3735928559u), u"3735928559");
  EXPECT_EQ(RecordName(7), u"7");
  EXPECT_EQ(DecimalText(0), u"0");
}

TEST(ServerRecordData, RoundTrip) {
  ServerRecord record;
  ASSERT_TRUE(ParseServerRecord(RecordName(123456789), kRegMultiSz,
                                EncodeRecordData(99, u"http://localhost:1/f/"), record));
  EXPECT_EQ(record.contentId, 123456789u);
  EXPECT_EQ(record.processId, 99u);
  EXPECT_EQ(record.url, u"http://localhost:1/f/");
}

TEST(ReadRecordNumber, ReadsLikeWcstoul) {
  struct Case {
    std::u16string text;
    bool ok;
    uint32_t value;
  } cases[] = {
      {u"1", true, 1},
      {u"4294967294", true, 4294967294u},
      {u"4294967295", false, 0},  // the overflow result is refused
      {u"4294967296", false, 0},  // overflow
      {u"0", false, 0},
      {u"000", false, 0},
      {u"", false, 0},
      {u"x12", false, 0},
      {u"12x", true, 12},
      {u" 12", true, 12},
      {u"+12", true, 12},
      {u"-1", false, 0},  // negated modulo 2^32: 4294967295
      {u"-5", true, 4294967291u},
  };
  for (const Case& c : cases) {
    uint32_t value = 0;
    EXPECT_EQ(ReadRecordNumber(c.text, value), c.ok) << std::string(c.text.begin(), c.text.end());
    if (c.ok) {
      EXPECT_EQ(value, c.value);
    }
  }
}

TEST(ParseServerRecord, ValuesThatArePassedOver) {
  const std::string good = EncodeRecordData(10, u"http://localhost:2/a/");
  struct Case {
    const char* what;
    std::u16string name;
    uint32_t type;
    std::string data;
  } cases[] = {
      {"eleven digits", u"12345678901", kRegMultiSz, good},
      {"empty name", u"", kRegMultiSz, good},
      {"zero name", u"0", kRegMultiSz, good},
      {"name with no digits", u"abc", kRegMultiSz, good},
      {"REG_SZ", u"77", 1, good},
      {"REG_BINARY", u"77", 3, good},
      {"empty data", u"77", kRegMultiSz, ""},
      {"no second string", u"77", kRegMultiSz, Utf16Le(u"10")},
      {"no second string, terminated", u"77", kRegMultiSz, Utf16Le(std::u16string(u"10\0", 3))},
      {"empty second string", u"77", kRegMultiSz, Utf16Le(std::u16string(u"10\0\0", 4))},
      {"process 0", u"77", kRegMultiSz, EncodeRecordData(0, u"http://x/")},
      {"process not a number", u"77", kRegMultiSz, Utf16Le(std::u16string(u"pid\0u\0\0", 7))},
      {"2048 bytes", u"77", kRegMultiSz, EncodeRecordData(10, std::u16string(1024 - 5, u'u'))},
  };
  for (const Case& c : cases) {
    ServerRecord record;
    EXPECT_FALSE(ParseServerRecord(c.name, c.type, c.data, record)) << c.what;
  }
  // One byte less than the buffer still counts.
  std::string limit = EncodeRecordData(10, std::u16string(1024 - 5, u'u'));
  ASSERT_EQ(limit.size(), 2048u);
  ServerRecord record;
  EXPECT_TRUE(ParseServerRecord(u"77", kRegMultiSz, limit.substr(0, 2047), record));
  EXPECT_EQ(record.url.size(), 1024u - 5);
}

TEST(ParseServerRecord, LenientDataThatStillCounts) {
  ServerRecord record;
  // Unterminated second string, and an odd trailing byte, are cut at the last unit.
  ASSERT_TRUE(ParseServerRecord(u"5", kRegMultiSz,
                                Utf16Le(std::u16string(u"12\0http://h/", 12)) + "\x01", record));
  EXPECT_EQ(record.processId, 12u);
  EXPECT_EQ(record.url, u"http://h/");
  // More strings after the URL are ignored.
  ASSERT_TRUE(
      ParseServerRecord(u"5", kRegMultiSz, Utf16Le(std::u16string(u"3\0u\0v\0\0", 7)), record));
  EXPECT_EQ(record.url, u"u");
}

TEST(ExamineServerRecord, TheWalksDecisions) {
  std::set<uint32_t> running = {100, 200};
  auto processRuns = [&running](uint32_t pid) { return running.count(pid) > 0; };
  std::u16string url = u"unchanged";
  EXPECT_EQ(ExamineServerRecord(u"55", kRegMultiSz, EncodeRecordData(100, u"http://a/"), 55,
                                processRuns, url),
            RecordAction::Found);
  EXPECT_EQ(url, u"http://a/");
  url = u"unchanged";
  EXPECT_EQ(ExamineServerRecord(u"56", kRegMultiSz, EncodeRecordData(200, u"http://b/"), 55,
                                processRuns, url),
            RecordAction::KeepOther);
  EXPECT_EQ(ExamineServerRecord(u"55", kRegMultiSz, EncodeRecordData(300, u"http://c/"), 55,
                                processRuns, url),
            RecordAction::DeleteStale);
  // A record of another content whose process is gone is stale too.
  EXPECT_EQ(ExamineServerRecord(u"57", kRegMultiSz, EncodeRecordData(301, u"http://d/"), 55,
                                processRuns, url),
            RecordAction::DeleteStale);
  // Values that are not records are never deleted, even when no process answers.
  EXPECT_EQ(ExamineServerRecord(u"012345678901", kRegMultiSz, EncodeRecordData(301, u"http://d/"),
                                55, processRuns, url),
            RecordAction::Skip);
  EXPECT_EQ(url, u"unchanged");
}

}  // namespace
}  // namespace app
