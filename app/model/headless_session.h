#pragma once
// The model wired to the real service, profile, files and panels, without a window: what kuvlcd
// and the benchmarks run the program's flows on.

#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/model/bitmap_page.h"
#include "app/model/compose_renderer.h"
#include "app/model/lcd_model.h"
#include "app/model/profile_store.h"
#include "app/model/volume_files.h"

namespace kuv {

// Hooks of a terminal: errors and the restart question go to stderr, diagnostics only when
// verbose. The restart question is answered No, so a tool never restarts the machine, and the
// SATA filter is registered only when registerSataFilter is set. The question and the hint that
// goes with it are printed once per process, however many scans meet the drive.
class TerminalHooks : public ShellHooks {
 public:
  explicit TerminalHooks(bool verbose) : verbose_(verbose) {}
  bool AskRestart() override;
  bool MayRegisterSataFilter() override;

  bool registerSataFilter = false;
  void EndProgram() override { endRequested = true; }
  void StartPanelWait() override {
    if (onPanelWait) onPanelWait();
  }
  void ReportError(int number, const std::string& systemText) override;
  void Diagnostic(const std::string& line) override;
  void PanelNotReached(const DriveRecord& drive, const std::string& why) override;
  void PanelReachedAgain(const DriveRecord& drive) override;
  // Says so when an Update LCD could not reach the panel for want of the service; true then.
  bool ReportPanelNotUpdated(const SaveOutcome& outcome) const;

  bool endRequested = false;
  // What the lines about panels start with.
  std::string prefix = "kuvlcd";
  // Set by a caller that runs the timers (kuvlcd watch): the rescan series starts here.
  std::function<void()> onPanelWait;
  std::FILE* out = stderr;

 private:
  bool verbose_;
  bool restartAsked_ = false;
  bool filterHintGiven_ = false;
};

// The bitmap page's messages go to stderr and are counted; there is no dialog to browse with.
class TerminalBitmapHooks : public BitmapPageHooks {
 public:
  void ShowMessage(int stringId) override;
  int messages = 0;
};

struct HeadlessSession {
  explicit HeadlessSession(bool verbose = false);

  SocketDeviceService service;
  std::unique_ptr<ProfileStore> profile = OpenUserProfile();
  SystemVolumeFiles files;
  EnvPanelSystem system;
  ComposeTextRenderer renderer;
  TerminalHooks hooks;
  TerminalBitmapHooks bitmapHooks;
  LcdModel model;
  BitmapPage bitmapPage;

  // The program's start: settings, clock, a full scan. The count, -1 when the service could not
  // be reached; driveCount holds the occupied slots either way. onlyDrive: the run works on that
  // drive alone; once an earlier run has left the panel paths, only it and the drives with a known
  // panel path are asked.
  std::int32_t Start(std::optional<std::int32_t> onlyDrive = std::nullopt);
};

}  // namespace kuv
