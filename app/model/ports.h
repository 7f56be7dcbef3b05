#pragma once
// What the program's flows touch besides the service: the on-drive files it writes itself, the
// HID panels it writes directly, free space, pauses, and the pages and window around it. Each is
// a narrow interface so the flows run the same in the program, in kuvlcd and in tests.

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "common/drive_table.h"

namespace kuv {

// The files the program reads and writes in a drive's TAVIO_LCDMANAGER folder. Errors are errno
// values, 0 meaning success.
class VolumeFiles {
 public:
  virtual ~VolumeFiles() = default;
  // Up to maxBytes of the file; nullopt (err set) when it cannot be opened or read.
  virtual std::optional<std::string> ReadFile(const std::string& path, std::size_t maxBytes,
                                              int& err) = 0;
  // Writes bytes completely to a new temporary file beside path and makes them durable; the
  // temporary's path goes to tempPath. On failure nothing is left behind.
  virtual int WriteTemp(const std::string& path, std::string_view bytes, std::string& tempPath) = 0;
  // Puts the temporary in place of path in one step, replacing an existing file. On failure
  // nothing changes: path keeps its old file and the temporary stays for the caller to discard.
  virtual int CommitTemp(const std::string& tempPath, const std::string& path) = 0;
  // Removes a temporary that will not be committed.
  virtual void DiscardTemp(const std::string& tempPath) = 0;
  // Removes the temporaries of path ("<name>.XXXXXX" regular files beside it) older than
  // kStaleTempAge, left by a save that was cut off; younger ones may belong to a save under way.
  virtual void RemoveStaleTemps(const std::string& path) = 0;
  virtual bool IsDirectory(const std::string& path) = 0;
};

inline constexpr std::chrono::seconds kStaleTempAge{60};

// The POSIX realisation: temporary "<name>.XXXXXX" in the same folder, fsync, rename.
class PosixVolumeFiles : public VolumeFiles {
 public:
  std::optional<std::string> ReadFile(const std::string& path, std::size_t maxBytes,
                                      int& err) override;
  int WriteTemp(const std::string& path, std::string_view bytes, std::string& tempPath) override;
  int CommitTemp(const std::string& tempPath, const std::string& path) override;
  void DiscardTemp(const std::string& tempPath) override;
  void RemoveStaleTemps(const std::string& path) override;
  bool IsDirectory(const std::string& path) override;
};

// An HID panel opened for writing 65-byte output reports.
class HidPanelWriter {
 public:
  virtual ~HidPanelWriter() = default;
  // Writes one report; false with a readable reason when the device refused it.
  virtual bool Write(std::span<const std::uint8_t, 65> report, std::string& error) = 0;
};

struct VolumeSpace {
  std::uint64_t totalBytes = 0;
  std::uint64_t freeBytes = 0;
};

// The few things the program asks the system directly.
class PanelSystem {
 public:
  virtual ~PanelSystem() = default;
  // The number of HID panel controllers present (GetHidLcdCount of the device library).
  virtual std::int32_t HidLcdCount() = 0;
  // Opens an HID panel's device path for writing; null when it cannot be opened.
  virtual std::unique_ptr<HidPanelWriter> OpenHidPanel(const std::string& path) = 0;
  // The volume's sizes, nullopt when the system cannot give them.
  virtual std::optional<VolumeSpace> FreeSpace(const std::string& path) = 0;
  virtual void Pause(std::chrono::milliseconds duration) = 0;
  // The local time and the logged-on user's name (empty when the system cannot give it).
  virtual ClockSnapshot Now() = 0;
  virtual std::u16string UserName() = 0;
  // Whether the program's autostart entry exists.
  virtual bool AutostartRegistered() { return false; }
};

// PanelSystem over the device library's DeviceEnv, so simulated HID panels work as real ones.
class EnvPanelSystem : public PanelSystem {
 public:
  std::int32_t HidLcdCount() override;
  std::unique_ptr<HidPanelWriter> OpenHidPanel(const std::string& path) override;
  std::optional<VolumeSpace> FreeSpace(const std::string& path) override;
  void Pause(std::chrono::milliseconds duration) override;
  ClockSnapshot Now() override;
  std::u16string UserName() override;
  bool AutostartRegistered() override;
};

// Composes the text screen of a slot into table.raster.
class TextRenderer {
 public:
  virtual ~TextRenderer() = default;
  virtual void RenderTextScreen(DriveTable& table, int slot) = 0;
};

// The two steps of the bitmap page the update flow and the minute refresh call.
class BitmapPageStep {
 public:
  virtual ~BitmapPageStep() = default;
  // Checks the chosen picture and keeps the drive's LCD_IMAGE.BMP current.
  virtual void PreparePicture(DriveTable& table, int slot) = 0;
  // Composes the slot's bitmap screen into table.raster.
  virtual void ComposeScreen(DriveTable& table, int slot) = 0;
};

// What the QR control of the QR page holds.
struct QrControlValues {
  std::int32_t eccValue = 1;
  std::int32_t cellPitch = 2;
  std::u16string text;
};

class QrPageStep {
 public:
  virtual ~QrPageStep() = default;
  // Puts the QR picture into raster.
  virtual void LoadRaster(Raster& raster) = 0;
  virtual QrControlValues ControlValues() = 0;
};

// The window around the model. Every hook has a harmless default so a headless caller only
// overrides what it shows.
class ShellHooks {
 public:
  virtual ~ShellHooks() = default;
  // Page-state refresh and preview redraw of the main window.
  virtual void RefreshPageState() {}
  virtual void RedrawPreview() {}
  // The text page's line fields changed under it (minute refresh).
  virtual void TextPageChanged() {}
  // Stop the minute timer and start the 15-second rescan series.
  virtual void StartPanelWait() {}
  // Rebuild the drive list from the table.
  virtual void FillList() {}
  // Temperature check and S.M.A.R.T. page refresh after a scan report.
  virtual void AfterScanReport() {}
  // Asks the restart question; true for Yes.
  virtual bool AskRestart() { return false; }
  // Whether the SATA filter may be registered after the restart question. The program registers
  // it whatever the answer; a tool only when its user asked for it.
  virtual bool MayRegisterSataFilter() { return true; }
  // End the program, and ask the system to restart it.
  virtual void EndProgram() {}
  virtual void RequestRestart() {}
  // An unexpected failure: string 201 with number, then the system's text of the error.
  virtual void ReportError(int number, const std::string& systemText) {
    (void)number;
    (void)systemText;
  }
  // Diagnostic lines of the HID write; nobody reads them in the program.
  virtual void Diagnostic(const std::string& line) { (void)line; }
};

}  // namespace kuv
