#include "app/compose/bitmap_raster.h"

#include <array>

#include "app/compose/pictures.h"
#include "app/compose/renderer.h"

namespace kuv {
namespace {

constexpr int kSide = kPanelSide;
constexpr std::size_t kHalf = kRasterBytes / 2;
constexpr int kGaugeCells = 10;
constexpr int kCellStep = 9;
constexpr int kModelHorizontalGauge = 3;

using Dots = std::array<std::uint8_t, static_cast<std::size_t>(kSide* kSide)>;

bool GetBit(const Raster& r, int x, int y) {
  return (r[static_cast<std::size_t>(y * 12 + x / 8)] >> (7 - x % 8)) & 1;
}

void SetBit(Raster& r, int x, int y, bool value) {
  const auto mask = static_cast<std::uint8_t>(0x80u >> (x % 8));
  std::uint8_t& byte = r[static_cast<std::size_t>(y * 12 + x / 8)];
  byte = value ? static_cast<std::uint8_t>(byte | mask) : static_cast<std::uint8_t>(byte & ~mask);
}

void Fill(Raster& r, int left, int top, int right, int bottom, bool value) {
  for (int y = top; y < bottom; ++y)
    for (int x = left; x < right; ++x) SetBit(r, x, y, value);
}

void Outline(Raster& r, int left, int top, int right, int bottom, bool ink, bool paper) {
  Fill(r, left, top, right, bottom, ink);
  Fill(r, left + 1, top + 1, right - 1, bottom - 1, paper);
}

}  // namespace

void ConvertRaster(std::int32_t angle, Raster& raster, bool reverse, bool normalPolarity) {
  const std::uint8_t flip = static_cast<std::uint8_t>((reverse ? 1 : 0) ^ (normalPolarity ? 0 : 1));
  const std::int64_t turn = ((static_cast<std::int64_t>(angle) + 90) % 360 + 360) % 360;
  Dots in{};
  for (int y = 0; y < kSide; ++y)
    for (int x = 0; x < kSide; ++x)
      in[static_cast<std::size_t>(y * kSide + x)] =
          static_cast<std::uint8_t>(GetBit(raster, x, y) ^ flip);
  Dots out = in;
  if (turn == 90 || turn == 180 || turn == 270) {
    for (int y = 0; y < kSide; ++y) {
      for (int x = 0; x < kSide; ++x) {
        int nx = x, ny = y;
        if (turn == 90) {
          nx = kSide - 1 - y;
          ny = x;
        } else if (turn == 180) {
          nx = kSide - 1 - x;
          ny = kSide - 1 - y;
        } else {
          nx = y;
          ny = kSide - 1 - x;
        }
        out[static_cast<std::size_t>(ny * kSide + nx)] =
            in[static_cast<std::size_t>(y * kSide + x)];
      }
    }
  }
  raster.fill(0);
  for (int y = 0; y < kSide; ++y)
    for (int x = 0; x < kSide; ++x)
      if (out[static_cast<std::size_t>(y * kSide + x)]) SetBit(raster, x, y, true);
}

void DrawCapacityGauge(const DriveRecord& drive, Raster& bits, bool normalPolarity) {
  const bool paper = normalPolarity;
  const bool ink = !normalPolarity;
  const int free = FreeSegmentCount(drive.freeSectors, drive.totalSectors);
  if (drive.panelModel == kModelHorizontalGauge) {
    Fill(bits, 0, 84, kSide, kSide, paper);
    for (int k = 0; k < kGaugeCells; ++k) {
      const int x = 4 + kCellStep * k;
      if (k < kGaugeCells - free) {
        Fill(bits, x, 83, x + 8, 94, ink);
      } else {
        Outline(bits, x, 83, x + 8, 94, ink, paper);
      }
    }
  } else {
    Fill(bits, 84, 0, kSide, kSide, paper);
    for (int k = 0; k < kGaugeCells; ++k) {
      const int y = 3 + kCellStep * k;
      if (k < free) {
        Outline(bits, 83, y, 94, y + 8, ink, paper);
      } else {
        Fill(bits, 83, y, 94, y + 8, ink);
      }
    }
  }
}

void SpliceHalf(Raster& bits, const Raster& imageRaster, std::int32_t area, bool normalPolarity) {
  std::size_t from = 0;
  if (area == kAreaUpper) {
    from = kHalf;
  } else if (area != kAreaLower) {
    return;
  }
  for (std::size_t i = from; i < from + kHalf; ++i) {
    bits[i] = normalPolarity ? imageRaster[i] : static_cast<std::uint8_t>(~imageRaster[i]);
  }
}

Raster ComposeBitmapRaster(const BmpImage& image, const DriveRecord& drive,
                           const ScreenConfig& config, const Raster& imageRaster) {
  const bool normal = NormalPolarity(image);
  Raster raster = image.bits;
  if (UsesBarLayout(drive.fileSystemType)) DrawCapacityGauge(drive, raster, normal);
  SpliceHalf(raster, imageRaster, config.bmpAreaRatio, normal);
  const std::int32_t angle =
      drive.panelModel == kModelHorizontalGauge
          ? static_cast<std::int32_t>(static_cast<std::int64_t>(config.bmpRotation) - 90)
          : config.bmpRotation;
  ConvertRaster(angle, raster, config.bmpWB != 0, normal);
  return raster;
}

Picture BlankBitmapPreview() {
  return Picture(kPreviewSide, kPreviewSide);
}

Picture BitmapPreview(const BmpImage& image, const DriveRecord& drive, const BitmapPreviewInput& in,
                      const Raster& imageRaster) {
  const bool normal = NormalPolarity(image);
  Raster raster = image.bits;
  if (UsesBarLayout(drive.fileSystemType)) DrawCapacityGauge(drive, raster, normal);
  SpliceHalf(raster, imageRaster, in.area, normal);
  const std::int32_t angle =
      in.rotatePreview
          ? static_cast<std::int32_t>(static_cast<std::int64_t>(in.rotationDegrees) - 90)
          : -90;
  ConvertRaster(angle, raster, in.reverse, normal);
  Picture preview = BlankBitmapPreview();
  const Picture picture = PictureFromRaster(raster);
  for (int y = 0; y < kSide; ++y)
    for (int x = 0; x < kSide; ++x) preview.at(x, y) = picture.at(x, y);
  return preview;
}

Picture LockedBitmapPreview(const Fonts& fonts, Language language) {
  Picture canvas(kSide, kSide);
  const TextStyle small{FontSize::kSmall};
  fonts.DrawText(canvas, String(1506, language), 1, 2, small);
  fonts.DrawText(canvas, String(180, language), 1, 66, small);
  fonts.DrawText(canvas, String(181, language), 1, 82, small);
  const Picture& lock = PadlockPicture();
  for (int y = 0; y < lock.height; ++y)
    for (int x = 0; x < lock.width; ++x) canvas.Set(24 + x, 17 + y, lock.at(x, y));
  Picture preview = BlankBitmapPreview();
  for (int y = 0; y < kSide; ++y)
    for (int x = 0; x < kSide; ++x) preview.at(x, y) = canvas.at(x, y);
  return preview;
}

}  // namespace kuv
