#pragma once
// The bitmap screen: a 96x96 one-bit picture turned, reversed, given a free-space gauge or half of
// the drive's text screen, and made into the panel raster or the page's preview.

#include <cstdint>

#include "app/compose/bmp_file.h"
#include "app/compose/fonts.h"
#include "common/drive_record.h"
#include "common/drive_table.h"
#include "common/picture_io.h"
#include "common/screen_config.h"

namespace kuv {

// Values of `bmpAreaRatio`: the part of the screen the picture covers.
enum BmpArea : std::int32_t { kAreaAll = 0, kAreaUpper = 1, kAreaLower = 2 };

// In place on palette indices: reverses the dots when reverse is set, inverts them when the
// table is white-then-black, then turns them clockwise by angle + 90 degrees. Angles that are no
// multiple of 90 leave the picture unturned.
void ConvertRaster(std::int32_t angle, Raster& raster, bool reverse, bool normalPolarity);

// The ten-cell free-space gauge of bar-layout drives, drawn into palette indices: along the
// bottom on panel model 3, else down the right edge. Ink and paper are chosen so that the gauge
// reads black on white whatever the table's order.
void DrawCapacityGauge(const DriveRecord& drive, Raster& bits, bool normalPolarity);

// Replaces the half the picture does not cover with the same half of the text screen's
// image-file raster, so that after ConvertRaster the text looks as the renderer drew it.
void SpliceHalf(Raster& bits, const Raster& imageRaster, std::int32_t area, bool normalPolarity);

// The panel raster of a bitmap screen: gauge on bar-layout drives, the spliced half, turned by
// bmpRotation (a further quarter on panels other than model 3) and reversed by bmpWB.
Raster ComposeBitmapRaster(const BmpImage& image, const DriveRecord& drive,
                           const ScreenConfig& config, const Raster& imageRaster);

struct BitmapPreviewInput {
  std::int32_t area = kAreaAll;
  std::int32_t rotationDegrees = 0;
  bool rotatePreview = false;
  bool reverse = false;
};

// The 98x98 preview: the picture as the panel will show it, unturned unless rotatePreview,
// in the top-left 96x96 dots on white.
Picture BitmapPreview(const BmpImage& image, const DriveRecord& drive, const BitmapPreviewInput& in,
                      const Raster& imageRaster);
// The 98x98 preview of a locked encrypted drive: its texts and the padlock.
Picture LockedBitmapPreview(const Fonts& fonts, Language language);
// The blank 98x98 preview.
Picture BlankBitmapPreview();

}  // namespace kuv
