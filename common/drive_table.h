#pragma once
// The program's model: 16 drive slots with their screen configurations, the working copy of the
// selected drive's configuration, the last composed pictures and the window-level state.

#include <array>
#include <cstdint>
#include <string>

#include "common/drive_record.h"
#include "common/screen_config.h"

namespace kuv {

inline constexpr int kSlotCount = 16;
inline constexpr std::size_t kRasterBytes = 1152;  // 96 rows of 12 bytes
using Raster = std::array<std::uint8_t, kRasterBytes>;

// Local time as the line items "Time" and "Date" read it.
struct ClockSnapshot {
  std::uint16_t hour = 0;
  std::uint16_t minute = 0;
  std::uint16_t second = 0;
  std::uint16_t year = 0;
  std::uint16_t month = 0;
  std::uint16_t day = 0;
};

struct DriveTable {
  DriveTable();

  Raster raster{};       // the panel raster composed last
  Raster imageRaster{};  // the image-file raster composed last
  std::array<DriveRecord, kSlotCount> driveRecords;
  std::array<ScreenConfig, kSlotCount> screenConfigs;
  ScreenConfig workingConfig;
  // Whether the slot's last load found its drive's LCD_DATA.TXT; the QR page takes the slot's QR
  // settings only then.
  std::array<bool, kSlotCount> lcdDataFound{};
  std::int32_t driveCount = 0;  // -1 when the service could not be reached at the first scan
  std::int32_t selectedDrive = -1;
  std::int32_t currentTab = 0;
  ClockSnapshot clock;
  std::u16string userName;

  // The slot whose record has this drive number, or -1.
  int SlotOfDrive(std::int32_t driveNumber) const;
  // Zeroes the slot's record and marks it empty.
  void EmptySlot(int slot);
};

}  // namespace kuv
