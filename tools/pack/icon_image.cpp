#include "tools/pack/icon_image.h"
#include "tools/pack/le_bytes.h"

#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

// Only the formats an author's icon comes in: stb would otherwise take almost any bytes
// for a TGA file, which has no signature.
#define STBI_ONLY_PNG
#define STBI_ONLY_JPEG
#define STBI_ONLY_BMP
#define STBI_ONLY_GIF
#define STBI_NO_STDIO
#define STBI_FAILURE_USERMSG
#define STBI_MAX_DIMENSIONS 16384
#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#include <stb_image.h>

#define STB_IMAGE_RESIZE_STATIC
#define STB_IMAGE_RESIZE_IMPLEMENTATION
#include <stb_image_resize.h>

namespace {
// zlib at its best level: the 256-pixel PNG is most of an icon's bytes.
unsigned char* ZlibCompress(unsigned char* data, int length, int* outLength, int) {
  uLongf size = compressBound(uLong(length));
  auto* out = static_cast<unsigned char*>(std::malloc(size));
  if (!out || compress2(out, &size, data, uLong(length), Z_BEST_COMPRESSION) != Z_OK) {
    std::free(out);
    return nullptr;
  }
  *outLength = int(size);
  return out;
}
}  // namespace

#define STBIW_ZLIB_COMPRESS ZlibCompress
#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb_image_write.h>

