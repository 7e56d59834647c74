// A square PNG of one opaque colour (8-bit RGBA), for the icon tests of the packer.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <string>
#include <vector>

namespace pack::testing {

inline std::vector<uint8_t> SolidPng(uint32_t size, uint8_t r, uint8_t g, uint8_t b) {
  auto bigEndian = [](uint32_t v) {
    return std::string{char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
  };
  auto chunk = [&](const std::string& kind, const std::string& data) {
    std::string body = kind + data;
    uLong crc = crc32(0, reinterpret_cast<const Bytef*>(body.data()), uInt(body.size()));
    return bigEndian(uint32_t(data.size())) + body + bigEndian(uint32_t(crc));
  };
  std::string raw;
  for (uint32_t y = 0; y < size; ++y) {
    raw += '\0';  // no filter
    for (uint32_t x = 0; x < size; ++x) raw += {char(r), char(g), char(b), char(0xFF)};
  }
  std::vector<Bytef> packed(compressBound(uLong(raw.size())));
  uLongf n = packed.size();
  compress(packed.data(), &n, reinterpret_cast<const Bytef*>(raw.data()), uLong(raw.size()));
  std::string png = "\x89PNG\r\n\x1a\n" +
                    chunk("IHDR", bigEndian(size) + bigEndian(size) + std::string{8, 6, 0, 0, 0}) +
                    chunk("IDAT", std::string(packed.begin(), packed.begin() + n)) +
                    chunk("IEND", "");
  return std::vector<uint8_t>(png.begin(), png.end());
}

}  // namespace pack::testing
