// PNG files for the icon tests of the packer: any colour type and bit depth, written
// chunk by chunk with zlib.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <string>
#include <vector>

namespace pack::testing {

// A PNG of the given IHDR colour type (0 grey, 2 RGB, 3 palette, 4 grey+alpha, 6 RGBA)
// and bit depth whose rows hold rowBytes bytes each (filter bytes are added here), with
// an optional palette (PLTE, 3 bytes a colour) and transparency (tRNS) chunk.
inline std::vector<uint8_t> Png(uint32_t width, uint32_t height, uint8_t colourType, uint8_t depth,
                                const std::string& rows, size_t rowBytes,
                                const std::string& palette = "",
                                const std::string& transparency = "") {
  auto bigEndian = [](uint32_t v) {
    return std::string{char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
  };
  auto chunk = [&](const std::string& kind, const std::string& data) {
    std::string body = kind + data;
    uLong crc = crc32(0, reinterpret_cast<const Bytef*>(body.data()), uInt(body.size()));
    return bigEndian(uint32_t(data.size())) + body + bigEndian(uint32_t(crc));
  };
  std::string raw;
  for (uint32_t y = 0; y < height; ++y) raw += '\0' + rows.substr(y * rowBytes, rowBytes);
  std::vector<Bytef> packed(compressBound(uLong(raw.size())));
  uLongf n = packed.size();
  compress(packed.data(), &n, reinterpret_cast<const Bytef*>(raw.data()), uLong(raw.size()));
  std::string png =
      "\x89PNG\r\n\x1a\n" + chunk("IHDR", bigEndian(width) + bigEndian(height) +
                                              std::string{char(depth), char(colourType), 0, 0, 0});
  if (!palette.empty()) png += chunk("PLTE", palette);
  if (!transparency.empty()) png += chunk("tRNS", transparency);
  png += chunk("IDAT", std::string(packed.begin(), packed.begin() + n)) + chunk("IEND", "");
  return std::vector<uint8_t>(png.begin(), png.end());
}

// A square PNG of one opaque colour (8-bit RGBA).
inline std::vector<uint8_t> SolidPng(uint32_t size, uint8_t r, uint8_t g, uint8_t b) {
  std::string rows;
  for (uint32_t i = 0; i < size * size; ++i) rows += {char(r), char(g), char(b), char(0xFF)};
  return Png(size, size, 6, 8, rows, size * 4);
}

// A size by size picture of a disc of radius size * 3 / 8 in the middle, in the palette's
// colour 1, on transparent ground: as a 16-bit RGBA PNG (colour r, g, b), and as a 4-bit
// palette PNG with tRNS.
inline std::vector<uint8_t> DiscPng16(uint32_t size, uint8_t r, uint8_t g, uint8_t b) {
  std::string rows;
  double radius = size * 3.0 / 8, c = size / 2.0;
  for (uint32_t y = 0; y < size; ++y)
    for (uint32_t x = 0; x < size; ++x) {
      bool in = (x + 0.5 - c) * (x + 0.5 - c) + (y + 0.5 - c) * (y + 0.5 - c) <= radius * radius;
      for (uint8_t v : {r, g, b, uint8_t(in ? 0xFF : 0)}) rows += {char(v), char(v ^ 0x5A)};
    }
  return Png(size, size, 6, 16, rows, size * 8);
}
inline std::vector<uint8_t> DiscPngPalette(uint32_t size, uint8_t r, uint8_t g, uint8_t b) {
  std::string rows((size + 1) / 2 * size, '\0');
  double radius = size * 3.0 / 8, c = size / 2.0;
  for (uint32_t y = 0; y < size; ++y)
    for (uint32_t x = 0; x < size; ++x)
      if ((x + 0.5 - c) * (x + 0.5 - c) + (y + 0.5 - c) * (y + 0.5 - c) <= radius * radius)
        rows[y * ((size + 1) / 2) + x / 2] |= char(x % 2 ? 0x01 : 0x10);
  return Png(size, size, 3, 4, rows, (size + 1) / 2,
             std::string{0, 0, 0, char(r), char(g), char(b)}, std::string{0, char(0xFF)});
}

}  // namespace pack::testing