namespace pack {
namespace {

// A picture of more pixels than this is refused before it is decoded (a 16384 by 16384
// RGBA picture alone would take 1 GiB).
constexpr uint64_t kMaxPixels = 64ull << 20;


std::string Decode(const uint8_t* data, size_t size, Picture& picture) {
  int width = 0, height = 0, channels = 0;
  if (size > 0x7FFFFFFF) return "the picture is too large";
  if (!stbi_info_from_memory(data, int(size), &width, &height, &channels))
    return stbi_failure_reason();
  if (uint64_t(width) * uint64_t(height) > kMaxPixels)
    return "the picture has more than 64 million pixels";
  stbi_uc* pixels = stbi_load_from_memory(data, int(size), &width, &height, &channels, 4);
  if (!pixels) return stbi_failure_reason();
  picture.width = width;
  picture.height = height;
  picture.rgba.assign(pixels, pixels + size_t(width) * height * 4);
  stbi_image_free(pixels);
  return {};
}

// A bitmap image of a .ico (header, palette, colour rows, then the 1-bit mask, at twice
// its height) decoded through a BMP file made of it; the mask makes pixels transparent
// unless the colour rows carry their own alpha.
std::string DecodeIconBitmap(const std::vector<uint8_t>& dib, Picture& picture) {
  if (dib.size() < 40) return "a bitmap of the .ico is cut short";
  uint32_t headerSize = Get32(dib, 0);
  int32_t width = int32_t(Get32(dib, 4)), height = int32_t(Get32(dib, 8)) / 2;
  uint16_t bits = Get16(dib, 14);
  uint32_t used = Get32(dib, 32);
  if (headerSize < 40 || headerSize > dib.size() || width <= 0 || height <= 0 || width > 1024 ||
      height > 1024 || bits == 0 || bits > 32)
    return "a bitmap of the .ico has an invalid header";
  uint64_t palette = bits <= 8 ? (used ? used : 1u << bits) * 4ull : 0;
  uint64_t colourBytes = (uint64_t(width) * bits + 31) / 32 * 4 * height;
  uint64_t maskStride = (uint64_t(width) + 31) / 32 * 4;
  uint64_t maskAt = headerSize + palette + colourBytes;
  if (maskAt > dib.size()) return "a bitmap of the .ico is cut short";

  std::vector<uint8_t> bmp = {'B', 'M'};
  Add32(bmp, uint32_t(14 + maskAt));
  Add32(bmp, 0);
  Add32(bmp, uint32_t(14 + headerSize + palette));
  bmp.insert(bmp.end(), dib.begin(), dib.begin() + maskAt);
  for (int i = 0; i < 4; ++i) bmp[14 + 8 + i] = uint8_t(uint32_t(height) >> 8 * i);
  if (auto why = Decode(bmp.data(), bmp.size(), picture); !why.empty()) return why;

  // stb makes a 32-bit bitmap whose alpha is all zero opaque: then the mask decides.
  bool ownAlpha = false;
  for (size_t i = 3; bits == 32 && i < picture.rgba.size() && !ownAlpha; i += 4)
    ownAlpha = picture.rgba[i] != 255;
  if (ownAlpha || maskAt + maskStride * height > dib.size()) return {};
  for (int y = 0; y < height; ++y) {
    const uint8_t* row = &dib[maskAt + maskStride * (height - 1 - y)];
    for (int x = 0; x < width; ++x)
      if (row[x / 8] & (0x80 >> (x % 8))) picture.rgba[(size_t(y) * width + x) * 4 + 3] = 0;
  }
  return {};
}

bool IsPng(const uint8_t* b, size_t size) {
  static const uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  return size >= 8 && std::equal(kSignature, kSignature + 8, b);
}

std::string DecodeIco(const std::vector<uint8_t>& file, std::vector<Picture>& pictures) {
  size_t count = Get16(file, 4);
  if (6 + 16 * count > file.size()) return "the .ico file is cut short";
  for (size_t i = 0; i < count; ++i) {
    size_t e = 6 + 16 * i;
    uint32_t size = Get32(file, e + 8), offset = Get32(file, e + 12);
    if (size < 8 || uint64_t{offset} + size > file.size())
      return "image " + std::to_string(i + 1) + " of the .ico file lies outside it";
    std::vector<uint8_t> data(file.begin() + offset, file.begin() + offset + size);
    Picture picture;
    std::string why = IsPng(data.data(), data.size()) ? Decode(data.data(), data.size(), picture)
                                                      : DecodeIconBitmap(data, picture);
    if (!why.empty()) return "image " + std::to_string(i + 1) + " of the .ico file: " + why;
    pictures.push_back(std::move(picture));
  }
  return {};
}

// picture centred on a transparent square.
Picture Square(const Picture& picture) {
  if (picture.width == picture.height) return picture;
  Picture square;
  square.width = square.height = std::max(picture.width, picture.height);
  square.rgba.assign(size_t(square.width) * square.height * 4, 0);
  int left = (square.width - picture.width) / 2, top = (square.height - picture.height) / 2;
  for (int y = 0; y < picture.height; ++y)
    std::memcpy(&square.rgba[(size_t(top + y) * square.width + left) * 4],
                &picture.rgba[size_t(y) * picture.width * 4], size_t(picture.width) * 4);
  return square;
}

Picture Scale(const Picture& square, int size) {
  Picture out;
  out.width = out.height = size;
  out.rgba.resize(size_t(size) * size * 4);
  // Colour is filtered in linear light and weighted by alpha, so transparent pixels lend
  // no colour to their neighbours.
  stbir_resize_uint8_generic(square.rgba.data(), square.width, square.height, 0, out.rgba.data(),
                             size, size, 0, 4, 3, 0, STBIR_EDGE_CLAMP, STBIR_FILTER_MITCHELL,
                             STBIR_COLORSPACE_SRGB, nullptr);
  return out;
}

void AppendPng(void* context, void* data, int size) {
  auto* out = static_cast<std::vector<uint8_t>*>(context);
  out->insert(out->end(), static_cast<uint8_t*>(data), static_cast<uint8_t*>(data) + size);
}

}  // namespace

std::string DecodePictures(const std::vector<uint8_t>& file, std::vector<Picture>& pictures) {
  pictures.clear();
  if (file.size() >= 6 && Get16(file, 0) == 0 && Get16(file, 2) == 1 && Get16(file, 4) != 0)
    return DecodeIco(file, pictures);
  Picture picture;
  if (auto why = Decode(file.data(), file.size(), picture); !why.empty()) return why;
  pictures.push_back(std::move(picture));
  return {};
}

IconImage EncodeIconImage(const Picture& square) {
  int size = square.width;
  IconImage image;
  image.width = image.height = uint8_t(size);  // 256 is written as 0
  image.planes = 1;
  image.bitCount = 32;
  if (size >= 256) {
    stbi_write_png_to_func(AppendPng, &image.data, size, size, 4, square.rgba.data(), size * 4);
    return image;
  }
  std::vector<uint8_t>& dib = image.data;
  size_t maskStride = (size_t(size) + 31) / 32 * 4;
  Add32(dib, 40);
  Add32(dib, uint32_t(size));
  Add32(dib, uint32_t(size) * 2);  // colour rows and mask rows
  Add16(dib, 1);
  Add16(dib, 32);
  Add32(dib, 0);  // BI_RGB
  Add32(dib, uint32_t(size * size * 4 + maskStride * size));
  for (int i = 0; i < 4; ++i) Add32(dib, 0);
  for (int y = size - 1; y >= 0; --y) {  // bottom-up, BGRA
    const uint8_t* p = &square.rgba[size_t(y) * size * 4];
    for (int x = 0; x < size; ++x, p += 4) dib.insert(dib.end(), {p[2], p[1], p[0], p[3]});
  }
  // The mask hides the fully transparent pixels from renderers that ignore alpha.
  for (int y = size - 1; y >= 0; --y) {
    std::vector<uint8_t> row(maskStride, 0);
    for (int x = 0; x < size; ++x)
      if (square.rgba[(size_t(y) * size + x) * 4 + 3] == 0) row[x / 8] |= uint8_t(0x80 >> (x % 8));
    dib.insert(dib.end(), row.begin(), row.end());
  }
  return image;
}

std::string MakeIconImages(const std::vector<uint8_t>& file, std::vector<IconImage>& images) {
  images.clear();
  std::vector<Picture> pictures;
  if (auto why = DecodePictures(file, pictures); !why.empty()) return why;
  const Picture* largest = &pictures[0];
  for (const Picture& p : pictures)
    if (uint64_t(p.width) * p.height > uint64_t(largest->width) * largest->height) largest = &p;
  Picture source = Square(*largest);
  for (int size : kIconSizes) {
    auto exact = std::find_if(pictures.begin(), pictures.end(), [size](const Picture& p) {
      return p.width == size && p.height == size;
    });
    images.push_back(EncodeIconImage(exact != pictures.end() ? *exact
                                     : source.width == size  ? source
                                                             : Scale(source, size)));
  }
  return {};
}

}  // namespace pack
