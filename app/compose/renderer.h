#pragma once
// The text screen renderer: a drive's screen configuration and drive record become the 96x96
// panel raster, the image-file raster, the preview picture and the 96 line records.

#include <array>
#include <cstdint>
#include <optional>
#include <span>

#include "app/compose/fonts.h"
#include "app/compose/text_page.h"
#include "common/drive_table.h"
#include "common/picture_io.h"

namespace kuv {

inline constexpr int kLineRecordSize = 16;
inline constexpr int kLineRecordCount = 96;
inline constexpr int kLineSlotSize = 64;  // a line record's slot in the device request record
inline constexpr int kPreviewSide = 98;
// Text lines stand 16 dots apart on the unturned screen, the first from dot row 2, in both the
// four-line and the bar layout.
inline constexpr int kLinePitch = 16;
constexpr int LineTextTop(int index) {
  return 2 + kLinePitch * index;
}

using LineRecord = std::array<std::uint8_t, kLineRecordSize>;
using LineRecords = std::array<LineRecord, kLineRecordCount>;

// The rotation that counts for layout: rotation less 90 on panel model 3, so -90 to 270.
std::int32_t EffectiveRotationOf(const DriveRecord& drive, const ScreenConfig& config);

// Composes the panel raster and the image-file raster of the drive in slot from its screen
// configuration and drive record into table.raster and table.imageRaster. Does nothing and
// returns false unless drives are known, slot is one of them and its lcdDataType is 0 or 2. A
// locked drive clears the page's texts and reverse flag, disables its controls and switches the
// drive's showHddStatus off.
bool ComposePanelRaster(DriveTable& table, int slot, TextPage& page, const Fonts& fonts);

// The 98x98 preview of the selected drive from the working copy and the page, picture in the
// top-left 96x96 dots; nothing unless the current tab is 0 or 1.
std::optional<Picture> DrawPreview(DriveTable& table, TextPage& page, const Fonts& fonts);

// Inverts the rows of the four-line bands whose flag is set in lineFlags (rows 0 to 81 too when
// reverse), then turns the raster by angle + 90 degrees clockwise.
void RotateRaster(std::int32_t angle, Raster& raster, bool reverse, const ScreenConfig& lineFlags);

// Turns a picture in place: 90 a quarter counter-clockwise, 180 a half, 270 or -90 a quarter
// clockwise; other angles leave it.
void RotatePicture(Picture& picture, std::int32_t angle);

// The 96 line records of a panel raster, one per raster row.
LineRecords BuildLineRecords(const Raster& raster);
// The same records in 96 slots of 64 bytes, each zero behind its record.
void BuildLineRecordSlots(const Raster& raster,
                          std::span<std::uint8_t, kLineRecordCount * kLineSlotSize> slots);

// Used space of the four-line capacity graph: the first column not filled, 3 to 92.
int CapacityGraphEnd(std::uint32_t freeMB, std::uint32_t totalMB);
// Free segments of the bar layout, 0 to 10.
int FreeSegmentCount(std::uint64_t freeSectors, std::uint64_t totalSectors);

}  // namespace kuv
