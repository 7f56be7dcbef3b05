#pragma once
// The program's model without its widgets: the drive table and the flows that fill it, store it
// and show it — settings persistence, drive discovery, the LCD update and the minute refresh.

#include <array>
#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "app/model/device_service.h"
#include "app/model/ports.h"
#include "app/model/profile_store.h"
#include "common/drive_table.h"

namespace kuv {

// Everything the model talks to; the references must outlive the model.
struct ModelPorts {
  DeviceService& service;
  ProfileStore& profile;
  VolumeFiles& files;
  PanelSystem& system;
  TextRenderer& renderer;
  ShellHooks& hooks;
  BitmapPageStep* bitmapPage = nullptr;  // null until the page exists
  QrPageStep* qrPage = nullptr;
};

// The report of a background scan.
struct ScanResult {
  std::int32_t count = 0;      // drives copied into the table
  bool hidMismatch = false;    // fewer (or more) HID-tied drives than HID panels
  bool sataHostFound = false;  // a drive on a Silicon Image host without the SATA filter
  // The records found, in slot order; HandleScanReport copies them into the table.
  std::vector<DriveRecord> drives;
  // Drive numbers of listed disks that slept and were kept as they were.
  std::vector<std::int32_t> keptAsleep;
  // The service stopped answering during the scan: it says nothing about the drives, and the
  // table keeps the drives it lists.
  bool serviceUnreachable = false;
};

// The outcome of saving a configuration, and of the Update LCD that saves it.
struct SaveOutcome {
  bool saved = false;         // the settings reached the drive or the profile
  int lcdDataError = 0;       // errno when LCD_DATA.TXT could not be written (reported as 1080)
  bool profileError = false;  // the profile refused a value or could not be made durable (1080)
  // The panel service did not answer. With panelNotUpdated the panel keeps its picture and
  // nothing was saved, since the drive's files must not claim what the panel does not show;
  // without it an HID panel was written directly, and saved tells whether its folder was there.
  bool serviceUnreachable = false;
  bool panelNotUpdated = false;
  // The panel answered but did not take the picture; the settings were saved all the same.
  bool panelRefused = false;
};

inline constexpr int kLcdDataWriteError = 1080;
inline constexpr int kOpenAttempts = 6;
inline constexpr std::chrono::milliseconds kOpenPause{100};
inline constexpr std::int32_t kDefaultWarningTemp = 50;

inline constexpr char kDriveFolderName[] = "TAVIO_LCDMANAGER";
inline constexpr int kDriveNumbers = 32;  // drive numbers 0 to 31 are scanned

// A panel path (hidPath) per drive number, empty where none is known.
using PanelPaths = std::array<std::u16string, kDriveNumbers>;

// The mount point of the drive's first volume, and the folder "TAVIO_LCDMANAGER" in it; nullopt
// when the drive has no mounted volume.
std::optional<std::string> DriveMountPath(const DriveRecord& drive);
std::optional<std::string> DriveFolderPath(const DriveRecord& drive);
// The drive's TAVIO_LCDMANAGER folder, opened without following a link; nullptr with err set when
// the drive has no volume (ENOENT) or the folder cannot be opened.
std::unique_ptr<OwnFolder> OpenDriveFolder(VolumeFiles& files, const DriveRecord& drive, int& err);

// The same drive: the same number with the same disk in it (another disk in the bay is another
// drive).
bool SameDrive(const DriveRecord& a, const DriveRecord& b);

// The drive's panel takes its pictures through the service: a bridge panel that is not locked.
bool PanelSentByService(const DriveRecord& drive);

class LcdModel {
 public:
  explicit LcdModel(ModelPorts ports);

  DriveTable table;
  // Held while drive records are read for a scan's path hints, while a scan's records are copied
  // in, and by readers of a record on the window thread.
  mutable std::mutex tableLock;
  std::int32_t autoUpdateFlag = 1;  // "SMART_AUTOUPDATE", sent with every command 1
  bool waitingForPanels = false;
  bool showAtStart = false;
  bool restartQuestionOpen = false;
  std::atomic<bool> scanBusy{false};
  // Panel paths known from before the table was filled (kuvlcd's last run): a scan hands them
  // back as hints for the drive numbers the table does not list.
  PanelPaths earlierPanelPaths;

  // Clock snapshot and user name (string 190 when the system has none).
  void TakeClockSnapshot();
  // Reads "SMART_AUTOUPDATE" (default 1) into autoUpdateFlag.
  void LoadSettings();

  // Fills screenConfigs[slot] from the drive's store.
  void LoadScreenConfig(int slot);
  // Writes the configuration of the selected drive to its store.
  SaveOutcome SaveScreenConfig();
  // Select drive k: reload its configuration and make it the working copy. A flow that has just
  // loaded every listed drive's configuration passes reload false, so no file is read twice.
  void SelectDrive(int slot, bool reload = true);

