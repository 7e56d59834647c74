#include "app/server_record.h"

#include <gtest/gtest.h>

#include <set>

#include "testing/utf16_text.h"

namespace app {
namespace {

using test::Utf16Le;

TEST(ServerRecordData, ExactMultiStringBytesAndRoundTrip) {
  std::string data = EncodeRecordData(4242, u"http://localhost:8080/1a2b/");
  EXPECT_EQ(data, Utf16Le(std::u16string(u"4242\0http://localhost:8080/1a2b/\0\0", 34)));
  EXPECT_EQ(RecordName(3735928559u), u"3735928559");
  EXPECT_EQ(DecimalText(0), u"0");

  ServerRecord record;
  ASSERT_TRUE(ParseServerRecord(RecordName(123456789), kRegMultiSz, data, record));
  EXPECT_EQ(record.contentId, 123456789u);
  EXPECT_EQ(record.processId, 4242u);
  EXPECT_EQ(record.url, u"http://localhost:8080/1a2b/");
}

TEST(ReadRecordNumber, ReadsLikeWcstoul) {
  struct Case {
    std::u16string text;
    bool ok;
    uint32_t value;
  } cases[] = {
      {u"4294967294", true, 4294967294u},
      {u"4294967295", false, 0},  // the overflow result is refused
      {u"4294967296", false, 0},  // overflow
      {u"0", false, 0},
      {u"x12", false, 0},
      {u" +12x", true, 12},
      {u"-5", true, 4294967291u},  // negated modulo 2^32
  };
  for (const Case& c : cases) {
    uint32_t value = 0;
    EXPECT_EQ(ReadRecordNumber(c.text, value), c.ok) << std::string(c.text.begin(), c.text.end());
    if (c.ok) EXPECT_EQ(value, c.value);
  }
}

TEST(ParseServerRecord, ValuesThatArePassedOverOrStillCount) {
  const std::string good = EncodeRecordData(10, u"http://localhost:2/a/");
  // 2048 bytes fill the reading buffer: too long; one byte less still counts.
  const std::string limit = EncodeRecordData(10, std::u16string(1024 - 5, u'u'));
  ASSERT_EQ(limit.size(), 2048u);
  struct Case {
    const char* what;
    std::u16string name;
    uint32_t type;
    std::string data;
  } cases[] = {
      {"eleven digits", u"12345678901", kRegMultiSz, good},
      {"zero name", u"0", kRegMultiSz, good},
      {"REG_SZ", u"77", 1, good},
      {"empty data", u"77", kRegMultiSz, ""},
      {"empty second string", u"77", kRegMultiSz, Utf16Le(std::u16string(u"10\0\0", 4))},
      {"process 0", u"77", kRegMultiSz, EncodeRecordData(0, u"http://x/")},
      {"process not a number", u"77", kRegMultiSz, Utf16Le(std::u16string(u"pid\0u\0\0", 7))},
      {"2048 bytes", u"77", kRegMultiSz, limit},
  };
  ServerRecord record;
  for (const Case& c : cases)
    EXPECT_FALSE(ParseServerRecord(c.name, c.type, c.data, record)) << c.what;

  EXPECT_TRUE(ParseServerRecord(u"77", kRegMultiSz, limit.substr(0, 2047), record));
  EXPECT_EQ(record.url.size(), 1024u - 5);
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
  auto runs = [&running](uint32_t pid) { return running.count(pid) > 0; };
  struct Case {
    std::u16string name;
    uint32_t pid;
    RecordAction action;
  } cases[] = {
      {u"55", 100, RecordAction::Found},
      {u"56", 200, RecordAction::KeepOther},
      {u"57", 301, RecordAction::DeleteStale},  // another content's, process gone
      // Values that are not records are never deleted, even when no process answers.
      {u"012345678901", 301, RecordAction::Skip},
  };
  for (const Case& c : cases) {
    std::u16string url = u"unchanged";
    EXPECT_EQ(ExamineServerRecord(c.name, kRegMultiSz, EncodeRecordData(c.pid, u"http://a/"), 55,
                                  runs, url),
              c.action);
    EXPECT_EQ(url, c.action == RecordAction::Found ? u"http://a/" : u"unchanged");
  }
}

}  // namespace
}  // namespace app
