#include <gtest/gtest.h>

#include <cstring>

#include "app/compose/bitmap_raster.h"
#include "app/compose/bmp_file.h"
#include "app/compose/photo_convert.h"

namespace kuv {
namespace {

bool Dot(const Raster& r, int x, int y) {
  return (r[y * 12 + x / 8] >> (7 - x % 8)) & 1;
}
void SetDot(Raster& r, int x, int y, bool v) {
  auto mask = static_cast<std::uint8_t>(0x80u >> (x % 8));
  auto& b = r[y * 12 + x / 8];
  b = v ? static_cast<std::uint8_t>(b | mask) : static_cast<std::uint8_t>(b & ~mask);
}

BmpImage Pattern() {
  BmpImage image;
  for (std::size_t i = 0; i < image.bits.size(); ++i) {
    image.bits[i] = static_cast<std::uint8_t>(i * 37 + (i >> 5));
  }
  return image;
}

std::uint32_t Le32(const std::vector<std::uint8_t>& b, std::size_t at) {
  return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) |
         (static_cast<std::uint32_t>(b[at + 3]) << 24);
}
void Put32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

TEST(BmpFile, WritesTheFixedLayoutBottomRowFirst) {
  BmpImage image = Pattern();
  image.colours = {{{1, 2, 3}, {4, 5, 6}}};
  const std::vector<std::uint8_t> file = EncodeBmp(image);
  ASSERT_EQ(file.size(), 1214u);
  EXPECT_EQ(file[0], 'B');
  EXPECT_EQ(file[1], 'M');
  EXPECT_EQ(Le32(file, 2), 1214u);
  EXPECT_EQ(Le32(file, 6), 0u);
  EXPECT_EQ(Le32(file, 10), 62u);
  EXPECT_EQ(Le32(file, 14), 40u);
  EXPECT_EQ(Le32(file, 18), 96u);
  EXPECT_EQ(Le32(file, 22), 96u);
  EXPECT_EQ(file[26] | file[27] << 8, 1);
  EXPECT_EQ(file[28] | file[29] << 8, 1);
  EXPECT_EQ(Le32(file, 30), 0u);
  EXPECT_EQ(Le32(file, 34), 1152u);
  EXPECT_EQ(Le32(file, 46), 2u);
  const std::uint8_t table[8] = {1, 2, 3, 0, 4, 5, 6, 0};
  EXPECT_EQ(std::memcmp(file.data() + 54, table, 8), 0);
  EXPECT_EQ(std::memcmp(file.data() + 62, image.bits.data() + 95 * 12, 12), 0);
  EXPECT_EQ(std::memcmp(file.data() + 62 + 95 * 12, image.bits.data(), 12), 0);

  const BmpReadResult back = DecodeBmp(file);
  ASSERT_EQ(back.status, BmpStatus::kOk) << back.error;
  EXPECT_EQ(back.image, image);
}

// Variants other writers produce; each must read as the same picture.
TEST(BmpFile, ReadsEveryVariantOfTheSamePicture) {
  const BmpImage image = Pattern();
  const std::vector<std::uint8_t> plain = EncodeBmp(image);

  std::vector<std::uint8_t> topDown = plain;
  Put32(topDown, 22, static_cast<std::uint32_t>(-96));
  for (int row = 0; row < 96; ++row)
    std::memcpy(topDown.data() + 62 + row * 12, image.bits.data() + row * 12, 12);

  std::vector<std::uint8_t> noSizes = plain;
  Put32(noSizes, 2, 0);
  Put32(noSizes, 34, 0);
  Put32(noSizes, 46, 0);
  Put32(noSizes, 50, 0);
  Put32(noSizes, 10, 0);  // pixels right behind the table

  std::vector<std::uint8_t> v5(plain.begin(), plain.begin() + 54);
  Put32(v5, 14, 124);
  Put32(v5, 10, 14 + 124 + 8);
  v5.resize(14 + 124, 0);
  v5.insert(v5.end(), plain.begin() + 54, plain.end());

  std::vector<std::uint8_t> core = {'B', 'M', 0,  0, 0,  0, 0, 0, 0, 0, 32, 0, 0, 0,   12,  0,
                                    0,   0,   96, 0, 96, 0, 1, 0, 1, 0, 0,  0, 0, 255, 255, 255};
  core.insert(core.end(), plain.begin() + 62, plain.end());

  std::vector<std::uint8_t> padded = plain;  // a gap between table and pixels
  Put32(padded, 10, 70);
  padded.insert(padded.begin() + 62, 8, 0xEE);

  struct Case {
    const char* name;
    const std::vector<std::uint8_t>* bytes;
  } cases[] = {{"top-down", &topDown},
               {"no size fields", &noSizes},
               {"version 5", &v5},
               {"core header", &core},
               {"gap before pixels", &padded}};
  for (const Case& c : cases) {
    const BmpReadResult result = DecodeBmp(*c.bytes);
    ASSERT_EQ(result.status, BmpStatus::kOk) << c.name << ": " << result.error;
    EXPECT_EQ(result.image.bits, image.bits) << c.name;
    EXPECT_EQ(result.image.colours, image.colours) << c.name;
  }
}

TEST(BmpFile, RejectsWhatIsNotA96By96OneBitPicture) {
  const std::vector<std::uint8_t> plain = EncodeBmp(Pattern());
  auto with = [&](std::size_t at, std::uint32_t value, std::size_t width = 4) {
    std::vector<std::uint8_t> b = plain;
    for (std::size_t i = 0; i < width; ++i) b[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
    return b;
  };
  struct Case {
    const char* name;
    std::vector<std::uint8_t> bytes;
    BmpStatus status;
  } cases[] = {
      {"width 95", with(18, 95), BmpStatus::kWrongSize},
      {"height 200", with(22, 200), BmpStatus::kWrongSize},
      {"8 bits", with(28, 8, 2), BmpStatus::kTooManyColours},
      {"24 bits", with(28, 24, 2), BmpStatus::kTooManyColours},
      {"3 bits", with(28, 3, 2), BmpStatus::kUnreadable},
      {"compressed", with(30, 1), BmpStatus::kUnreadable},
      {"one colour", with(46, 1), BmpStatus::kUnreadable},
      {"two planes", with(26, 2, 2), BmpStatus::kUnreadable},
      {"height 0", with(22, 0), BmpStatus::kUnreadable},
      {"header 64k", with(14, 65536), BmpStatus::kUnreadable},
      {"offset past end", with(10, 0xFFFFFFF0u), BmpStatus::kUnreadable},
      {"cut short", std::vector<std::uint8_t>(plain.begin(), plain.end() - 1),
       BmpStatus::kUnreadable},
      {"not BM", with(0, 'P', 1), BmpStatus::kUnreadable},
      {"empty", {}, BmpStatus::kUnreadable},
  };
  for (const Case& c : cases) EXPECT_EQ(DecodeBmp(c.bytes).status, c.status) << c.name;
}

TEST(BitmapRaster, PolarityOnlyFlipsForPureWhiteThenBlack) {
  BmpImage image;
  EXPECT_TRUE(NormalPolarity(image));
  image.colours = {{{255, 255, 255}, {0, 0, 0}}};
  EXPECT_FALSE(NormalPolarity(image));
  image.colours = {{{0, 0, 255}, {255, 0, 0}}};  // red then blue: taken as is
  EXPECT_TRUE(NormalPolarity(image));
  image.colours = {{{255, 255, 255}, {1, 0, 0}}};
  EXPECT_TRUE(NormalPolarity(image));
}

TEST(BitmapRaster, ConvertRasterTurnsClockwiseByAnglePlus90) {
  struct Case {
    std::int32_t angle;
    int x, y;
  } cases[] = {{-90, 10, 20}, {0, 75, 10},   {90, 85, 75},
               {180, 20, 85}, {270, 10, 20}, {45, 10, 20}};
  for (const Case& c : cases) {
    Raster raster{};
    SetDot(raster, 10, 20, true);
    ConvertRaster(c.angle, raster, false, true);
    EXPECT_TRUE(Dot(raster, c.x, c.y)) << c.angle;
    int set = 0;
    for (auto b : raster) set += __builtin_popcount(b);
    EXPECT_EQ(set, 1) << c.angle;
  }
  // Reverse and a white-then-black table each invert; together they cancel.
  const Raster pattern = Pattern().bits;
  for (auto [reverse, normal, inverted] : {std::tuple{false, true, false},
                                           {true, true, true},
                                           {false, false, true},
                                           {true, false, false}}) {
    Raster raster = pattern;
    ConvertRaster(-90, raster, reverse, normal);
    EXPECT_EQ(raster[7], inverted ? static_cast<std::uint8_t>(~pattern[7]) : pattern[7]);
  }
}

class BitmapScreenTest : public ::testing::Test {
 protected:
  BitmapScreenTest() {
    drive_ = EmptyDriveRecord();
    drive_.driveNumber = 0;
    drive_.fileSystemType = kFsNtfs;
    drive_.panelModel = 3;  // rotation 0 leaves the picture unturned
    config_ = InitialSlotConfig();
    for (std::size_t i = 0; i < text_.size(); ++i) text_[i] = static_cast<std::uint8_t>(i * 11);
  }
  DriveRecord drive_;
  ScreenConfig config_;
  Raster text_{};
};

TEST_F(BitmapScreenTest, WhiteThenBlackTableShowsLikeBlackThenWhite) {
  const BmpImage normal = Pattern();
  BmpImage flipped = normal;
  flipped.colours = {{{255, 255, 255}, {0, 0, 0}}};
  for (auto& b : flipped.bits) b = static_cast<std::uint8_t>(~b);
  for (std::int32_t area : {kAreaAll, kAreaUpper, kAreaLower}) {
    config_.bmpAreaRatio = area;
    EXPECT_EQ(ComposeBitmapRaster(normal, drive_, config_, text_),
              ComposeBitmapRaster(flipped, drive_, config_, text_))
        << area;
    const BitmapPreviewInput in{area, 90, true, false};
    EXPECT_EQ(BitmapPreview(normal, drive_, in, text_), BitmapPreview(flipped, drive_, in, text_));
  }
}

TEST_F(BitmapScreenTest, HalfScreensTakeTheTextHalfWhateverTheTable) {
  for (bool whiteFirst : {false, true}) {
    BmpImage image = Pattern();
    if (whiteFirst) image.colours = {{{255, 255, 255}, {0, 0, 0}}};
    for (bool wb : {false, true}) {
      config_.bmpWB = wb;
      config_.bmpAreaRatio = kAreaUpper;
      Raster upper = ComposeBitmapRaster(image, drive_, config_, text_);
      config_.bmpAreaRatio = kAreaLower;
      Raster lower = ComposeBitmapRaster(image, drive_, config_, text_);
      for (std::size_t i = 0; i < 576; ++i) {
        const auto want = [&](std::size_t k) {
          return wb ? static_cast<std::uint8_t>(~text_[k]) : text_[k];
        };
        ASSERT_EQ(upper[576 + i], want(576 + i)) << whiteFirst << wb << i;
        ASSERT_EQ(lower[i], want(i)) << whiteFirst << wb << i;
        const std::uint8_t pic =
            whiteFirst ^ wb ? static_cast<std::uint8_t>(~image.bits[i]) : image.bits[i];
        ASSERT_EQ(upper[i], pic) << whiteFirst << wb << i;
      }
    }
  }
}

TEST_F(BitmapScreenTest, RotationZeroTurnsOnlyPanelsOtherThanModel3) {
  BmpImage image;
  image.bits.fill(0xFF);
  SetDot(image.bits, 10, 20, false);
  Raster unturned = ComposeBitmapRaster(image, drive_, config_, text_);
  EXPECT_FALSE(Dot(unturned, 10, 20));
  drive_.panelModel = 1;
  Raster turned = ComposeBitmapRaster(image, drive_, config_, text_);
  EXPECT_FALSE(Dot(turned, 75, 10));
  EXPECT_TRUE(Dot(turned, 10, 20));
  // The preview stays unturned until rotate-preview is on with a rotation.
  const Picture preview = BitmapPreview(image, drive_, {kAreaAll, 90, false, false}, text_);
  EXPECT_EQ(preview.at(10, 20), kBlack);
  EXPECT_EQ(preview.at(97, 97), kWhite);
  const Picture turnedPreview = BitmapPreview(image, drive_, {kAreaAll, 90, true, false}, text_);
  EXPECT_EQ(turnedPreview.at(75, 10), kBlack);
}

// Cell k of the gauge is filled (used) or outlined (free); read from its middle dot.
int FreeCells(const Raster& bits, bool horizontal, bool paper) {
  int free = 0;
  for (int k = 0; k < 10; ++k) {
    const bool middle = horizontal ? Dot(bits, 4 + 9 * k + 4, 88) : Dot(bits, 88, 3 + 9 * k + 4);
    const bool edge = horizontal ? Dot(bits, 4 + 9 * k, 88) : Dot(bits, 83, 3 + 9 * k + 4);
    EXPECT_NE(edge, paper) << k;
    if (middle == paper) ++free;
  }
  return free;
}

TEST(CapacityGauge, CountsFreeCellsAndDrawsWhereTheModelWantsThem) {
  struct Case {
    std::uint64_t total, free;
    int freeCells;
  } cases[] = {{1000, 500, 5}, {1000, 50, 0}, {1000, 49, 0}, {1000, 1000, 10},
               {0, 500, 0},    {1000, 0, 0},  {5, 5, 0},     {1ull << 40, 1ull << 39, 5}};
  for (const Case& c : cases) {
    for (int model : {1, 3}) {
      for (bool normal : {true, false}) {
        DriveRecord drive = EmptyDriveRecord();
        drive.totalSectors = c.total;
        drive.freeSectors = c.free;
        drive.panelModel = model;
        Raster bits{};
        if (!normal) bits.fill(0xFF);
        DrawCapacityGauge(drive, bits, normal);
        const bool horizontal = model == 3;
        EXPECT_EQ(FreeCells(bits, horizontal, normal), c.freeCells)
            << c.total << "/" << c.free << " model " << model;
        // The strip is cleared to paper outside the cells.
        EXPECT_EQ(Dot(bits, horizontal ? 1 : 95, horizontal ? 95 : 1), normal);
        // Nothing drawn outside the strip.
        EXPECT_EQ(Dot(bits, 40, 40), !normal);
      }
    }
  }
}

TEST(PhotoConvert, FitsKeepingTheAspectOnWhite) {
  GreyImage wide{200, 100, std::vector<std::uint8_t>(200 * 100, 0)};
  const GreyImage fitted = FitToPanel(wide);
  EXPECT_EQ(fitted.grey[0], 255);             // band above
  EXPECT_EQ(fitted.grey[24 * 96 + 0], 0);     // picture from row 24
  EXPECT_EQ(fitted.grey[71 * 96 + 95], 0);    // to row 71
  EXPECT_EQ(fitted.grey[72 * 96 + 50], 255);  // band below
  GreyImage tiny{1, 2, {0, 255}};             // enlarged to 48 x 96
  const GreyImage big = FitToPanel(tiny);
  EXPECT_EQ(big.grey[10 * 96 + 30], 0);
  EXPECT_EQ(big.grey[80 * 96 + 30], 255);
  EXPECT_EQ(big.grey[10 * 96 + 10], 255);
  for (const GreyImage& bad : {GreyImage{}, GreyImage{3, 3, {1, 2}}, GreyImage{-1, 5, {}}}) {
    const GreyImage blank = FitToPanel(bad);
    EXPECT_EQ(std::count(blank.grey.begin(), blank.grey.end(), 255), 96 * 96);
  }
}

int WhiteDots(const BmpImage& image) {
  int n = 0;
  for (auto b : image.bits) n += __builtin_popcount(b);
  return n;
}

TEST(PhotoConvert, DithersGreyAndThresholdsLineArt) {
  const GreyImage grey{96, 96, std::vector<std::uint8_t>(96 * 96, 128)};
  const BmpImage dithered = ConvertPhoto(grey, {});
  EXPECT_NEAR(WhiteDots(dithered), 96 * 96 / 2, 96 * 96 / 20);
  EXPECT_TRUE(NormalPolarity(dithered));
  const GreyImage dark{96, 96, std::vector<std::uint8_t>(96 * 96, 100)};
  EXPECT_EQ(WhiteDots(ConvertPhoto(dark, {false, 128})), 0);
  EXPECT_EQ(WhiteDots(ConvertPhoto(dark, {false, 90})), 96 * 96);
  const GreyImage black{96, 96, std::vector<std::uint8_t>(96 * 96, 0)};
  EXPECT_EQ(WhiteDots(ConvertPhoto(black, {})), 0);
}

}  // namespace
}  // namespace kuv
