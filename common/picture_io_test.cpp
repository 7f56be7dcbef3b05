#include "common/picture_io.h"

#include <gtest/gtest.h>
#include <png.h>

#include <cstring>
#include <string>

namespace kuv {
namespace {

std::span<const std::uint8_t> Bytes(const std::string& text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

Picture Checkerboard(int w, int h) {
  Picture picture(w, h);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) picture.at(x, y) = ((x * 7 + y * 3) % 5 == 0) ? kBlack : kWhite;
  }
  return picture;
}

TEST(PictureIo, RasterBitOrderIsMostSignificantFirstAndOneIsWhite) {
  Raster raster;
  raster.fill(0xFF);
  raster[0] = 0x7F;            // dot (0, 0) black
  raster[12 * 5 + 11] = 0xFE;  // dot (95, 5) black
  const Picture picture = PictureFromRaster(raster);
  EXPECT_EQ(picture.at(0, 0), kBlack);
  EXPECT_EQ(picture.at(1, 0), kWhite);
  EXPECT_EQ(picture.at(95, 5), kBlack);
  EXPECT_EQ(picture.at(94, 5), kWhite);
  EXPECT_EQ(RasterFromPicture(picture), raster);
  EXPECT_FALSE(RasterFromPicture(Picture(95, 96)).has_value());
}

TEST(PictureIo, PanelRasterIsThePictureTurnedAQuarterClockwise) {
  struct Case {
    int x, y;     // picture dot
    int row, dot;  // where the panel raster holds it
  };
  const Case cases[] = {{0, 0, 0, 95}, {95, 0, 95, 95}, {0, 95, 0, 0}, {10, 20, 10, 75}};
  for (const auto& c : cases) {
    Picture picture(96, 96);
    picture.at(c.x, c.y) = kBlack;
    const Raster raster = *PanelRasterOfPicture(picture);
    const Picture scan = PictureFromRaster(raster);
    for (int r = 0; r < 96; ++r) {
      for (int d = 0; d < 96; ++d) {
        EXPECT_EQ(scan.at(d, r), (r == c.row && d == c.dot) ? kBlack : kWhite)
            << "picture dot " << c.x << "," << c.y << " raster row " << r << " dot " << d;
      }
    }
    EXPECT_EQ(PictureOfPanelRaster(raster), picture);
  }
  EXPECT_FALSE(PanelRasterOfPicture(Picture(96, 95)).has_value());
}

TEST(PictureIo, PbmAndPngRoundTrip) {
  for (const auto& [w, h] : {std::pair{96, 96}, std::pair{13, 5}, std::pair{1, 1}}) {
    const Picture picture = Checkerboard(w, h);
    const PictureResult pbm = DecodePicture(EncodePbm(picture));
    ASSERT_TRUE(pbm) << pbm.error;
    EXPECT_EQ(*pbm.picture, picture);
    const PictureResult png = DecodePicture(EncodePng(picture));
    ASSERT_TRUE(png) << png.error;
    EXPECT_EQ(*png.picture, picture);
  }
}

TEST(PictureIo, ScaledPngRepeatsEveryDot) {
  const Picture picture = Checkerboard(5, 4);
  const PictureResult png = DecodePng(EncodePng(picture, 3));
  ASSERT_TRUE(png) << png.error;
  ASSERT_EQ(png.picture->width, 15);
  ASSERT_EQ(png.picture->height, 12);
  for (int y = 0; y < 12; ++y) {
    for (int x = 0; x < 15; ++x) EXPECT_EQ(png.picture->at(x, y), picture.at(x / 3, y / 3));
  }
  EXPECT_TRUE(EncodePng(picture, 0).empty());
}

TEST(PictureIo, PlainPbmWithCommentsAndLooseSpacing) {
  const PictureResult result = DecodePbm(Bytes("P1\n# a comment\n3 2 # more\n1 0 1\n001\n"));
  ASSERT_TRUE(result) << result.error;
  EXPECT_EQ(TextArt(*result.picture), "#.#\n..#\n");
}

TEST(PictureIo, RawPbmRowsArePaddedToWholeBytes) {
  std::string file = "P4\n10 2\n";
  file += std::string("\x80\x40\x00\xC0", 4);
  const PictureResult result = DecodePbm(Bytes(file));
  ASSERT_TRUE(result) << result.error;
  EXPECT_EQ(TextArt(*result.picture, 'X', '-'), "X--------X\n--------XX\n");
}

TEST(PictureIo, MalformedFilesGiveErrors) {
  const std::string cases[] = {
      "",
      "P2\n1 1\n0\n",
      "P4\n0 5\n",
      "P4\n3 3\n",  // no dots
      "P4 3 3\n\x01",
      "P1\n2 2\n0 1 2 0\n",
      "P1\n2 2\n0 1 1\n",
      "P4\n99999 1\n",
      "P4\n3000 3000\n",
      "P1",
      "P1\n-3 2\n",
      "\x89PNG\r\n\x1a\n truncated",
      "GIF89a",
  };
  for (const auto& file : cases) {
    const PictureResult result = DecodePicture(Bytes(file));
    EXPECT_FALSE(result) << "accepted: " << file;
    EXPECT_FALSE(result.error.empty());
  }
  const std::vector<std::uint8_t> png = EncodePng(Checkerboard(8, 8));
  const PictureResult cut = DecodePng(std::span(png).first(png.size() / 2));
  EXPECT_FALSE(cut);
}

TEST(PictureIo, ColourPngIsThresholdedAndTransparencyIsWhite) {
  const std::uint8_t rgba[] = {255, 0,   0,   255,   // red: dark enough for ink
                               200, 200, 200, 255,   // light grey: white
                               0,   0,   0,   0,     // transparent black: background
                               0,   0,   255, 255};  // blue: ink
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  image.width = 4;
  image.height = 1;
  image.format = PNG_FORMAT_RGBA;
  png_alloc_size_t size = 0;
  ASSERT_TRUE(png_image_write_get_memory_size(image, size, 0, rgba, 0, nullptr));
  std::vector<std::uint8_t> file(size);
  ASSERT_TRUE(png_image_write_to_memory(&image, file.data(), &size, 0, rgba, 0, nullptr));
  file.resize(size);
  const PictureResult result = DecodePng(file);
  ASSERT_TRUE(result) << result.error;
  EXPECT_EQ(TextArt(*result.picture), "#..#\n");
}

}  // namespace
}  // namespace kuv
