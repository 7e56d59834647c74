#include "utils/utf8.h"

#include <cstdint>

namespace utils {
namespace {

constexpr char16_t kReplacement = 0xFFFD;

// Length of the well-formed sequence at data[i], or 0 with *bad set to the length of the
// maximal ill-formed prefix (at least 1). The ranges are the well-formed byte sequence
// table of the Unicode standard (section 3.9): the second byte's range depends on the
// lead byte, which rules out overlongs, surrogates and values above U+10FFFF.
size_t SequenceAt(const uint8_t* data, size_t size, size_t i, uint32_t* value, size_t* bad) {
  uint8_t b0 = data[i];
  if (b0 < 0x80) {
    *value = b0;
    return 1;
  }
  size_t need;
  uint8_t lo = 0x80, hi = 0xBF;
  uint32_t v;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    need = 1;
    v = b0 & 0x1F;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    need = 2;
    v = b0 & 0x0F;
    if (b0 == 0xE0) lo = 0xA0;
    if (b0 == 0xED) hi = 0x9F;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    need = 3;
    v = b0 & 0x07;
    if (b0 == 0xF0) lo = 0x90;
    if (b0 == 0xF4) hi = 0x8F;
  } else {
    *bad = 1;
    return 0;
  }
  for (size_t k = 1; k <= need; ++k) {
    if (i + k >= size) {
      *bad = k;
      return 0;
    }
    uint8_t b = data[i + k];
    uint8_t min = k == 1 ? lo : 0x80, max = k == 1 ? hi : 0xBF;
    if (b < min || b > max) {
      *bad = k;
      return 0;
    }
    v = (v << 6) | (b & 0x3F);
  }
  *value = v;
  return need + 1;
}

}  // namespace

std::u16string DecodeUtf8(const char* data, size_t size) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(data);
  std::u16string out;
  out.reserve(size);
  size_t i = 0;
  while (i < size) {
    uint32_t v = 0;
    size_t bad = 0;
    size_t n = SequenceAt(bytes, size, i, &v, &bad);
    if (n == 0) {
      out.push_back(kReplacement);
      i += bad;
      continue;
    }
    if (v >= 0x10000) {
      v -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (v >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (v & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(v));
    }
    i += n;
  }
  return out;
}

std::string EncodeUtf8(const char16_t* data, size_t size) {
  std::string out;
  out.reserve(size);
  for (size_t i = 0; i < size; ++i) {
    uint32_t v = data[i];
    if (v >= 0xD800 && v <= 0xDBFF && i + 1 < size && data[i + 1] >= 0xDC00 &&
        data[i + 1] <= 0xDFFF) {
      v = 0x10000 + ((v - 0xD800) << 10) + (data[i + 1] - 0xDC00);
      ++i;
    } else if (v >= 0xD800 && v <= 0xDFFF) {
      v = kReplacement;
    }
    if (v < 0x80) {
      out.push_back(static_cast<char>(v));
    } else if (v < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (v >> 6)));
      out.push_back(static_cast<char>(0x80 | (v & 0x3F)));
    } else if (v < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (v >> 12)));
      out.push_back(static_cast<char>(0x80 | ((v >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (v & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (v >> 18)));
      out.push_back(static_cast<char>(0x80 | ((v >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((v >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (v & 0x3F)));
    }
  }
  return out;
}

bool IsWellFormedUtf8(const char* data, size_t size) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(data);
  size_t i = 0;
  while (i < size) {
    uint32_t v;
    size_t bad;
    size_t n = SequenceAt(bytes, size, i, &v, &bad);
    if (n == 0) return false;
    i += n;
  }
  return true;
}

}  // namespace utils
