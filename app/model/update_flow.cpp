// The Update LCD flow and the send step it shares with the start-up refresh and the timers.

#include <cstdio>

#include "app/compose/renderer.h"
#include "app/model/lcd_model.h"
#include "common/utf16.h"
#include "panelio/panelio.h"

namespace kuv {
namespace {

constexpr std::size_t kHidReportSize = 65;
constexpr std::size_t kLineRecordBytes = 16;

// What a bridge panel's answer to command 2 says went wrong; empty when the picture was taken.
std::string BridgeFailure(std::int32_t result) {
  switch (static_cast<std::uint32_t>(result)) {
    case 0:
      return {};
    case kPanelDriveNotOpened:
      return "the disk of the panel cannot be opened";
    case kPanelLineRefused:
      return "the panel refused a line";
    default:
      char text[64];
      std::snprintf(text, sizeof text, "the panel answered 0x%08X",
                    static_cast<std::uint32_t>(result));
      return text;
  }
}

}  // namespace

bool PanelSentByService(const DriveRecord& drive) {
  return drive.panelModel != 0 && drive.connectionState != kBridgeLocked;
}

SaveOutcome LcdModel::UpdateLcd() {
  if (table.driveCount <= 0) return {};
  const int slot = table.selectedDrive;
  if (!ValidSlot(slot) || slot >= table.driveCount) return {};
  ServicePass pass(ports_.service.link);
  const DriveRecord drive = RecordOf(slot);
  const bool sentByService = PanelSentByService(drive);
  // A service known to be gone is asked once before anything on the drive is touched.
  if (sentByService && !ports_.service.link.reachable()) ports_.service.Ping();
  if (sentByService && pass.unreachable()) {
    return {.serviceUnreachable = true, .panelNotUpdated = true};
  }

  ScreenConfig& config = table.screenConfigs[static_cast<std::size_t>(slot)];
  const ScreenConfig before = config;
  config = table.workingConfig;
  config.lcdDataType = LcdDataTypeForTab(table.currentTab);

  ports_.hooks.RefreshPageState();
  if (table.currentTab == 2 && config.lcdDataType == kLcdQr && ports_.qrPage) {
    ports_.qrPage->LoadRaster(table.raster);
  }
  ports_.hooks.RedrawPreview();

  bool sent = true;
  switch (config.lcdDataType) {
    case kLcdText:
      ports_.renderer.RenderTextScreen(table, slot);
      sent = SendRaster(slot);
      break;
    case kLcdBitmap:
      // Without the bitmap page there is no picture to compose; the settings are still saved.
      if (ports_.bitmapPage) {
        ports_.bitmapPage->PreparePicture(table, slot);
        ports_.bitmapPage->ComposeScreen(table, slot);
        sent = SendRaster(slot);
      }
      break;
    default:
      sent = SendRaster(slot);
      break;
  }
  if (!sent) {
    // The slot keeps what the panel shows, so the timers do not send the unsaved screen later.
    config = before;
    return {.serviceUnreachable = true, .panelNotUpdated = true};
  }
  SaveOutcome outcome = SaveScreenConfig();
  outcome.panelRefused = panelFailures_.contains(drive.driveNumber);
  return outcome;
}

void LcdModel::StartupRefresh() {
  ServicePass pass(ports_.service.link);
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

bool LcdModel::SendRaster(int slot) {
  if (table.driveCount <= 0 || !ValidSlot(slot)) return true;
  // A whole copy under the lock: a background scan may replace the record meanwhile.
  DriveRecord drive = RecordOf(slot);
  if (drive.driveNumber == kEmptyDriveNumber) return true;
  bool reached = true;
  if (drive.panelModel != 0) {
    if (drive.connectionState != kBridgeLocked) {
      std::array<std::uint8_t, kRequestLineSlots * kRequestLineSlotSize> slots{};
      BuildLineRecordSlots(table.raster, slots);
      const std::int32_t result = ports_.service.SendLineData(drive.driveNumber, slots);
      // An unreachable service is the service's notice, not this panel's.
      reached = result != -1;
      if (reached) PanelAnswered(drive, BridgeFailure(result));
    }
  } else {
    PanelAnswered(drive, SendToHidPanel(drive));
  }
  if (slot == table.selectedDrive) {
    ports_.hooks.RefreshPageState();
    ports_.hooks.RedrawPreview();
  }
  return reached;
}

void LcdModel::PanelAnswered(const DriveRecord& drive, const std::string& failure) {
  auto known = panelFailures_.find(drive.driveNumber);
  if (failure.empty()) {
    if (known == panelFailures_.end()) return;
    panelFailures_.erase(known);
    ports_.hooks.PanelReachedAgain(drive);
    return;
  }
  if (known != panelFailures_.end() && known->second == failure) return;
  panelFailures_[drive.driveNumber] = failure;
  ports_.hooks.PanelNotReached(drive, failure);
}

std::string LcdModel::SendToHidPanel(const DriveRecord& drive) {
  std::string error;
  std::unique_ptr<HidPanelWriter> panel =
      ports_.system.OpenHidPanel(FieldUtf8(drive.hidPath), error);
  if (!panel) {
    ports_.hooks.Diagnostic("CreateFile for write failed.\n");
    return "the panel " + FieldUtf8(drive.hidPath) + " cannot be opened: " + error;
  }
  std::array<std::uint8_t, kRequestLineSlots * kRequestLineSlotSize> slots{};
  BuildLineRecordSlots(table.raster, slots);
  for (std::size_t line = 0; line < kRequestLineSlots; ++line) {
    std::array<std::uint8_t, kHidReportSize> report{};
    std::copy_n(slots.begin() + static_cast<std::ptrdiff_t>(line * kRequestLineSlotSize),
                kLineRecordBytes, report.begin() + 1);
    char text[128];
    if (!panel->Write(report, error)) {
      std::snprintf(text, sizeof text, "WriteFile Error : %s\n", error.c_str());
      ports_.hooks.Diagnostic(text);
      return "the panel " + FieldUtf8(drive.hidPath) + " refused line " + std::to_string(line + 1) +
             ": " + error;
    }
    std::snprintf(text, sizeof text, "LineNo = %02zu Written bytes = %zu\n", line, kHidReportSize);
    ports_.hooks.Diagnostic(text);
  }
  return {};
}

}  // namespace kuv
