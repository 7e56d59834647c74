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

inline void PutLe(Bytes& b, size_t at, uint32_t v, int width) {
  for (int i = 0; i < width; ++i) b[at + i] = uint8_t(v >> (8 * i));
}
inline void Put32(Bytes& b, size_t at, uint32_t v) { PutLe(b, at, v, 4); }

// A minimal but well-formed PE image: DOS header, PE32 (or PE32+) headers with 16 data
// directories, one section of 512 bytes. Large enough for signing tools to accept.
inline Bytes MakePe(bool pe32plus) {
  const size_t coff = 0x84, opt = coff + 20, section = opt + (pe32plus ? 0xF0 : 0xE0);
  Bytes b(0x400, 0);
  std::memcpy(&b[0], "MZ", 2);
  std::memcpy(&b[0x80], "PE\0\0", 4);
  b[0x200] = 0xC3;  // ret
  std::memcpy(&b[section], ".text", 5);
  const struct {
    size_t at;
    int width;
    uint32_t value;
  } fields[] = {
      // clang-format off
      {0x3C, 4, 0x80},                                              // e_lfanew
      {coff, 2, pe32plus ? 0x8664u : 0x14Cu},                       // machine
      {coff + 2, 2, 1}, {coff + 16, 2, uint32_t(section - opt)},    // sections, optional size
      {coff + 18, 2, pe32plus ? 0x22u : 0x102u},                    // executable image
      {opt, 2, pe32plus ? 0x20Bu : 0x10Bu},                         // magic
      {opt + 4, 4, 0x200}, {opt + 16, 4, 0x1000}, {opt + 20, 4, 0x1000},  // code size, entry, base
      {opt + (pe32plus ? 24u : 28u), 4, pe32plus ? 0x40000000u : 0x400000u},  // image base
      {opt + 32, 4, 0x1000}, {opt + 36, 4, 0x200},                  // section, file alignment
      {opt + 40, 2, 6}, {opt + 48, 2, 6},                           // OS, subsystem versions
      {opt + 56, 4, 0x2000}, {opt + 60, 4, 0x200},                  // image, headers size
      {opt + 68, 2, 3},                                             // console subsystem
      {opt + (pe32plus ? 108u : 92u), 4, 16},                       // data directories
      {section + 8, 4, 0x200}, {section + 12, 4, 0x1000},           // virtual size, address
      {section + 16, 4, 0x200}, {section + 20, 4, 0x200},           // raw size, pointer
      {section + 36, 4, 0x60000020},                                // code, execute, read
      // clang-format on
  };
  for (const auto& f : fields) PutLe(b, f.at, f.value, f.width);
  return b;
}

// Offset of the security data directory entry in a MakePe image.
inline size_t SecurityEntryOffset(const Bytes& pe) {
  return 0x98 + (pe[0x99] == 2 ? 112 : 96) + 32;
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
