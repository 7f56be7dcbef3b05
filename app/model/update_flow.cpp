// The Update LCD flow and the send step it shares with the start-up refresh and the timers.

#include <cstdio>

#include "app/compose/renderer.h"
#include "app/model/lcd_model.h"
#include "common/utf16.h"

namespace kuv {
namespace {

constexpr std::size_t kHidReportSize = 65;
constexpr std::size_t kLineRecordBytes = 16;

}  // namespace

SaveOutcome LcdModel::UpdateLcd() {
  if (table.driveCount <= 0) return {};
  const int slot = table.selectedDrive;
  if (!ValidSlot(slot) || slot >= table.driveCount) return {};
  ScreenConfig& config = table.screenConfigs[static_cast<std::size_t>(slot)];
  config = table.workingConfig;
  config.lcdDataType = LcdDataTypeForTab(table.currentTab);

  ports_.hooks.RefreshPageState();
  if (table.currentTab == 2 && config.lcdDataType == kLcdQr && ports_.qrPage) {
    ports_.qrPage->LoadRaster(table.raster);
  }
  ports_.hooks.RedrawPreview();

  switch (config.lcdDataType) {
    case kLcdText:
      ports_.renderer.RenderTextScreen(table, slot);
      SendRaster(slot);
      break;
    case kLcdBitmap:
      // Without the bitmap page there is no picture to compose; the settings are still saved.
      if (ports_.bitmapPage) {
        ports_.bitmapPage->PreparePicture(table, slot);
        ports_.bitmapPage->ComposeScreen(table, slot);
        SendRaster(slot);
      }
      break;
    default:
      SendRaster(slot);
      break;
  }
  return SaveScreenConfig();
}

void LcdModel::StartupRefresh() {
  for (int k = 0; k < kSlotCount; ++k) {
    const DriveRecord drive = RecordOf(k);
    if (drive.driveNumber == kEmptyDriveNumber) continue;
    const std::int32_t type = table.screenConfigs[static_cast<std::size_t>(k)].lcdDataType;
    if (type == kLcdQr || IsVideoRecorderDisk(drive.fileSystemType)) continue;
    ports_.renderer.RenderTextScreen(table, k);
    if (type == kLcdBitmap && ports_.bitmapPage) ports_.bitmapPage->ComposeScreen(table, k);
    SendRaster(k);
  }
}

void LcdModel::SendRaster(int slot) {
  if (table.driveCount <= 0 || !ValidSlot(slot)) return;
  // A whole copy under the lock: a background scan may replace the record meanwhile.
  DriveRecord drive = RecordOf(slot);
  if (drive.driveNumber == kEmptyDriveNumber) return;
  if (drive.panelModel != 0) {
    if (drive.connectionState != kBridgeLocked) {
      std::array<std::uint8_t, kRequestLineSlots * kRequestLineSlotSize> slots{};
      BuildLineRecordSlots(table.raster, slots);
      ports_.service.SendLineData(drive.driveNumber, slots);
    }
  } else {
    SendToHidPanel(drive);
  }
  if (slot == table.selectedDrive) {
    ports_.hooks.RefreshPageState();
    ports_.hooks.RedrawPreview();
  }
}

void LcdModel::SendToHidPanel(const DriveRecord& drive) {
  std::unique_ptr<HidPanelWriter> panel = ports_.system.OpenHidPanel(FieldUtf8(drive.hidPath));
  if (!panel) {
    ports_.hooks.Diagnostic("CreateFile for write failed.\n");
    return;
  }
  std::array<std::uint8_t, kRequestLineSlots * kRequestLineSlotSize> slots{};
  BuildLineRecordSlots(table.raster, slots);
  for (std::size_t line = 0; line < kRequestLineSlots; ++line) {
    std::array<std::uint8_t, kHidReportSize> report{};
    std::copy_n(slots.begin() + static_cast<std::ptrdiff_t>(line * kRequestLineSlotSize),
                kLineRecordBytes, report.begin() + 1);
    std::string error;
    char text[128];
    if (!panel->Write(report, error)) {
      std::snprintf(text, sizeof text, "WriteFile Error : %s\n", error.c_str());
      ports_.hooks.Diagnostic(text);
      return;
    }
    std::snprintf(text, sizeof text, "LineNo = %02zu Written bytes = %zu\n", line, kHidReportSize);
    ports_.hooks.Diagnostic(text);
  }
}

}  // namespace kuv
