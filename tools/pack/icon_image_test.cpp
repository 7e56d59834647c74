#include "tools/pack/icon_image.h"

#include <gtest/gtest.h>

#include "testing/pack_util.h"
#include "testing/png_builder.h"

namespace pack {
namespace {

namespace fs = std::filesystem;

using testing::Le32;
using testing::ReadBytes;

// The pixels of an icon image as the system reads it (a bitmap through a .ico around it).
Picture Pixels(const IconImage& image) {
  std::vector<uint8_t> ico = {0, 0, 1, 0, 1, 0, image.width, image.height, 0, 0, 1, 0, 32, 0};
  for (uint32_t v : {uint32_t(image.data.size()), 22u})
    for (int i = 0; i < 4; ++i) ico.push_back(uint8_t(v >> 8 * i));
  ico.insert(ico.end(), image.data.begin(), image.data.end());
  std::vector<Picture> pictures;
  EXPECT_EQ(DecodePictures(ico, pictures), "");
  return pictures.empty() ? Picture{} : pictures[0];
}

// Every size, each one a 32-bit image the loader shows: bitmaps with a mask below 256,
// a PNG at 256.
void ExpectAllSizes(const std::vector<IconImage>& images) {
  ASSERT_EQ(images.size(), std::size(kIconSizes));
  for (size_t i = 0; i < images.size(); ++i) {
    int size = kIconSizes[i];
    const IconImage& image = images[i];
    EXPECT_EQ(image.width, uint8_t(size));
    EXPECT_EQ(image.bitCount, 32);
    EXPECT_EQ(image.planes, 1);
    if (size == 256) {
      ASSERT_GE(image.data.size(), 33u);
      EXPECT_EQ(image.data[1], 'P');
      EXPECT_EQ(image.data[24], 8) << "bit depth";
      EXPECT_EQ(image.data[25], 6) << "RGBA";
    } else {
      size_t mask = (size_t(size) + 31) / 32 * 4 * size;
      EXPECT_EQ(image.data.size(), 40 + size_t(size) * size * 4 + mask) << size;
      EXPECT_EQ(Le32(image.data, 8), uint32_t(2 * size));
    }
  }
}

// A red disc on transparent ground, from a 16-bit PNG and from a palette PNG: every size
// comes out; the 16-pixel image, scaled, has no dark fringe (colour is weighted by
// transparency), is opaque red in the middle, and transparent (with its mask bit) in the
// corners.
TEST(IconImage, EveryPictureKindGivesEverySizeWithoutFringes) {
  for (const auto& [what, file] :
       {std::pair{"16-bit RGBA", testing::DiscPng16(64, 0xE0, 0x10, 0x20)},
        std::pair{"4-bit palette", testing::DiscPngPalette(61, 0xE0, 0x10, 0x20)}}) {
    std::vector<IconImage> images;
    ASSERT_EQ(MakeIconImages(file, images), "") << what;
    ExpectAllSizes(images);
    Picture small = Pixels(images[0]);
    ASSERT_EQ(small.width, 16) << what;
    int edge = 0;
    for (size_t p = 0; p < small.rgba.size(); p += 4) {
      const uint8_t* px = &small.rgba[p];
      if (px[3] == 0) continue;
      EXPECT_GE(px[0], 0xD0) << what << " pixel " << p / 4 << " darkened";
      EXPECT_LE(px[1], 0x30) << what << " pixel " << p / 4;
      edge += px[3] < 255;
    }
    EXPECT_GT(edge, 0) << what << ": the disc's edge is smoothed";
    EXPECT_EQ(small.rgba[(8 * 16 + 8) * 4 + 3], 255) << what;
    EXPECT_EQ(small.rgba[3], 0) << what;
    const std::vector<uint8_t>& dib = images[0].data;
    EXPECT_EQ(dib[40 + 16 * 16 * 4] & 0x80, 0x80) << what << ": corner masked";
    EXPECT_EQ(dib[40 + 16 * 16 * 4 + 8 * 4 + 1] & 0x80, 0) << what << ": middle not masked";
  }
}

// The runner's own multi-size .ico (bitmaps and a PNG): the sizes it holds are kept as
// they are, the ones it lacks scaled; a JPEG and a BMP (written by ffmpeg) and a grey
// PNG are read too; what is not a picture is refused with a reason.
TEST(IconImage, IcoSizesAreKeptOtherFormatsReadAndJunkRefused) {
  std::vector<uint8_t> ico = ReadBytes(testing::SourceFile("app/res/contentexe.ico"));
  std::vector<Picture> own;
  ASSERT_EQ(DecodePictures(ico, own), "");
  ASSERT_EQ(own.size(), 11u);
  std::vector<IconImage> images;
  ASSERT_EQ(MakeIconImages(ico, images), "");
  ExpectAllSizes(images);
  EXPECT_EQ(Pixels(images[0]).rgba, own[0].rgba) << "the .ico's own 16 by 16";
  EXPECT_EQ(Pixels(images[5]).rgba, own[5].rgba) << "the .ico's own 48 by 48";

  testing::TempDir temp;
  std::vector<uint8_t> png = testing::SolidPng(40, 0x20, 0x40, 0xC0);
  testing::WriteText(temp / "in.png", std::string(png.begin(), png.end()));
  for (const char* kind : {"jpg", "bmp"}) {
    fs::path out = temp / (std::string("out.") + kind);
    auto made = testing::RunShell("ffmpeg -loglevel error -y -i " +
                                  testing::Quoted(temp / "in.png") + " " + testing::Quoted(out));
    ASSERT_EQ(made.status, 0) << made.output;
    ASSERT_EQ(MakeIconImages(ReadBytes(out), images), "") << kind;
    ExpectAllSizes(images);
    Picture px = Pixels(images[3]);
    EXPECT_NEAR(px.rgba[0], 0x20, 12) << kind;
    EXPECT_NEAR(px.rgba[2], 0xC0, 12) << kind;
    EXPECT_EQ(px.rgba[3], 255) << kind;
  }
  // 1-bit grey, 3 by 5: made square by a transparent margin.
  ASSERT_EQ(MakeIconImages(testing::Png(3, 5, 0, 1, std::string(5, char(0xE0)), 1), images), "");
  Picture grey = Pixels(images[7]);  // 256
  EXPECT_EQ(grey.rgba[3], 0);
  EXPECT_EQ(grey.rgba[(128 * 256 + 128) * 4 + 3], 255);

  std::vector<uint8_t> cut = testing::SolidPng(32, 1, 2, 3);
  cut.resize(cut.size() - 20);
  std::vector<uint8_t> badIco = ico;
  badIco[6 + 15] = 0x7F;  // the first image's offset past the end
  for (const auto& [what, bytes] :
       {std::pair{"text", std::vector<uint8_t>(100, 'x')}, std::pair{"cut PNG", cut},
        std::pair{"bad .ico", badIco}, std::pair{"empty", std::vector<uint8_t>()}}) {
    std::string why = MakeIconImages(bytes, images);
    EXPECT_NE(why, "") << what;
    EXPECT_TRUE(images.empty()) << what;
  }
}

}  // namespace
}  // namespace pack
