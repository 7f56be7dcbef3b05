// The minute refresh: time and S.M.A.R.T. lines tick over, pictures are re-sent, and free space
// and S.M.A.R.T. data follow the disks.

#include <array>

#include "app/compose/line_items.h"
#include "app/model/lcd_model.h"
#include "common/utf16.h"

namespace kuv {
namespace {

constexpr std::int32_t kTimeItem = 5;
constexpr std::int32_t kFirstSmartItem = 7;
constexpr std::int32_t kLastSmartItem = 14;
constexpr int kMiB = 20;

}  // namespace

void LcdModel::RefreshTickingLines(const DriveRecord& drive, ScreenConfig& config, bool slotCopy) {
  LineItemSource source{drive, config, table.clock, table.userName};
  for (int i = 1; i <= kLineCount; ++i) {
    std::int32_t type = config.lineType(i);
    if (type == kTimeItem) {
      SetField(config.line(i), std::u16string_view(FormatLineItem(type, i, {}, source)));
    } else if (type >= kFirstSmartItem && type <= kLastSmartItem &&
               (slotCopy || config.lineSmartIndex(i) != -1)) {
      SetField(config.line(i), std::u16string_view(FormatSmartValue(type, source)));
    }
  }
}

// Whether the minute refresh follows the slot's free space and S.M.A.R.T. data: a drive whose
// panel shows no QR code, on a file system the program reads.
bool LcdModel::FollowsItsVolume(int slot) {
  const DriveRecord drive = RecordOf(slot);
  return drive.driveNumber != kEmptyDriveNumber &&
         table.screenConfigs[static_cast<std::size_t>(slot)].lcdDataType != kLcdQr &&
         !IsVideoRecorderDisk(drive.fileSystemType);
}

void LcdModel::MinuteRefresh() {
  ServicePass pass(ports_.service.link);
  // The quiet retry of a service that went away: one try, and the pass asks nothing more when it
  // is still gone. HID panels are written all the same.
  if (!ports_.service.link.reachable()) ports_.service.Ping();
  TakeClockSnapshot();
  for (int k = 0; k < kSlotCount; ++k) {
    const auto index = static_cast<std::size_t>(k);
    DriveRecord drive = RecordOf(k);
    ScreenConfig& config = table.screenConfigs[index];
    if (drive.driveNumber == kEmptyDriveNumber) continue;
    if (config.lcdDataType != kLcdText && config.lcdDataType != kLcdBitmap) continue;
    RefreshTickingLines(drive, config, true);
    if (config.lcdDataType == kLcdText) {
      ports_.renderer.RenderTextScreen(table, k);
      SendRaster(k);
    }
  }

  if (ValidSlot(table.selectedDrive)) {
    RefreshTickingLines(RecordOf(table.selectedDrive), table.workingConfig, false);
    ports_.hooks.TextPageChanged();
  }

  for (int k = 0; k < kSlotCount; ++k) {
    const auto index = static_cast<std::size_t>(k);
    const ScreenConfig& config = table.screenConfigs[index];
    if (RecordOf(k).driveNumber == kEmptyDriveNumber) continue;
    if (config.lcdDataType != kLcdBitmap || !ports_.bitmapPage) continue;
    if (config.bmpAreaRatio != 0) {
      ports_.renderer.RenderTextScreen(table, k);
      if (k == table.selectedDrive) ports_.hooks.RedrawPreview();
    }
    ports_.bitmapPage->ComposeScreen(table, k);
    SendRaster(k);
  }

  // Every sized drive's volume first, in one query.
  std::vector<int> sized;
  std::vector<std::string> mounts;
  for (int k = 0; k < kSlotCount; ++k) {
    if (!FollowsItsVolume(k)) continue;
    if (std::optional<std::string> mount = DriveMountPath(RecordOf(k))) {
      sized.push_back(k);
      mounts.push_back(*mount);
    }
  }
  std::array<std::optional<VolumeSpace>, kSlotCount> spaceOf;
  if (!mounts.empty()) {
    const std::vector<std::optional<VolumeSpace>> spaces = ports_.system.FreeSpaces(mounts);
    for (std::size_t i = 0; i < sized.size() && i < spaces.size(); ++i)
      spaceOf[static_cast<std::size_t>(sized[i])] = spaces[i];
  }

  for (int k = 0; k < kSlotCount; ++k) {
    if (!FollowsItsVolume(k)) continue;
    const auto index = static_cast<std::size_t>(k);
    DriveRecord drive = RecordOf(k);
    const std::optional<VolumeSpace>& space = spaceOf[index];
    if (space) {
      auto totalMB = static_cast<std::uint32_t>(space->totalBytes >> kMiB);
      auto freeMB = static_cast<std::uint32_t>(space->freeBytes >> kMiB);
      DriveRecord sizes = drive;
      bool freeChanged = freeMB != drive.freeMB;
      // Service unreachable: the record comes back as sent and the sizes keep their values,
      // the free space included, so that the next pass asks again.
      if (freeChanged && ports_.service.GetSizeFromSector(drive.driveNumber, sizes) == -1) {
        freeChanged = false;
      }
      std::lock_guard lock(tableLock);
      DriveRecord& record = table.driveRecords[index];
      if (record.driveNumber != drive.driveNumber) continue;
      record.totalMB = totalMB;
      if (freeChanged) {
        record.totalSectors = sizes.totalSectors;
        record.freeSectors = sizes.freeSectors;
        record.freeMB = freeMB;
      }
    }
    if (autoUpdateFlag == 1) ReadSmart(k, true);
  }
}

std::int32_t LcdModel::ReadSmart(int slot, bool automatic) {
  if (!ValidSlot(slot)) return 0;
  const auto index = static_cast<std::size_t>(slot);
  DriveRecord drive = RecordOf(slot);
  if (drive.driveNumber == kEmptyDriveNumber) return 0;
  DriveRecord smart = drive;
  const std::int32_t result = automatic
                                  ? ports_.service.GetSmartUnlessAsleep(drive.driveNumber, smart)
                                  : ports_.service.GetSmartInfo(drive.driveNumber, smart);
  if (result == kSmartSkippedAsleep) return result;
  std::lock_guard lock(tableLock);
  DriveRecord& record = table.driveRecords[index];
  if (record.driveNumber != drive.driveNumber) return result;
  std::copy_n(smart.smartThresholds, kSmartSectorSize, record.smartThresholds);
  std::copy_n(smart.smartData, kSmartSectorSize, record.smartData);
  return result;
}

}  // namespace kuv
