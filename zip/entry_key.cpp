#include <algorithm>
#include <cwctype>
#include <memory>
#include <mutex>

#include <zlib.h>

#include "utils/encoding.h"
#include "zip/entry_key.h"
#include "zip/format.h"

namespace amzip {

namespace {

// towlower of every UTF-16 unit, filled once: key normalisation runs on every request.
const char16_t* LowerTable() {
  static std::unique_ptr<char16_t[]> table;
  static std::once_flag once;
  std::call_once(once, [] {
    table.reset(new char16_t[65536]);
    for (uint32_t c = 0; c < 65536; ++c) {
      wint_t lower = towlower(static_cast<wint_t>(c));
      table[c] = lower > 0xFFFF ? static_cast<char16_t>(c) : static_cast<char16_t>(lower);
    }
  });
  return table.get();
}

bool IsSeparator(char16_t c) { return c == u'\\' || c == u'/'; }

bool StartsWith(const std::u16string& text, const char16_t* prefix, size_t length) {
  return text.size() >= length && text.compare(0, length, prefix) == 0;
}

}  // namespace

std::u16string NormalizeEntryKey(const std::u16string& text) {
  if (text.empty()) return {};
  size_t i = 0;
  if (text.size() >= 7 && StartsWith(text, u"file://", 7)) {
    i = 7;
  } else if (StartsWith(text, u"\\\\?\\", 4)) {
    i = 4;
  } else if (StartsWith(text, u".\\", 2)) {
    i = 2;
  }
  const size_t n = text.size();
  if (i >= n) return {};
  std::u16string key;
  key.reserve(n - i);
  if (IsSeparator(text[i])) {
    key.push_back(u'\\');
    ++i;
    if (i < n && IsSeparator(text[i])) {
      key.push_back(u'\\');
      ++i;
    }
    while (i < n && IsSeparator(text[i])) ++i;
    if (i >= n) return {};
  }
  const char16_t* lower = LowerTable();
  while (i < n) {
    if (IsSeparator(text[i])) {
      while (i < n && IsSeparator(text[i])) ++i;
      if (i < n) key.push_back(u'\\');  // a run at the end is dropped
      continue;
    }
    key.push_back(lower[text[i]]);
    ++i;
  }
  return key;
}

std::u16string DecodeEntryName(const std::string& rawName, uint16_t flags, const uint8_t* extra,
                               uint16_t extraLength) {
  std::string name = rawName.substr(0, rawName.find('\0'));
  if (name.empty()) return {};
  if (flags & kFlagUtf8)
    return utils::IsValidUtf8(name) ? utils::Utf8ToWide(name) : std::u16string();
  // Info-ZIP Unicode Path: id 0x7075, version 1, CRC-32 of the header's name, UTF-8 name.
  // A CRC that does not match means the name was renamed by a tool that did not know the
  // field, so the field is stale.
  size_t pos = 0;
  while (extra && pos + 4 <= extraLength) {
    uint16_t id = Le16(extra + pos);
    size_t size = Le16(extra + pos + 2);
    if (pos + 4 + size > extraLength) break;
    if (id == kExtraUnicodePath && size >= 5 && extra[pos + 4] == 1) {
      const uint8_t* d = extra + pos + 4;
      uint32_t crc = Le32(d + 1);
      uint32_t actual = static_cast<uint32_t>(crc32(
          0, reinterpret_cast<const Bytef*>(rawName.data()), static_cast<uInt>(rawName.size())));
      if (crc == actual) {
        std::string utf8(reinterpret_cast<const char*>(d + 5), size - 5);
        utf8 = utf8.substr(0, utf8.find('\0'));
        if (!utf8.empty() && utils::IsValidUtf8(utf8)) return utils::Utf8ToWide(utf8);
      }
      break;
    }
    pos += 4 + size;
  }
  // Many writers (Info-ZIP zip without Unicode support, older archivers on UTF-8
  // systems) store UTF-8 names without the flag. Text in the OEM code page with bytes
  // above 0x7F is almost never well-formed UTF-8, so such names are read as UTF-8.
  bool ascii = std::all_of(name.begin(), name.end(), [](char c) { return (c & 0x80) == 0; });
  if (!ascii && utils::IsValidUtf8(name)) return utils::Utf8ToWide(name);
  return utils::BytesToWide(name, utils::kCodePageOem);
}

}  // namespace amzip
