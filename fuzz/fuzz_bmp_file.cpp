// LCD_IMAGE.BMP comes from drives that other computers wrote and from files the user picks: the
// reader must refuse anything malformed without crashing, and what it accepts must survive our
// own writer and every conversion of the bitmap screen.
#include <cstddef>
#include <cstdint>
#include <span>

#include "app/compose/bitmap_raster.h"
#include "app/compose/bmp_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> bytes(data, size);
  const kuv::BmpReadResult result = kuv::DecodeBmp(bytes);
  if (result.status != kuv::BmpStatus::kOk) {
    if (result.error.empty()) __builtin_trap();
    return 0;
  }
  const std::vector<std::uint8_t> written = kuv::EncodeBmp(result.image);
  if (written.size() != kuv::kBmpFileSize) __builtin_trap();
  const kuv::BmpReadResult again = kuv::DecodeBmp(written);
  if (again.status != kuv::BmpStatus::kOk || !(again.image == result.image)) __builtin_trap();

  // The trailing bytes pick the drive and options the picture is composed for.
  const std::uint8_t pick = size > 0 ? data[size - 1] : 0;
  kuv::DriveRecord drive = kuv::EmptyDriveRecord();
  drive.panelModel = pick & 3;
  drive.fileSystemType = (pick >> 2) & 7;
  drive.totalSectors = size * 1000u;
  drive.freeSectors = static_cast<std::uint64_t>(pick) * 37u;
  kuv::ScreenConfig config = kuv::InitialSlotConfig();
  config.bmpRotation = 90 * ((pick >> 5) & 3);
  config.bmpAreaRatio = (pick >> 4) % 3;
  config.bmpWB = pick >> 7;
  kuv::Raster text{};
  text.fill(pick);
  kuv::ComposeBitmapRaster(result.image, drive, config, text);
  kuv::BitmapPreview(result.image, drive, {config.bmpAreaRatio, config.bmpRotation, true, false},
                     text);
  return 0;
}
