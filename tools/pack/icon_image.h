// pack::MakeIconImages: a program icon in every size Windows asks for, made from any
// picture an author has: a .ico, a PNG of any colour type and bit depth (palette, grey,
// 16 bits per channel, with or without transparency), a JPEG, a BMP or a GIF (its first
// frame). Decoding, scaling and the PNG encoder are the stb libraries (Debian libstb-dev).
//
// Every image written is one the system loader shows: 32-bit device-independent bitmaps
// with their mask below 256 pixels, an 8-bit RGBA PNG at 256. The shell picks the image
// of the size it needs (16 in the notification area at 100 %, 20 at 125 %, 24 at 150 %,
// 32 and 48 in Explorer); a size missing from the icon would be scaled by the system
// without regard to transparency, which leaves dark fringes.
//
// Pure functions over bytes; any thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace pack {

// One image of an icon: the fields of its directory entry and its bytes (a PNG or a
// device-independent bitmap with its mask).
struct IconImage {
  uint8_t width = 0, height = 0, colors = 0;  // 0 width or height: 256 pixels
  uint16_t planes = 0, bitCount = 0;
  std::vector<uint8_t> data;
};

// The sizes written, in pixels.
inline constexpr int kIconSizes[] = {16, 20, 24, 32, 40, 48, 64, 256};

// A decoded picture: width * height pixels of 8-bit RGBA, rows top down.
struct Picture {
  int width = 0, height = 0;
  std::vector<uint8_t> rgba;
};

// Decodes every picture file holds (one, or each image of a .ico). Returns "" or why the
// bytes cannot be read as a picture.
std::string DecodePictures(const std::vector<uint8_t>& file, std::vector<Picture>& pictures);

// The icon images of file, one per entry of kIconSizes: a size that file holds exactly (a
// .ico's own 16 by 16, say) is taken as it is; every other is scaled from the largest
// picture (made square by a transparent margin) with a Mitchell filter in linear light,
// weighted by transparency. Returns "" or why file cannot be read.
std::string MakeIconImages(const std::vector<uint8_t>& file, std::vector<IconImage>& images);

// The image's pixels as a 32-bit bitmap with its mask (below 256) or a PNG (256).
IconImage EncodeIconImage(const Picture& square);

}  // namespace pack
