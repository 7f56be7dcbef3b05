// Sending a slot's screen outside the Update LCD button: after a scan finds a new drive and
// while the rescan series runs.

#include "app/model/lcd_model.h"

namespace kuv {

void LcdModel::SendScreen(int slot) {
  if (!ValidSlot(slot)) return;
  DriveRecord drive = RecordOf(slot);
  if (drive.driveNumber == kEmptyDriveNumber) return;
  ScreenConfig& config = table.screenConfigs[static_cast<std::size_t>(slot)];
  switch (config.lcdDataType) {
    case kLcdText:
      RefreshTickingLines(drive, config, true);
      ports_.renderer.RenderTextScreen(table, slot);
      SendRaster(slot);
      break;
    case kLcdBitmap:
      // The picture is the bitmap page's; without the page there is nothing to compose.
      if (!ports_.bitmapPage) break;
      if (config.bmpAreaRatio != 0) {
        RefreshTickingLines(drive, config, true);
        ports_.renderer.RenderTextScreen(table, slot);
      }
      ports_.bitmapPage->ComposeScreen(table, slot);
      SendRaster(slot);
      break;
    default:
      // A QR picture exists only in the QR page's control.
      break;
  }
}

}  // namespace kuv
