#include "tools/pack/control_entries.h"

#include <cstdint>
#include <string>

namespace pack {
namespace {

void PutUnit(std::string& out, uint32_t unit) {
  out.push_back(char(unit & 0xFF));
  out.push_back(char(unit >> 8));
}

void AppendUtf8(std::string& out, uint32_t c) {
  if (c < 0x80) {
    out.push_back(char(c));
  } else if (c < 0x800) {
    out.push_back(char(0xC0 | c >> 6));
    out.push_back(char(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(char(0xE0 | c >> 12));
    out.push_back(char(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(char(0x80 | (c & 0x3F)));
  } else {
    out.push_back(char(0xF0 | c >> 18));
    out.push_back(char(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(char(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(char(0x80 | (c & 0x3F)));
  }
}

}  // namespace

std::optional<std::string> EncodeControlText(const std::string& utf8) {
  std::string out;
  for (size_t i = 0; i < utf8.size();) {
    unsigned char lead = static_cast<unsigned char>(utf8[i]);
    int extra;
    uint32_t c, min;
    if (lead < 0x80) {
      extra = 0, c = lead, min = 0;
    } else if ((lead & 0xE0) == 0xC0) {
      extra = 1, c = lead & 0x1F, min = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
      extra = 2, c = lead & 0x0F, min = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
      extra = 3, c = lead & 0x07, min = 0x10000;
    } else {
      return std::nullopt;
    }
    if (i + size_t(extra) >= utf8.size()) return std::nullopt;  // truncated sequence
    for (int k = 1; k <= extra; ++k) {
      unsigned char next = static_cast<unsigned char>(utf8[i + k]);
      if ((next & 0xC0) != 0x80) return std::nullopt;
      c = c << 6 | (next & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
    if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return std::nullopt;
    if (c >= 0x10000) {
      c -= 0x10000;
      PutUnit(out, 0xD800 | (c >> 10));
      PutUnit(out, 0xDC00 | (c & 0x3FF));
    } else {
      PutUnit(out, c);
    }
    i += size_t(extra) + 1;
  }
  return out;
}

std::string DecodeControlText(const std::string& bytes) {
  std::string out;
  size_t units = (bytes.size() + 1) / 2;
  auto unitAt = [&](size_t i) -> uint32_t {
    uint32_t low = static_cast<unsigned char>(bytes[2 * i]);
    uint32_t high = 2 * i + 1 < bytes.size() ? static_cast<unsigned char>(bytes[2 * i + 1]) : 0;
    return low | high << 8;
  };
  for (size_t i = 0; i < units; ++i) {
    uint32_t u = unitAt(i);
    if (u == 0) break;
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units) {
      uint32_t next = unitAt(i + 1);
      if (next >= 0xDC00 && next <= 0xDFFF) {
        AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (next - 0xDC00));
        ++i;
        continue;
      }
    }
    AppendUtf8(out, (u >= 0xD800 && u <= 0xDFFF) ? 0xFFFD : u);
  }
  return out;
}

bool IsDecimalInt32(const std::string& text) {
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  if (i == text.size()) return false;
  int64_t value = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    value = value * 10 + (text[i] - '0');
    if (value > 2147483648LL) return false;
  }
  return negative || value <= 2147483647LL;
}

bool IsControlPort(const std::string& text) {
  if (!IsDecimalInt32(text)) return false;
  long value = std::stol(text);
  return value >= -1 && value <= 65535;
}

}  // namespace pack
