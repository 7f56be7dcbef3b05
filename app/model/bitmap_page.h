#pragma once
// The bitmap page without its widgets: its state, the checks of a chosen BMP, the drive's
// LCD_IMAGE.BMP and its temporary copy, the preview and the panel raster of bitmap screens.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/compose/bitmap_raster.h"
#include "app/compose/bmp_file.h"
#include "app/compose/fonts.h"
#include "app/compose/photo_convert.h"
#include "app/model/device_service.h"
#include "app/model/ports.h"
#include "common/drive_table.h"
#include "common/picture_io.h"

namespace kuv {

inline constexpr int kWrongSizeMessage = 1121;  // not 96x96, or not a picture at all
inline constexpr int kTwoColoursMessage = 122;  // 96x96 but more than one bit per dot
inline constexpr char kImageFileName[] = "LCD_IMAGE.BMP";
inline constexpr char kConvertedFileName[] = "Converted.bmp";
inline constexpr int kBitmapTab = 1;

// Where the page keeps its files.
struct BitmapPaths {
  std::string tempDir;   // the temporary copy: $TMPDIR or /tmp, with a trailing '/'
  std::string dataHome;  // $XDG_DATA_HOME or ~/.local/share ("" when the user has no home)
  static BitmapPaths FromEnvironment();
  // The data folder of per-drive pictures of video-recorder disks and converted pictures:
  // <dataHome>/TAVIO/KuvLcdManager/, with a trailing '/'.
  std::string DataDir() const;
};

// What the page asks of the window around it. Defaults do nothing, for headless callers.
class BitmapPageHooks {
 public:
  virtual ~BitmapPageHooks() = default;
  // An OK-only message box with the text of a string id (1121 or 122).
  virtual void ShowMessage(int stringId) { (void)stringId; }
  // The open-file dialog for "BMP(*.bmp)"; nullopt when cancelled.
  virtual std::optional<std::string> ChooseBmpFile() { return std::nullopt; }
  // The page state changed; the widget re-reads it.
  virtual void StateChanged() {}
};

class BitmapPage : public BitmapPageStep {
 public:
  // The references must outlive the page.
  BitmapPage(DriveTable& table, DeviceService& service, VolumeFiles& files, TextRenderer& renderer,
             BitmapPageHooks& hooks, BitmapPaths paths);
  ~BitmapPage() override;

  std::int32_t rotationDegrees = 0;
  std::string workingPath;  // the file checked next
  std::string imagePath;    // the picture in use
  std::string displayName;  // the file-name field
  bool reverseChecked = false;
  bool rotatePreviewChecked = false;
  std::int32_t areaIndex = kAreaAll;
  bool pageEnabled = true;
  bool browseEnabled = true;  // also offered on bar-layout drives, whose settings are not
  bool imageSettingsEnabled = true;
  Picture preview = BlankBitmapPreview();  // 98x98, as drawn last
  int storeError = 0;                      // of the last StoreImageOnDrive

  // The rotation list's row, 0 to 3.
  int RotationIndex() const;
  // The rotate-preview check box is offered only with a rotation.
  bool RotatePreviewEnabled() const { return imageSettingsEnabled && rotationDegrees != 0; }

  // The page's state from the working copy; fetches the drive's picture and redraws.
  void LoadFromConfiguration();
  // Makes a temporary copy of the selected drive's picture (or of the default one) the page's.
  void FetchDriveImage();
  // Writes the page's picture to the selected drive's LCD_IMAGE.BMP, whole and atomically. The
  // window reports nothing; 0 when written, else an errno value (ENOENT: no volume or picture),
  // also kept in storeError for callers that do report it.
  int StoreImageOnDrive();
  // Composes the slot's bitmap screen from its LCD_IMAGE.BMP into table.raster.
  void PreparePanelRaster(int slot);
  // Redraws preview; false when the bitmap tab is not shown or the file was rejected.
  bool DrawBitmapPreview();
  void EnablePage(bool enable);
  void EnableImageSettings(bool enable);

  // The browse button: the open-file dialog, then TakeFile.
  void Browse();
  // A chosen or dropped file becomes the page's picture unless it is rejected, in which case the
  // previous picture, name and file name stay.
  void TakeFile(const std::string& path);
  void DropFiles(const std::vector<std::string>& paths);
  void SelectRotation(int index);
  void SetRotatePreview(bool checked);
  void SetReverse(bool checked);
  void SelectArea(std::int32_t area);
  // "Convert picture…": stores the converted picture as a standard BMP in the data folder and
  // takes it as if chosen; false when it could not be stored.
  bool UseConvertedPicture(const BmpImage& image);

  // The drive's LCD_IMAGE.BMP: in its TAVIO_LCDMANAGER folder, or for video-recorder disks in
  // the data folder under the drive's serial number; "" when the drive has no volume.
  std::string DriveImagePath(const DriveRecord& drive) const;
  std::string TemporaryCopyPath() const { return paths_.tempDir + kImageFileName; }
  const BitmapPaths& paths() const { return paths_; }

  // BitmapPageStep: Update LCD stores the picture and renders the text half; both then compose.
  void PreparePicture(DriveTable& table, int slot) override;
  void ComposeScreen(DriveTable& table, int slot) override;

 private:
  enum class Check { kMissing, kRejected, kOk };
  // Reads and checks a picture; on rejection shows the message. kMissing when no file is there.
  Check Load(const std::string& path, BmpImage& image, bool showMessage);
  bool SelectedDrive(DriveRecord& drive) const;
  // The page's own folder dir (ending in '/'): the temporary folder, the data folder (made when
  // create) or a listed drive's TAVIO_LCDMANAGER folder. nullptr with err 0 for any other folder,
  // with err set when an own folder cannot be opened.
  std::unique_ptr<OwnFolder> OpenOwnFolder(const std::string& dir, bool create, int& err) const;
  // A picture file: one of the page's own relative to its folder, never through a link; a file
  // the user chose as the user named it.
  std::optional<std::string> ReadPicture(const std::string& path, int& err) const;
  // Replaces a file of the page's own folders whole; EINVAL for a path outside them.
  int WriteWhole(const std::string& path, const std::vector<std::uint8_t>& bytes);
  void RenderTextHalf(int slot);
  bool DrawPreviewPicture();

  DriveTable& table_;
  DeviceService& service_;
  VolumeFiles& files_;
  TextRenderer& renderer_;
  BitmapPageHooks& hooks_;
  BitmapPaths paths_;
  std::unique_ptr<Fonts> fonts_;  // only for the locked drive's preview
};

}  // namespace kuv
