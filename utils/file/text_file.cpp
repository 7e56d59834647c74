#include "utils/file/text_file.h"

#include <cstdarg>
#include <cwchar>

#include "utils/encoding.h"
#include "utils/exception.h"
#include "utils/format_string.h"

namespace utils {

TextFile::TextFile(uint32_t encoding, bool hasBom)
    : File(new CPPAllocator()), hasBom_(hasBom), encoding_(encoding) {}

bool TextFile::OpenText(const std::u16string& path, uint32_t defaultEncoding) {
  if (!OpenRead(path)) return false;
  int32_t markLength = 0;
  uint8_t b0 = 0;
  if (File::ReadByte(b0)) {
    uint8_t b1 = 0, b2 = 0;
    if (b0 == 0xEF) {
      if (File::ReadByte(b1) && b1 == 0xBB && File::ReadByte(b2) && b2 == 0xBF) {
        encoding_ = kUtf8;
        markLength = 3;
      }
    } else if (b0 == 0xFE) {
      if (File::ReadByte(b1) && b1 == 0xFF) {
        encoding_ = kUtf16BE;
        markLength = 2;
      }
    } else if (b0 == 0xFF) {
      // FF FE is only taken as a mark when a character can follow it.
      uint8_t b3 = 0;
      if (File::ReadByte(b1) && b1 == 0xFE && File::ReadByte(b2) && File::ReadByte(b3)) {
        encoding_ = kUtf16LE;
        markLength = 2;
      }
    } else {
      encoding_ = defaultEncoding;
    }
  }
  hasBom_ = markLength != 0;
  return Seek(0, markLength) == static_cast<uint32_t>(markLength);
}

bool TextFile::CreateText(const std::u16string& path) {
  if (!Create(path, true)) return false;
  if (hasBom_) {
    static const uint8_t kUtf8Mark[] = {0xEF, 0xBB, 0xBF};
    static const uint8_t kLEMark[] = {0xFF, 0xFE};
    static const uint8_t kBEMark[] = {0xFE, 0xFF};
    if (encoding_ == kUtf8) Write(kUtf8Mark, 3);
    if (encoding_ == kUtf16LE) Write(kLEMark, 2);
    if (encoding_ == kUtf16BE) Write(kBEMark, 2);
  }
  return true;
}

bool TextFile::ReadRawChar(char16_t& unit, uint32_t& bytes) {
  uint8_t b0 = 0, b1 = 0, b2 = 0;
  bytes = 0;
  switch (encoding_) {
    case kAnsi: {
      if (!File::ReadByte(b0)) return false;
      bytes = 1;
      std::u16string wide = AnsiToWide(std::string(1, static_cast<char>(b0)));
      if (wide.size() != 1) return false;
      unit = wide[0];
      return true;
    }
    case kUtf8:
      if (!File::ReadByte(b0)) return false;
      bytes = 1;
      if (b0 < 0x80) {
        unit = b0;
      } else if (b0 < 0xC0 || b0 >= 0xF0) {
        // A stray continuation byte, or a lead byte of a character beyond 16 bits, which
        // this decoder does not pair up: each of those bytes reads as '?'.
        unit = u'?';
      } else if (b0 < 0xE0) {
        if (!File::ReadByte(b1)) return false;
        bytes = 2;
        unit = static_cast<char16_t>(((b0 & 0x1F) << 6) | (b1 & 0x3F));
      } else {
        if (!File::ReadByte(b1) || !File::ReadByte(b2)) return false;
        bytes = 3;
        unit = static_cast<char16_t>((b0 << 12) | ((b1 & 0x3F) << 6) | (b2 & 0x3F));
      }
      return true;
    case kUtf16LE:
    case kUtf16BE:
      if (!File::ReadByte(b0) || !File::ReadByte(b1)) return false;
      bytes = 2;
      unit = encoding_ == kUtf16LE ? static_cast<char16_t>(b0 | (b1 << 8))
                                   : static_cast<char16_t>((b0 << 8) | b1);
      return true;
    default:
      return false;
  }
}

bool TextFile::ReadChar(char16_t& unit) {
  uint32_t bytes = 0;
  if (!ReadRawChar(unit, bytes)) return false;
  if (!crlf_ || unit != u'\r') return true;
  char16_t next = 0;
  uint32_t nextBytes = 0;
  if (ReadRawChar(next, nextBytes) && next == u'\n') {
    unit = u'\n';
    return true;
  }
  // Step back over everything the look-ahead took, so a multi-byte character after a
  // lone carriage return is read whole next time.
  if (nextBytes) Seek(1, -static_cast<int32_t>(nextBytes));
  return true;
}

bool TextFile::ReadLine(std::u16string& line) {
  line.clear();
  char16_t unit = 0;
  while (ReadChar(unit)) {
    line += unit;
    if (unit == u'\n') break;
  }
  return !line.empty();
}

char16_t* TextFile::ReadLine(char16_t* buffer, size_t capacity) {
  std::u16string line;
  if (!buffer || !ReadLine(line)) return nullptr;
  size_t i = 0;
  for (; i < capacity && i < line.size(); ++i) buffer[i] = line[i];
  for (; i < capacity; ++i) buffer[i] = 0;
  return buffer;
}

std::u16string TextFile::ReadAll() {
  std::u16string all, line;
  while (ReadLine(line)) all += line;
  return all;
}

std::string TextFile::Encode(const std::u16string& text, uint32_t encoding) {
  switch (encoding) {
    case kAnsi:
      return WideToAnsi(text);
    case kUtf8:
      return WideToUtf8(text);
    case kUtf16LE:
    case kUtf16BE: {
      std::string bytes;
      bytes.reserve(text.size() * 2);
      for (char16_t u : text) {
        char lo = static_cast<char>(u & 0xFF), hi = static_cast<char>(u >> 8);
        if (encoding == kUtf16LE) {
          bytes += lo;
          bytes += hi;
        } else {
          bytes += hi;
          bytes += lo;
        }
      }
      return bytes;
    }
    default:
      return WideToBytes(text, encoding);
  }
}

void TextFile::WriteText(const std::u16string& text) {
  std::string bytes = Encode(text, encoding_);
  // Write takes 32-bit counts; very long texts go in pieces.
  size_t done = 0;
  while (done < bytes.size()) {
    uint32_t piece = static_cast<uint32_t>(std::min<size_t>(bytes.size() - done, 0x40000000));
    uint32_t written = Write(bytes.data() + done, piece);
    if (written == 0) break;
    done += written;
  }
}

std::u16string TextFile::ToCrLf(const std::u16string& text) {
  std::u16string out;
  out.reserve(text.size() + text.size() / 16);
  char16_t previous = 0;
  for (char16_t u : text) {
    if (u == u'\n' && previous != u'\r') out += u'\r';
    out += u;
    previous = u;
  }
  return out;
}

void TextFile::printf(const char16_t* format, ...) {
  if (!format) return;
  // _vsnwprintf's way: format into 256 characters and double the buffer while the text
  // does not fit, up to 17 times.
  std::u16string buffer(256, u'\0');
  int length = -1;
  for (int doublings = 0;; ++doublings) {
    va_list args;
    va_start(args, format);
    length = FormatInto(buffer.data(), buffer.size(), format, args);
    va_end(args);
    if (length >= 0) break;
    if (doublings == 17) throw Exception(u"32MB buffer size limit exceeded", u"TextFile::printf");
    buffer.assign(buffer.size() * 2, u'\0');
  }
  buffer.resize(static_cast<size_t>(length));
  WriteText(crlf_ ? ToCrLf(buffer) : buffer);
}

}  // namespace utils
