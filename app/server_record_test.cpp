#include "app/server_record.h"

#include <gtest/gtest.h>

#include <optional>

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

// 4294967295 (what an overflow gives) is refused too; "-5" is negated modulo 2^32.
TEST(ReadRecordNumber, ReadsLikeWcstoul) {
  std::pair<std::u16string, std::optional<uint32_t>> cases[] = {
      {u"4294967294", 4294967294u}, {u"4294967295", std::nullopt}, {u"4294967296", std::nullopt},
      {u"0", std::nullopt},         {u"x12", std::nullopt},        {u" +12x", 12u},
      {u"-5", 4294967291u}};
  for (const auto& [text, expected] : cases) {
    uint32_t value = 0;
    bool ok = ReadRecordNumber(text, value);
    EXPECT_EQ(ok ? std::optional(value) : std::nullopt, expected)
        << std::string(text.begin(), text.end());
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

}  // namespace
}  // namespace app
