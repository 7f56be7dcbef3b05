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

#include "app/model/volume_files.h"
#include "common/drive_table.h"

namespace kuv {

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
  // Opens an HID panel's device path for writing; null, with a readable reason in error, when it
  // cannot be opened.
  virtual std::unique_ptr<HidPanelWriter> OpenHidPanel(const std::string& path,
                                                       std::string& error) = 0;
  // The sizes of the volumes holding paths, in order; nullopt where the system cannot give them.
  // One call for them all: each query is bounded on a worker thread, and one thread and one wait
  // for every volume keep the idle program's wake-ups down.
  virtual std::vector<std::optional<VolumeSpace>> FreeSpaces(
      const std::vector<std::string>& paths) = 0;
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
  std::unique_ptr<HidPanelWriter> OpenHidPanel(const std::string& path,
                                               std::string& error) override;
  std::vector<std::optional<VolumeSpace>> FreeSpaces(
      const std::vector<std::string>& paths) override;
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
  // A panel could not take a picture (why: a readable reason), or took one again after that.
  virtual void PanelNotReached(const DriveRecord& drive, const std::string& why) {
    (void)drive;
    (void)why;
  }
  virtual void PanelReachedAgain(const DriveRecord& drive) { (void)drive; }
};

}  // namespace kuv
