#include "app/model/bitmap_page.h"

#include <cerrno>
#include <filesystem>

#include "app/model/lcd_model.h"
#include "app/model/user_folders.h"
#include "common/strings.h"
#include "common/utf16.h"

namespace kuv {
namespace {

// Large enough for the header of any BMP; the pictures accepted are 1214 bytes or a little more.
constexpr std::size_t kMaxBmpRead = 1 << 20;

constexpr char kDataFolder[] = "TAVIO/KuvLcdManager";

// A serial number as one file-name component: a hostile disk must not steer the path. The
// spaces drives pad their serial numbers with are left out.
std::string FileNameOfSerial(const std::string& serial) {
  const std::size_t first = serial.find_first_not_of(' ');
  std::string name = first == std::string::npos
                         ? std::string()
                         : serial.substr(first, serial.find_last_not_of(' ') - first + 1);
  for (char& c : name) {
    if (c == '/' || c == '\0') c = '_';
  }
  if (name == "." || name == "..") name = "_";
  return name;
}

}  // namespace

BitmapPaths BitmapPaths::FromEnvironment() {
  return {TemporaryFolder(), UserDataHome()};
}

std::string BitmapPaths::DataDir() const {
  return dataHome.empty() ? std::string() : dataHome + "/" + kDataFolder + "/";
}

BitmapPage::BitmapPage(DriveTable& table, DeviceService& service, VolumeFiles& files,
                       TextRenderer& renderer, BitmapPageHooks& hooks, BitmapPaths paths)
    : table_(table),
      service_(service),
      files_(files),
      renderer_(renderer),
      hooks_(hooks),
      paths_(std::move(paths)) {}

BitmapPage::~BitmapPage() = default;

int BitmapPage::RotationIndex() const {
  switch (rotationDegrees) {
    case 90:
      return 1;
    case 180:
      return 2;
    case 270:
      return 3;
    default:
      return 0;
  }
}

bool BitmapPage::SelectedDrive(DriveRecord& drive) const {
  const int slot = table_.selectedDrive;
  if (table_.driveCount <= 0 || slot < 0 || slot >= std::min(table_.driveCount, kSlotCount)) {
    return false;
  }
  drive = table_.driveRecords[static_cast<std::size_t>(slot)];
  return drive.driveNumber != kEmptyDriveNumber;
}

std::string BitmapPage::DriveImagePath(const DriveRecord& drive) const {
  if (IsVideoRecorderDisk(drive.fileSystemType)) {
    const std::string dataDir = paths_.DataDir();
    if (dataDir.empty()) return std::string();
    return dataDir + FileNameOfSerial(FieldUtf8(drive.serialNumber)) + kImageFileName;
  }
  std::optional<std::string> folder = DriveFolderPath(drive);
  return folder ? *folder + "/" + kImageFileName : std::string();
}

std::unique_ptr<OwnFolder> BitmapPage::OpenOwnFolder(const std::string& dir, bool create,
                                                     int& err) const {
  err = 0;
  if (dir == paths_.tempDir) {
    return files_.OpenFolder(paths_.tempDir, "", FolderUse::kTemporary, false, err);
  }
  if (!paths_.dataHome.empty() && dir == paths_.DataDir()) {
    return files_.OpenFolder(paths_.dataHome, kDataFolder, FolderUse::kPrivate, create, err);
  }
  for (const DriveRecord& drive : table_.driveRecords) {
    if (drive.driveNumber == kEmptyDriveNumber) continue;
    std::optional<std::string> folder = DriveFolderPath(drive);
    if (folder && *folder + "/" == dir) return OpenDriveFolder(files_, drive, err);
  }
  return nullptr;
}

std::optional<std::string> BitmapPage::ReadPicture(const std::string& path, int& err) const {
  const std::size_t slash = path.rfind('/');
  if (slash != std::string::npos) {
    std::unique_ptr<OwnFolder> folder = OpenOwnFolder(path.substr(0, slash + 1), false, err);
    if (folder) return folder->Read(path.substr(slash + 1), kMaxBmpRead, err);
    if (err != 0) return std::nullopt;
  }
  return files_.ReadChosenFile(path, kMaxBmpRead, err);
}

BitmapPage::Check BitmapPage::Load(const std::string& path, BmpImage& image, bool showMessage) {
  if (path.empty()) return Check::kMissing;
  int err = 0;
  std::optional<std::string> bytes = ReadPicture(path, err);
  if (!bytes && err == ENOENT) return Check::kMissing;
  BmpReadResult result;
  if (bytes) {
    result =
        DecodeBmp(std::span(reinterpret_cast<const std::uint8_t*>(bytes->data()), bytes->size()));
  }
  if (result.status == BmpStatus::kOk) {
    image = result.image;
    return Check::kOk;
  }
  if (showMessage) {
    hooks_.ShowMessage(result.status == BmpStatus::kTooManyColours ? kTwoColoursMessage
                                                                   : kWrongSizeMessage);
  }
  return Check::kRejected;
}

int BitmapPage::WriteWhole(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  const std::size_t slash = path.rfind('/');
  int err = 0;
  std::unique_ptr<OwnFolder> folder =
      slash == std::string::npos ? nullptr : OpenOwnFolder(path.substr(0, slash + 1), true, err);
  // The page writes only in folders of its own.
  if (!folder) return err != 0 ? err : EINVAL;
  return ReplaceFile(*folder, path.substr(slash + 1),
                     std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

void BitmapPage::LoadFromConfiguration() {
  const ScreenConfig& config = table_.workingConfig;
  reverseChecked = config.bmpWB != 0;
  rotationDegrees = config.bmpRotation;
  rotatePreviewChecked = config.bmpPreviewRotation != 0;
  areaIndex = config.bmpAreaRatio;
  displayName = FieldUtf8(config.bmpFileName);
  DriveRecord drive;
  if (SelectedDrive(drive) && UsesBarLayout(drive.fileSystemType)) {
    browseEnabled = true;
    EnableImageSettings(false);
  } else if (pageEnabled) {
    EnableImageSettings(true);
  }
  FetchDriveImage();
  hooks_.StateChanged();
  DrawBitmapPreview();
}

void BitmapPage::FetchDriveImage() {
  DriveRecord drive;
  const std::string drivePath = SelectedDrive(drive) ? DriveImagePath(drive) : std::string();
  imagePath = workingPath = TemporaryCopyPath();
  BmpImage image;
  if (Load(drivePath, image, false) != Check::kOk) image = DefaultBmpImage();
  const std::vector<std::uint8_t> bytes = EncodeBmp(image);
  if (WriteWhole(TemporaryCopyPath(), bytes) == 0) return;
  // The shared temporary folder may hold another user's copy under the same name, which must
  // not become this drive's picture; the user's own data folder takes the copy instead.
  if (paths_.DataDir().empty()) return;
  imagePath = workingPath = paths_.DataDir() + kImageFileName;
  WriteWhole(imagePath, bytes);
}

int BitmapPage::StoreImageOnDrive() {
  storeError = ENOENT;
  DriveRecord drive;
  if (!SelectedDrive(drive)) return storeError;
  if (IsVideoRecorderDisk(drive.fileSystemType)) {
    workingPath = DriveImagePath(drive);
  } else {
    std::optional<std::string> folder = DriveFolderPath(drive);
    if (!folder) return storeError;
    ServicePass pass(service_.link);
    service_.CreateFolder(Utf8ToUtf16(*folder));
    // The gone service cannot give the panel this picture: the drive keeps the one it shows.
    if (pass.unreachable() && PanelSentByService(drive)) return storeError = ENOTCONN;
    workingPath = *folder + "/" + kImageFileName;
  }
  BmpImage image;
  if (Load(imagePath, image, false) != Check::kOk) return storeError;
  storeError = WriteWhole(workingPath, EncodeBmp(image));
  return storeError;
}

void BitmapPage::PreparePanelRaster(int slot) {
  if (table_.driveCount <= 0 || slot < 0 || slot >= kSlotCount) return;
  const DriveRecord drive = table_.driveRecords[static_cast<std::size_t>(slot)];
  if (drive.driveNumber == kEmptyDriveNumber) return;
  workingPath = DriveImagePath(drive);
  BmpImage image;
  switch (Load(workingPath, image, true)) {
    case Check::kMissing:
      return;
    case Check::kRejected:
      workingPath.clear();
      Browse();
      return;
    case Check::kOk:
      break;
  }
  table_.raster = ComposeBitmapRaster(
      image, drive, table_.screenConfigs[static_cast<std::size_t>(slot)], table_.imageRaster);
  workingPath = imagePath;
}

void BitmapPage::RenderTextHalf(int slot) {
  // The text screen is rendered only for its image-file raster; the panel raster stays.
  const Raster panel = table_.raster;
  renderer_.RenderTextScreen(table_, slot);
  table_.raster = panel;
}

bool BitmapPage::DrawBitmapPreview() {
  if (table_.currentTab != kBitmapTab) return false;
  const bool drawn = DrawPreviewPicture();
  hooks_.StateChanged();
  return drawn;
}

bool BitmapPage::DrawPreviewPicture() {
  preview = BlankBitmapPreview();
  DriveRecord drive;
  if (!SelectedDrive(drive) || (drive.totalMB == 0 && drive.connectionState != kBridgeLocked)) {
    return true;
  }
  if (drive.connectionState == kBridgeLocked) {
    if (!fonts_) fonts_ = Fonts::Load(SystemLanguage());
    preview = LockedBitmapPreview(*fonts_, SystemLanguage());
    return true;
  }
  BmpImage image;
  switch (Load(workingPath, image, true)) {
    case Check::kMissing:
      return true;
    case Check::kRejected:
      workingPath.clear();
      return false;
    case Check::kOk:
      break;
  }
  if (imagePath != workingPath && Load(imagePath, image, false) != Check::kOk) return true;
  if (areaIndex == kAreaUpper || areaIndex == kAreaLower) RenderTextHalf(table_.selectedDrive);
  preview = BitmapPreview(image, drive,
                          {areaIndex, rotationDegrees, rotatePreviewChecked, reverseChecked},
                          table_.imageRaster);
  workingPath = imagePath;
  return true;
}

void BitmapPage::EnablePage(bool enable) {
  pageEnabled = browseEnabled = enable;
  if (!enable) displayName.clear();
  EnableImageSettings(enable);
}

void BitmapPage::EnableImageSettings(bool enable) {
  imageSettingsEnabled = enable;
  hooks_.StateChanged();
}

void BitmapPage::Browse() {
  std::optional<std::string> path = hooks_.ChooseBmpFile();
  if (path) TakeFile(*path);
}

void BitmapPage::TakeFile(const std::string& path) {
  std::error_code ec;
  if (path.empty() || !std::filesystem::exists(path, ec)) return;
  const std::string previousName = displayName;
  const std::string previousImage = imagePath;
  const std::string previousWorking = workingPath;
  const std::u16string previousFileName(FieldView(table_.workingConfig.bmpFileName));

  // The file is checked even when the bitmap tab is not shown (a drop on the window), so that
  // a rejected picture never becomes the page's.
  BmpImage image;
  if (Load(path, image, true) != Check::kOk) {
    displayName = previousName;
    imagePath = previousImage;
    workingPath = previousWorking;
    SetField(table_.workingConfig.bmpFileName, std::u16string_view(previousFileName));
    hooks_.StateChanged();
    DrawBitmapPreview();
    return;
  }
  displayName = workingPath = imagePath = path;
  SetField(table_.workingConfig.bmpFileName, std::string_view(path));
  hooks_.StateChanged();
  DrawBitmapPreview();
}

void BitmapPage::DropFiles(const std::vector<std::string>& paths) {
  for (const std::string& path : paths) TakeFile(path);
}

void BitmapPage::SelectRotation(int index) {
  if (index < 0 || index > 3) return;
  rotationDegrees = 90 * index;
  table_.workingConfig.bmpRotation = rotationDegrees;
  hooks_.StateChanged();
  DrawBitmapPreview();
}

void BitmapPage::SetRotatePreview(bool checked) {
  rotatePreviewChecked = checked;
  table_.workingConfig.bmpPreviewRotation = checked ? 1 : 0;
  DrawBitmapPreview();
}

void BitmapPage::SetReverse(bool checked) {
  reverseChecked = checked;
  table_.workingConfig.bmpWB = checked ? 1 : 0;
  DrawBitmapPreview();
}

void BitmapPage::SelectArea(std::int32_t area) {
  if (area < kAreaAll || area > kAreaLower) return;
  areaIndex = area;
  table_.workingConfig.bmpAreaRatio = area;
  DrawBitmapPreview();
}

bool BitmapPage::UseConvertedPicture(const BmpImage& image) {
  const std::string path = paths_.DataDir() + kConvertedFileName;
  if (WriteWhole(path, EncodeBmp(image)) != 0) return false;
  TakeFile(path);
  return imagePath == path;
}

void BitmapPage::PreparePicture(DriveTable& table, int slot) {
  (void)table;
  StoreImageOnDrive();
  if (slot < 0 || slot >= kSlotCount) return;
  if (table_.screenConfigs[static_cast<std::size_t>(slot)].bmpAreaRatio != kAreaAll) {
    RenderTextHalf(slot);
  }
}

void BitmapPage::ComposeScreen(DriveTable& table, int slot) {
  (void)table;
  PreparePanelRaster(slot);
}

}  // namespace kuv
