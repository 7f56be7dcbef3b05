// Loading and saving a drive's screen configuration: LCD_DATA.TXT and QR_DATA.TXT on the drive,
// or the profile section under the serial number for disks formatted by a video recorder.

#include <cerrno>
#include <cstring>

#include "app/compose/line_items.h"
#include "app/model/lcd_data_file.h"
#include "app/model/lcd_model.h"
#include "app/model/qr_data_file.h"
#include "common/strings.h"
#include "common/utf16.h"

namespace kuv {
namespace {

constexpr int kTvRecDiskString = 4000;
constexpr int kUnknownUserString = 190;
constexpr char kProfileWriteFailedText[] = "The settings could not be written to the user profile.";
// Far beyond any file the program writes; a larger one is read only this far.
constexpr std::size_t kLcdDataReadLimit = 1 << 20;
constexpr std::size_t kQrDataReadLimit = 64 << 10;

std::u16string Prefix(std::u16string_view text, std::size_t units) {
  return std::u16string(text.substr(0, std::min(text.size(), units)));
}

// Failures that may pass while a drive settles: an interrupted or busy call, an I/O error of a
// volume still arriving. A missing file or folder, a refusal or a link stays as it is.
bool MayPassByWaiting(int err) {
  return err == EINTR || err == EAGAIN || err == EBUSY || err == EIO || err == ETIMEDOUT;
}

bool InWarningRange(std::int32_t temp) {
  return temp >= 1 && temp <= 80;
}

std::u16string LineName(int i) {
  return u"line" + Utf8ToUtf16(std::to_string(i));
}

}  // namespace

std::optional<std::string> DriveMountPath(const DriveRecord& drive) {
  // On this platform `driveLetter` holds the mount point of the drive's first volume.
  std::string mount = FieldUtf8(drive.driveLetter);
  if (!IsAbsolutePath(mount)) return std::nullopt;
  return WithoutTrailingSeparators(std::move(mount));
}

std::optional<std::string> DriveFolderPath(const DriveRecord& drive) {
  std::optional<std::string> mount = DriveMountPath(drive);
  if (!mount) return std::nullopt;
  return JoinPath(*mount, kDriveFolderName);
}

std::unique_ptr<OwnFolder> OpenDriveFolder(VolumeFiles& files, const DriveRecord& drive, int& err) {
  std::optional<std::string> mount = DriveMountPath(drive);
  if (!mount) {
    err = ENOENT;
    return nullptr;
  }
  return files.OpenFolder(*mount, kDriveFolderName, FolderUse::kVolume, false, err);
}

LcdModel::LcdModel(ModelPorts ports) : ports_(ports) {}

void LcdModel::TakeClockSnapshot() {
  table.clock = ports_.system.Now();
  table.userName = ports_.system.UserName();
  if (table.userName.empty()) table.userName = std::u16string(String(kUnknownUserString));
}

void LcdModel::LoadSettings() {
  autoUpdateFlag = ports_.profile.ReadIntOr(kSettingSection, kSmartAutoUpdateValue, 1);
}

DriveRecord LcdModel::RecordOf(int slot) {
  std::lock_guard lock(tableLock);
  return table.driveRecords[static_cast<std::size_t>(slot)];
}

int LcdModel::OccupiedSlots() const {
  std::lock_guard lock(tableLock);
  int count = 0;
  for (const auto& record : table.driveRecords) {
    if (record.driveNumber != kEmptyDriveNumber) ++count;
  }
  return count;
}

void LcdModel::SelectDrive(int slot, bool reload) {
  if (!ValidSlot(slot)) return;
  table.selectedDrive = slot;
  if (reload) LoadScreenConfig(slot);
  table.workingConfig = table.screenConfigs[static_cast<std::size_t>(slot)];
}

void LcdModel::LoadScreenConfig(int slot) {
  if (!ValidSlot(slot)) return;
  DriveRecord drive = RecordOf(slot);
  const auto index = static_cast<std::size_t>(slot);
  ScreenConfig& config = table.screenConfigs[index];
  table.lcdDataFound[index] = false;
  if (IsVideoRecorderDisk(drive.fileSystemType)) {
    LoadFromProfile(drive, config);
  } else {
    table.lcdDataFound[index] = LoadFromDrive(drive, config);
  }
}

bool LcdModel::LoadFromDrive(const DriveRecord& drive, ScreenConfig& config) {
  std::unique_ptr<OwnFolder> folder;
  std::optional<std::string> bytes;
  for (int attempt = 0; attempt < kOpenAttempts; ++attempt) {
    // A volume still arriving may fail a moment; a missing file or a refusal stays as it is.
    if (attempt > 0) ports_.system.Pause(kOpenPause);
    int err = 0;
    if (!folder) folder = OpenDriveFolder(ports_.files, drive, err);
    if (folder) bytes = folder->Read(kLcdDataFileName, kLcdDataReadLimit, err);
    if (bytes || !MayPassByWaiting(err)) break;
  }
  if (bytes) {
    ApplyLcdData(std::span(reinterpret_cast<const std::uint8_t*>(bytes->data()), bytes->size()),
                 config, table.clock);
  } else {
    std::size_t units = drive.fileSystemType == kFsFat32 ? 11 : 13;
    SetField(config.line1, std::u16string_view(Prefix(FieldView(drive.volumeLabel), units)));
    SetField(config.line2, std::u16string_view(Prefix(FieldView(drive.friendlyName), units)));
    config.showHddStatus = 1;
  }
  if (!InWarningRange(config.warningTemp)) config.warningTemp = kDefaultWarningTemp;
  if (!folder) return bytes.has_value();
  int err = 0;
  std::optional<std::string> qr = folder->Read(kQrDataFileName, kQrDataReadLimit, err);
  if (qr) {
    SetField(config.qrText, std::u16string_view(DecodeQrData(*qr, AnsiCodePage(SystemLanguage()))));
  }
  return bytes.has_value();
}

void LcdModel::LoadFromProfile(const DriveRecord& drive, ScreenConfig& config) {
  const std::u16string section(FieldView(drive.serialNumber));
  const std::u16string model(FieldView(drive.friendlyName));
  ProfileStore& profile = ports_.profile;
  if (profile.ReadStringOr(section, u"modelNumber", u"") != model) {
    // Nothing saved for this disk, or the serial number belongs to another model.
    SetField(config.line1, String(kTvRecDiskString));
    SetField(config.line2, FieldView(drive.friendlyName));
    SetField(config.line3, FieldView(drive.fileSystem));
    config.warningTemp = kDefaultWarningTemp;
    config.showHddStatus = 1;
    return;
  }
  for (int i = 1; i <= kLineCount; ++i) {
    SetField(config.line(i), std::u16string_view(profile.ReadStringOr(section, LineName(i), u"")));
  }
  SetField(config.bmpFileName,
           std::u16string_view(profile.ReadStringOr(section, u"bmpfilename", u"")));
  auto flag = [&](const char16_t* name) -> std::uint8_t {
    return profile.ReadIntOr(section, name, 0) != 0 ? 1 : 0;
  };
  config.whiteBlackColor = flag(u"whiteBlackColor");
  config.showHddStatus = flag(u"showHddStatus");
  config.previewRotation = flag(u"previewRotation");
  config.showWarningTemp = flag(u"showWarningTemp");
  config.rotation = profile.ReadIntOr(section, u"rotation", 0);
  config.lcdDataType = profile.ReadIntOr(section, u"lcddatatype", 0);
  config.warningTemp = profile.ReadIntOr(section, u"warningTemp", 0);
  // The same range rule as the file: a missing or hand-edited value must not warn at 0 degrees.
  if (!InWarningRange(config.warningTemp)) config.warningTemp = kDefaultWarningTemp;
  std::int32_t mask = profile.ReadIntOr(section, u"WBCLINES", 0);
  for (int i = 1; i <= kLineCount; ++i) {
    if (mask & (1 << (i - 1))) config.lineReverse(i) = 1;
  }
}

SaveOutcome LcdModel::SaveScreenConfig() {
  int slot = table.selectedDrive;
  if (!ValidSlot(slot) || slot >= table.driveCount) return {};
  DriveRecord drive = RecordOf(slot);
  if (drive.driveNumber == kEmptyDriveNumber) return {};
  const ScreenConfig& config = table.screenConfigs[static_cast<std::size_t>(slot)];
  if (IsVideoRecorderDisk(drive.fileSystemType)) {
    if (SaveToProfile(drive, config)) return {.saved = true};
    ports_.hooks.ReportError(kLcdDataWriteError, kProfileWriteFailedText);
    return {.profileError = true};
  }
  const SaveOutcome outcome = SaveToDrive(drive, config);
  if (outcome.saved) table.lcdDataFound[static_cast<std::size_t>(slot)] = true;
  return outcome;
}

bool LcdModel::SaveToProfile(const DriveRecord& drive, const ScreenConfig& config) {
  const std::u16string section(FieldView(drive.serialNumber));
  ProfileStore& profile = ports_.profile;
  // Every value is still tried after a failure, so the one error report covers them all.
  bool ok =
      profile.WriteString(section, u"modelNumber", std::u16string(FieldView(drive.friendlyName)));
  for (int i = 1; i <= kLineCount; ++i) {
    ok &= profile.WriteString(section, LineName(i), std::u16string(FieldView(config.line(i))));
  }
  ok &= profile.WriteString(section, u"bmpfilename", std::u16string(FieldView(config.bmpFileName)));
  std::int32_t mask = 0;
  for (int i = 1; i <= kLineCount; ++i) {
    if (config.lineReverse(i) != 0) mask |= 1 << (i - 1);
  }
  ok &= profile.WriteInt(section, u"whiteBlackColor", config.whiteBlackColor);
  ok &= profile.WriteInt(section, u"showHddStatus", config.showHddStatus);
  ok &= profile.WriteInt(section, u"rotation", config.rotation);
  ok &= profile.WriteInt(section, u"previewRotation", config.previewRotation);
  ok &= profile.WriteInt(section, u"showWarningTemp", config.showWarningTemp);
  ok &= profile.WriteInt(section, u"warningTemp", config.warningTemp);
  ok &= profile.WriteInt(section, u"WBCLINES", mask);
  ok &= profile.WriteInt(section, u"lcddatatype", config.lcdDataType);
  ok &= profile.Flush();
  return ok;
}

int LcdModel::ReplaceDriveFile(OwnFolder& folder, std::string_view name, std::string_view bytes) {
  folder.RemoveStaleTemps(name);
  // The new file is complete on the volume before it takes the old one's place, and the rename
  // replaces in one step, so a full or read-only volume or a refused rename keeps the previous
  // settings. A file this user may not replace is removed by the service, and the rename tried
  // once more.
  return ReplaceFile(folder, name, bytes, [&] {
    return ports_.service.DeleteFile(Utf8ToUtf16(JoinPath(folder.path(), name))) == 1;
  });
}

SaveOutcome LcdModel::SaveToDrive(const DriveRecord& drive, const ScreenConfig& config) {
  std::optional<std::string> folderPath = DriveFolderPath(drive);
  if (!folderPath) return {};
  ServicePass pass(ports_.service.link);
  ports_.service.CreateFolder(Utf8ToUtf16(*folderPath));
  int openError = 0;
  std::unique_ptr<OwnFolder> folder = OpenDriveFolder(ports_.files, drive, openError);
  if (!folder) return {.serviceUnreachable = pass.unreachable()};

  QrControlValues qr{config.eccValue, config.cellPitch, std::u16string(FieldView(config.qrText))};
  if (ports_.qrPage) qr = ports_.qrPage->ControlValues();

  SaveOutcome outcome{.serviceUnreachable = pass.unreachable()};
  int err = ReplaceDriveFile(*folder, kLcdDataFileName,
                             EncodeLcdData(drive, config, qr.eccValue, qr.cellPitch));
  if (err != 0) {
    outcome.lcdDataError = err;
    ports_.hooks.ReportError(kLcdDataWriteError, std::strerror(err));
  } else {
    outcome.saved = true;
  }
  // QR_DATA.TXT failures are not reported; the text stays in memory until the next save.
  ReplaceDriveFile(*folder, kQrDataFileName, EncodeQrData(qr.text, AnsiCodePage(SystemLanguage())));
  return outcome;
}

}  // namespace kuv
