// Test helpers: byte builders for small PE files, stored ZIP archives and program files
// with appended archives.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "content/footer.h"

namespace content::testing {

using Bytes = std::vector<uint8_t>;

inline void Put16(Bytes& b, size_t at, uint16_t v) {
  b[at] = uint8_t(v);
  b[at + 1] = uint8_t(v >> 8);
}
inline void Put32(Bytes& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = uint8_t(v >> (8 * i));
}
inline void Append(Bytes& b, const void* p, size_t n) {
  auto* q = static_cast<const uint8_t*>(p);
  b.insert(b.end(), q, q + n);
}
inline void Append16(Bytes& b, uint16_t v) {
  uint8_t x[2] = {uint8_t(v), uint8_t(v >> 8)};
  Append(b, x, 2);
}
inline void Append32(Bytes& b, uint32_t v) {
  uint8_t x[4] = {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
  Append(b, x, 4);
}

// A minimal but well-formed PE image: DOS header, PE32 (or PE32+) headers with 16 data
// directories, one section of 512 bytes. Large enough for signing tools to accept.
inline Bytes MakePe(bool pe32plus) {
  const uint32_t peOffset = 0x80;
  const uint16_t optionalSize = pe32plus ? 0xF0 : 0xE0;
  Bytes b(0x400, 0);
  b[0] = 'M';
  b[1] = 'Z';
  Put32(b, 0x3C, peOffset);
  std::memcpy(&b[peOffset], "PE\0\0", 4);
  size_t coff = peOffset + 4;
  Put16(b, coff + 0, pe32plus ? 0x8664 : 0x14C);  // machine
  Put16(b, coff + 2, 1);                          // sections
  Put16(b, coff + 16, optionalSize);
  Put16(b, coff + 18, pe32plus ? 0x22 : 0x102);  // executable image
  size_t opt = coff + 20;
  Put16(b, opt, pe32plus ? 0x20B : 0x10B);
  Put32(b, opt + 4, 0x200);    // size of code
  Put32(b, opt + 16, 0x1000);  // entry point
  Put32(b, opt + 20, 0x1000);  // base of code
  if (pe32plus) {
    Put32(b, opt + 24, 0x40000000);  // image base (low half)
  } else {
    Put32(b, opt + 28, 0x400000);
  }
  Put32(b, opt + 32, 0x1000);  // section alignment
  Put32(b, opt + 36, 0x200);   // file alignment
  Put16(b, opt + 40, 6);       // OS version
  Put16(b, opt + 48, 6);       // subsystem version
  Put32(b, opt + 56, 0x2000);  // size of image
  Put32(b, opt + 60, 0x200);   // size of headers
  Put16(b, opt + 68, 3);       // console subsystem
  size_t counts = pe32plus ? 108 : 92;
  Put32(b, opt + counts, 16);
  size_t section = opt + optionalSize;
  std::memcpy(&b[section], ".text", 5);
  Put32(b, section + 8, 0x200);        // virtual size
  Put32(b, section + 12, 0x1000);      // virtual address
  Put32(b, section + 16, 0x200);       // raw size
  Put32(b, section + 20, 0x200);       // raw pointer
  Put32(b, section + 36, 0x60000020);  // code, execute, read
  b[0x200] = 0xC3;                     // ret
  return b;
}

// Offset of the security data directory entry in a MakePe image.
inline size_t SecurityEntryOffset(const Bytes& pe) {
  uint32_t peOffset = uint32_t(pe[0x3C]) | uint32_t(pe[0x3D]) << 8;
  size_t opt = peOffset + 24;
  bool plus = pe[opt] == 0x0B && pe[opt + 1] == 0x02;
  return opt + (plus ? 112 : 96) + 4 * 8;
}

// A stored ZIP archive of the given entries, offsets counted from its first byte.
inline Bytes MakeStoredZip(const std::vector<std::pair<std::string, std::string>>& entries) {
  Bytes zip, central;
  for (const auto& [name, data] : entries) {
    uint32_t crc = uint32_t(
        crc32(0, reinterpret_cast<const Bytes::value_type*>(data.data()), uInt(data.size())));
    uint32_t offset = uint32_t(zip.size());
    Append32(zip, 0x04034B50);
    Append16(zip, 10);
    Append16(zip, 0x800);
    Append16(zip, 0);
    Append32(zip, 0x00210000);  // 1980-01-01 00:00
    Append32(zip, crc);
    Append32(zip, uint32_t(data.size()));
    Append32(zip, uint32_t(data.size()));
    Append16(zip, uint16_t(name.size()));
    Append16(zip, 0);
    Append(zip, name.data(), name.size());
    Append(zip, data.data(), data.size());
    Append32(central, 0x02014B50);
    Append16(central, 20);
    Append16(central, 10);
    Append16(central, 0x800);
    Append16(central, 0);
    Append32(central, 0x00210000);
    Append32(central, crc);
    Append32(central, uint32_t(data.size()));
    Append32(central, uint32_t(data.size()));
    Append16(central, uint16_t(name.size()));
    Append16(central, 0);
    Append16(central, 0);
    Append16(central, 0);
    Append16(central, 0);
    Append32(central, 0);
    Append32(central, offset);
    Append(central, name.data(), name.size());
  }
  uint32_t centralOffset = uint32_t(zip.size());
  Append(zip, central.data(), central.size());
  Append32(zip, 0x06054B50);
  Append16(zip, 0);
  Append16(zip, 0);
  Append16(zip, uint16_t(entries.size()));
  Append16(zip, uint16_t(entries.size()));
  Append32(zip, uint32_t(central.size()));
  Append32(zip, centralOffset);
  Append16(zip, 0);
  return zip;
}

// image + archive + footer.
inline Bytes AppendArchive(Bytes image, const Bytes& archive) {
  Append(image, archive.data(), archive.size());
  auto footer = MakeFooter(uint32_t(archive.size()));
  Append(image, footer.data(), footer.size());
  return image;
}

}  // namespace content::testing
