#include "tools/pack/zip_reader.h"

#include <zlib.h>

#include <algorithm>

namespace pack {
namespace {

uint16_t Le16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
uint32_t Le32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void AppendUtf8(std::string& out, uint32_t c) {
  if (c < 0x80) {
    out.push_back(char(c));
  } else if (c < 0x800) {
    out.push_back(char(0xC0 | c >> 6));
    out.push_back(char(0x80 | (c & 0x3F)));
  } else {
    out.push_back(char(0xE0 | c >> 12));
    out.push_back(char(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(char(0x80 | (c & 0x3F)));
  }
}

// The upper half of code page 437.
constexpr char16_t kCp437High[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF,
    0x00EE, 0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,
    0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192, 0x00E1, 0x00ED, 0x00F3, 0x00FA,
    0x00F1, 0x00D1, 0x00AA, 0x00BA, 0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557,
    0x255D, 0x255C, 0x255B, 0x2510, 0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559,
    0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,
    0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4, 0x03A6, 0x0398, 0x03A9, 0x03B4,
    0x221E, 0x03C6, 0x03B5, 0x2229, 0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248,
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0};

bool IsUtf8(const std::string& s) {
  for (size_t i = 0; i < s.size();) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    size_t extra = c < 0x80             ? 0
                   : (c & 0xE0) == 0xC0 ? 1
                   : (c & 0xF0) == 0xE0 ? 2
                   : (c & 0xF8) == 0xF0 ? 3
                                        : 9;
    if (extra == 9 || i + extra >= s.size() + (extra ? 0 : 1)) return false;
    for (size_t k = 1; k <= extra; ++k)
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    i += extra + 1;
  }
  return true;
}

// The entry name as UTF-8. Without the UTF-8 flag: the Info-ZIP Unicode Path extra field
// when its CRC matches the raw name; else, for archives made on Unix or macOS (Info-ZIP
// there writes the local UTF-8 bytes without setting the flag), the raw name when it is
// valid UTF-8; else CP437, the format's default.
std::string EntryName(const uint8_t* header, const std::string& raw, const uint8_t* extra,
                      size_t extraLen) {
  if (Le16(header + 8) & 0x0800) return raw;
  for (size_t at = 0; at + 4 <= extraLen;) {
    uint16_t id = Le16(extra + at), len = Le16(extra + at + 2);
    if (at + 4 + len > extraLen) break;
    if (id == 0x7075 && len >= 5 && extra[at + 4] == 1 &&
        Le32(extra + at + 5) ==
            uint32_t(crc32(0, reinterpret_cast<const Bytef*>(raw.data()), uInt(raw.size())))) {
      std::string name(reinterpret_cast<const char*>(extra + at + 9), len - 5);
      if (IsUtf8(name)) return name;
    }
    at += 4 + len;
  }
  uint8_t host = header[5];
  if ((host == 3 || host == 19) && IsUtf8(raw)) return raw;
  return Cp437ToUtf8(raw);
}

}  // namespace

std::string Cp437ToUtf8(const std::string& bytes) {
  std::string out;
  for (unsigned char c : bytes) AppendUtf8(out, c < 0x80 ? c : kCp437High[c - 0x80]);
  return out;
}

std::optional<std::vector<ZipEntry>> ReadCentralDirectory(uint64_t archiveStart,
                                                          uint64_t archiveSize,
                                                          const content::ReadAtFn& readAt,
                                                          std::string& error) {
  // The end record is in the last 22 + 65535 (comment) bytes.
  constexpr uint64_t kEndSize = 22;
  if (archiveSize < kEndSize) {
    error = "not a ZIP archive (too short)";
    return std::nullopt;
  }
  uint64_t tail = std::min<uint64_t>(archiveSize, kEndSize + 0xFFFF);
  std::vector<uint8_t> buf(tail);
  if (!readAt(archiveStart + archiveSize - tail, buf.data(), buf.size())) {
    error = "cannot read the archive";
    return std::nullopt;
  }
  const uint8_t* end = nullptr;
  for (size_t i = buf.size() - kEndSize + 1; i-- > 0;) {
    if (Le32(&buf[i]) == 0x06054B50 && i + kEndSize + Le16(&buf[i + 20]) == buf.size()) {
      end = &buf[i];
      break;
    }
  }
  if (!end) {
    error = "not a ZIP archive (no end of central directory record)";
    return std::nullopt;
  }
  if (Le16(end + 4) != 0 || Le16(end + 6) != 0) {
    error = "split ZIP archives are not supported";
    return std::nullopt;
  }
  uint32_t count = Le16(end + 10);
  uint64_t cdSize = Le32(end + 12), cdOffset = Le32(end + 16);
  if (cdOffset == 0xFFFFFFFF || count == 0xFFFF) {
    error = "ZIP64 archives are not supported";
    return std::nullopt;
  }
  if (cdOffset + cdSize > archiveSize) {
    error = "damaged ZIP archive (central directory out of bounds)";
    return std::nullopt;
  }
  std::vector<uint8_t> cd(cdSize);
  if (cdSize && !readAt(archiveStart + cdOffset, cd.data(), cd.size())) {
    error = "cannot read the central directory";
    return std::nullopt;
  }
  std::vector<ZipEntry> entries;
  size_t at = 0;
  for (uint32_t i = 0; i < count; ++i) {
    if (at + 46 > cd.size() || Le32(&cd[at]) != 0x02014B50) {
      error = "damaged ZIP archive (central directory entry " + std::to_string(i) + ")";
      return std::nullopt;
    }
    const uint8_t* h = &cd[at];
    size_t nameLen = Le16(h + 28), extraLen = Le16(h + 30), commentLen = Le16(h + 32);
    if (at + 46 + nameLen + extraLen + commentLen > cd.size()) {
      error = "damaged ZIP archive (central directory entry " + std::to_string(i) + ")";
      return std::nullopt;
    }
    ZipEntry e;
    e.flags = Le16(h + 8);
    e.method = Le16(h + 10);
    e.dosTime = Le32(h + 12);
    e.crc = Le32(h + 16);
    e.compressedSize = Le32(h + 20);
    e.size = Le32(h + 24);
    e.localHeaderOffset = Le32(h + 42);
    e.zip64 =
        e.compressedSize == 0xFFFFFFFF || e.size == 0xFFFFFFFF || e.localHeaderOffset == 0xFFFFFFFF;
    std::string raw(reinterpret_cast<const char*>(h + 46), nameLen);
    e.name = EntryName(h, raw, h + 46 + nameLen, extraLen);
    entries.push_back(std::move(e));
    at += 46 + nameLen + extraLen + commentLen;
  }
  return entries;
}

std::optional<uint64_t> EntryDataOffset(uint64_t archiveStart, const ZipEntry& entry,
                                        const content::ReadAtFn& readAt) {
  uint8_t h[30];
  if (!readAt(archiveStart + entry.localHeaderOffset, h, sizeof h) || Le32(h) != 0x04034B50)
    return std::nullopt;
  return entry.localHeaderOffset + 30 + Le16(h + 26) + Le16(h + 28);
}

}  // namespace pack
