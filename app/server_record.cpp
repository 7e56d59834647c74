#include "app/server_record.h"

#include <vector>

namespace app {

std::u16string DecimalText(uint32_t value) {
  std::u16string text;
  do {
    text.insert(text.begin(), static_cast<char16_t>(u'0' + value % 10));
    value /= 10;
  } while (value != 0);
  return text;
}

std::string EncodeRecordData(uint32_t processId, const std::u16string& url) {
  std::u16string units = DecimalText(processId);
  units += u'\0';
  units += url;
  units += u'\0';
  units += u'\0';
  std::string bytes;
  bytes.reserve(units.size() * 2);
  for (char16_t u : units) {
    bytes += static_cast<char>(u & 0xFF);
    bytes += static_cast<char>(u >> 8);
  }
  return bytes;
}

bool ReadRecordNumber(const std::u16string& text, uint32_t& value) {
  size_t i = 0;
  while (i < text.size() && (text[i] == u' ' || (text[i] >= 0x09 && text[i] <= 0x0D))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
    negative = text[i] == u'-';
    ++i;
  }
  uint64_t magnitude = 0;
  bool digits = false;
  bool overflow = false;
  for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
    digits = true;
    magnitude = magnitude * 10 + (text[i] - u'0');
    if (magnitude > 0xFFFFFFFFull) {
      overflow = true;
      magnitude = 0xFFFFFFFFull;
    }
  }
  if (!digits) return false;
  uint32_t result = overflow ? 0xFFFFFFFFu : static_cast<uint32_t>(magnitude);
  if (negative && !overflow) result = static_cast<uint32_t>(0u - result);
  if (result == 0 || result == 0xFFFFFFFFu) return false;
  value = result;
  return true;
}

bool ParseServerRecord(const std::u16string& name, uint32_t type, const std::string& data,
                       ServerRecord& record) {
  if (type != kRegMultiSz) return false;
  if (name.empty() || name.size() > 10) return false;
  if (data.empty() || data.size() > kMaxRecordDataBytes) return false;
  uint32_t contentId = 0;
  if (!ReadRecordNumber(name, contentId)) return false;

  // The whole units of the data and one terminating zero unit.
  std::u16string units;
  for (size_t i = 0; i + 1 < data.size(); i += 2) {
    units += static_cast<char16_t>(static_cast<unsigned char>(data[i]) |
                                   (static_cast<unsigned char>(data[i + 1]) << 8));
  }
  const size_t wholeUnits = units.size();
  size_t firstEnd = units.find(u'\0');
  if (firstEnd == std::u16string::npos) firstEnd = wholeUnits;
  uint32_t processId = 0;
  if (!ReadRecordNumber(units.substr(0, firstEnd), processId)) return false;
  size_t second = firstEnd + 1;
  if (second >= wholeUnits || units[second] == u'\0') return false;
  size_t secondEnd = units.find(u'\0', second);
  if (secondEnd == std::u16string::npos) secondEnd = wholeUnits;

  record.contentId = contentId;
  record.processId = processId;
  record.url = units.substr(second, secondEnd - second);
  return true;
}

RecordAction ExamineServerRecord(const std::u16string& name, uint32_t type, const std::string& data,
                                 uint32_t contentId,
                                 const std::function<bool(uint32_t)>& processRuns,
                                 std::u16string& url) {
  ServerRecord record;
  if (!ParseServerRecord(name, type, data, record)) return RecordAction::Skip;
  if (!processRuns(record.processId)) return RecordAction::DeleteStale;
  if (record.contentId != contentId) return RecordAction::KeepOther;
  url = record.url;
  return RecordAction::Found;
}

}  // namespace app