  // The synchronous scan: the number of drives found, -1 when the service could not be reached.
  // automatic (the rescan series): listed disks that sleep are kept as WorkerScan keeps them.
  // onlyDrive (kuvlcd, which works on one drive): ask that drive number and those with a known
  // panel path, whose panels the service then leaves out of its probes for it; the rest are not
  // asked, and the HID panel count is not compared, since some panels' drives were not asked.
  std::int32_t ScanDrives(bool full, bool automatic = false,
                          std::optional<std::int32_t> onlyDrive = std::nullopt);
  // The background scan, for a worker thread: scans into the result and holds tableLock only to
  // read the path hints, so the window never waits for the service. automatic (the timers' and
  // device changes' scans, not Search Device): a listed drive whose disk is in standby or sleep
  // keeps its record instead of being examined, which would spin it up.
  ScanResult WorkerScan(bool automatic = false);
  // Applies a background scan's report on the window thread: copies its records in under
  // tableLock. deviceChange: the report came after a device change, and is only acted on when
  // the drives differ from those listed (another count, or another drive in a slot). True when
  // the report was acted on.
  bool HandleScanReport(const ScanResult& result, bool deviceChange);
  void RunRestartQuestion();

  // The Update LCD button: apply the working copy to the selected slot, compose, send, save.
  // The outcome of the save step; nothing saved when no drive is selected.
  SaveOutcome UpdateLcd();
  // Sends table.raster to the panel of the slot. False when a bridge panel could not be sent to
  // because the service did not answer.
  bool SendRaster(int slot);
  // One pass of the minute refresh: time and S.M.A.R.T. lines, pictures, free space.
  void MinuteRefresh();
  // The program's start: every text and bitmap screen composed and sent once (QR screens are
  // sent only by Update LCD; video-recorder disks only by their own update).
  void StartupRefresh();
  // Composes the slot's text or bitmap screen with current time lines and sends it; a QR screen
  // is left to the QR page.
  void SendScreen(int slot);
  // Reads the slot's S.M.A.R.T. sectors through the service into its record. automatic: a disk in
  // standby or sleep is left alone and keeps its last values, so timers never spin a disk up.
  // The service's result (kSmartSkippedAsleep when the disk was left asleep).
  std::int32_t ReadSmart(int slot, bool automatic);

  // The occupied slots (driveNumber not -10).
  int OccupiedSlots() const;
  // The panel path of each listed drive, as the next scan's hints.
  PanelPaths ListedPanelPaths() const;

  // The service and the system the model works with, for the window's own requests.
  DeviceService& service() { return ports_.service; }
  PanelSystem& system() { return ports_.system; }

  // The QR page once it exists; it gives Update LCD the QR picture and the settings writer
  // the control's values.
  void AttachQrPage(QrPageStep* page) { ports_.qrPage = page; }

 private:
  bool ValidSlot(int slot) const { return slot >= 0 && slot < kSlotCount; }
  DriveRecord RecordOf(int slot);
  // An automatic scan leaves a listed disk that sleeps as it was, since examining it would spin it
  // up: info becomes its listed record, and that entry of listed is returned (else nullptr).
  const DriveRecord* KeepIfAsleep(bool automatic, std::int32_t driveNumber,
                                  const std::array<DriveRecord, kSlotCount>& listed,
                                  DriveRecord& info);
  void LoadFromProfile(const DriveRecord& drive, ScreenConfig& config);
  // True when LCD_DATA.TXT was found.
  bool LoadFromDrive(const DriveRecord& drive, ScreenConfig& config);
  // False when the profile refused a value or could not be made durable.
  bool SaveToProfile(const DriveRecord& drive, const ScreenConfig& config);
  SaveOutcome SaveToDrive(const DriveRecord& drive, const ScreenConfig& config);
  int ReplaceDriveFile(OwnFolder& folder, std::string_view name, std::string_view bytes);
  void RefreshTickingLines(const DriveRecord& drive, ScreenConfig& config, bool slotCopy);
  bool FollowsItsVolume(int slot);
  // Writes table.raster to the drive's HID panel; why it could not, or empty.
  std::string SendToHidPanel(const DriveRecord& drive);
  // A panel's answer to a picture (failure empty: taken). A failure is told once until the panel
  // takes a picture again, so a timer does not repeat it every minute.
  void PanelAnswered(const DriveRecord& drive, const std::string& failure);

  ModelPorts ports_;
  std::map<std::int32_t, std::string> panelFailures_;  // by drive number, window thread only
};

}  // namespace kuv
