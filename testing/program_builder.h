// Test helpers: byte builders for small PE files and program files with appended archives.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "content/footer.h"
#include "testing/zip_builder.h"

namespace content::testing {

using Bytes = std::vector<uint8_t>;

inline void Put16(Bytes& b, size_t at, uint16_t v) {
  b[at] = uint8_t(v);
  b[at + 1] = uint8_t(v >> 8);
}
inline void Put32(Bytes& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = uint8_t(v >> (8 * i));
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
  Put32(b, opt + 4, 0x200);                                                // size of code
  Put32(b, opt + 16, 0x1000);                                              // entry point
  Put32(b, opt + 20, 0x1000);                                              // base of code
  Put32(b, opt + (pe32plus ? 24 : 28), pe32plus ? 0x40000000 : 0x400000);  // image base
  Put32(b, opt + 32, 0x1000);                                              // section alignment
  Put32(b, opt + 36, 0x200);                                               // file alignment
  Put16(b, opt + 40, 6);                                                   // OS version
  Put16(b, opt + 48, 6);                                                   // subsystem version
  Put32(b, opt + 56, 0x2000);                                              // size of image
  Put32(b, opt + 60, 0x200);                                               // size of headers
  Put16(b, opt + 68, 3);                                                   // console subsystem
  Put32(b, opt + (pe32plus ? 108 : 92), 16);                               // data directories
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
  std::vector<amzip::testing::TestEntry> list;
  for (const auto& [name, data] : entries) list.push_back({.name = name, .data = data});
  std::string bytes = amzip::testing::BuildZip(list).bytes;
  return Bytes(bytes.begin(), bytes.end());
}

// image + archive + footer.
inline Bytes AppendArchive(Bytes image, const Bytes& archive) {
  image.insert(image.end(), archive.begin(), archive.end());
  auto footer = MakeFooter(uint32_t(archive.size()));
  image.insert(image.end(), footer.begin(), footer.end());
  return image;
}

}  // namespace content::testing
