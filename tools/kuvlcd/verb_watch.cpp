// kuvlcd watch: the tray program's life without a display, for servers and NAS boxes. The same
// timers, device changes and resume handling keep the panels current; warnings go to stderr,
// which is the journal under systemd.

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "app/model/device_changes.h"
#include "app/model/headless_session.h"
#include "app/model/list_rows.h"
#include "app/model/model_runtime.h"
#include "app/model/panel_owner_lock.h"
#include "app/model/sleep_signal.h"
#include "common/utf16.h"
#include "tools/kuvlcd/cli.h"
#include "tools/kuvlcd/watch_wait.h"

namespace {

// The exit status when another copy drives the panels; the systemd unit does not restart on it.
constexpr int kAnotherCopyRuns = 3;

class WatchHooks : public kuv::RuntimeHooks {
 public:
  WatchHooks(kuv::LcdModel& model, bool verbose) : model_(model), verbose_(verbose) {}

  void ShowTemperatureWarning(const std::u16string& text) override {
    // The check runs every 61 s; the journal needs a line only when the message changes.
    if (text == lastWarning_) return;
    lastWarning_ = text;
    std::fprintf(stderr, "kuvlcd watch: %s\n", kuv::Utf16ToUtf8(text).c_str());
  }
  void HideTemperatureWarning() override {
    lastWarning_.clear();
    std::fprintf(stderr, "kuvlcd watch: every drive is below its warning temperature again\n");
  }
  void FillList() override {
    if (model_.table.driveCount == listed_) return;
    listed_ = model_.table.driveCount;
    std::fprintf(stderr, "kuvlcd watch: %d drive%s with a panel\n", listed_,
                 listed_ == 1 ? "" : "s");
  }
  void Quit() override {
    if (verbose_) std::fprintf(stderr, "kuvlcd watch: ending\n");
  }
  void ServiceReachable(bool reachable) override {
    if (reachable) {
      std::fprintf(stderr, "kuvlcd watch: panel service reachable again\n");
    } else {
      // Said once: the runtime tells only the change, and retries every minute without a word.
      std::fprintf(stderr,
                   "kuvlcd watch: panel service unreachable at %s; trying again every minute\n",
                   kuv::ServiceSocketPath().c_str());
    }
  }
  void DrivePlugged(const kuv::DriveRecord& drive) override { Tell(drive, "plugged in"); }
  void DriveUnplugged(const kuv::DriveRecord& drive) override { Tell(drive, "unplugged"); }

 private:
  // "drive 3 plugged in: /mnt/backup BACKUP, WDC WD20EZRX-00D8PB0, KV-D210 panel, NTFS"
  static void Tell(const kuv::DriveRecord& drive, const char* what) {
    const kuv::ListRow row = kuv::ListRowTexts(drive, kuv::Language::kEnglish);
    std::fprintf(stderr, "kuvlcd watch: drive %d %s: %s, %s, %s panel, %s\n", drive.driveNumber,
                 what, kuv::Utf16ToUtf8(row[0]).c_str(), kuv::Utf16ToUtf8(row[2]).c_str(),
                 kuv::Utf16ToUtf8(row[1]).c_str(), kuv::Utf16ToUtf8(row[5]).c_str());
  }

  kuv::LcdModel& model_;
  bool verbose_;
  std::u16string lastWarning_;
  int listed_ = -1;
};

int MillisecondsUntil(const kuv::Scheduler& scheduler, const kuv::SchedulerClock& clock) {
  auto next = scheduler.NextDeadline();
  if (!next) return -1;
  auto wait = *next - clock.Now();
  return wait.count() <= 0 ? 0 : static_cast<int>(wait.count());
}

int Run(const kuv::cli::Args& args) {
  const bool verbose = args.Has("verbose");
  std::string error;
  auto owner = kuv::PanelOwnerLock::Acquire("kuvlcd watch", error);
  if (!owner) {
    std::fprintf(stderr, "kuvlcd watch: %s\n", error.c_str());
    return kAnotherCopyRuns;
  }

  kuv::cli::WatchWaiter waiter;

  // Listening starts before the first scan, so a device plugged in meanwhile is not missed.
  auto devices = kuv::OpenDeviceChanges(error);
  if (!devices) std::fprintf(stderr, "kuvlcd watch: no device changes: %s\n", error.c_str());

  kuv::HeadlessSession session(verbose);
  session.hooks.prefix = "kuvlcd watch";
  if (session.Start() < 0) {
    kuv::cli::ReportServiceUnreachable();
    return 1;
  }
  kuv::SystemSchedulerClock clock;
  kuv::ThreadScanWorker worker;
  WatchHooks hooks(session.model, verbose);
  kuv::ModelRuntime runtime(session.model, clock, worker, hooks, kuv::SystemLanguage());
  session.hooks.onPanelWait = [&runtime] { runtime.PanelWaitStarted(); };
  hooks.FillList();
  // The program's start sends every screen once; the minute refresh does that with the time.
  session.model.MinuteRefresh();
  runtime.Start();
  if (session.model.waitingForPanels) runtime.PanelWaitStarted();

  auto sleep = kuv::OpenLogindSleepSignal(error);
  if (!sleep && verbose) std::fprintf(stderr, "kuvlcd watch: no resume: %s\n", error.c_str());

  // The restart question ends the tray program; a watcher logs it once and keeps the panels going.
  while (!runtime.quitRequested()) {
    kuv::cli::Woken woken;
    if (!waiter.Wait({worker.fd(), devices.get(), sleep.get()},
                     MillisecondsUntil(runtime.scheduler(), clock), woken)) {
      break;
    }
    if (woken.stop) runtime.Exit();
    if (woken.scans) runtime.CollectScans();
    if (devices && devices->TakeChanges()) {
      if (verbose) std::fprintf(stderr, "kuvlcd watch: devices changed\n");
      runtime.DeviceChanged();
    }
    if (sleep) {
      for (kuv::SleepEvent event : sleep->Take()) {
        if (event == kuv::SleepEvent::kGoingToSleep) {
          runtime.PrepareForSleep();
        } else {
          runtime.Resumed();
        }
      }
    }
    runtime.Advance();
  }
  if (worker.Busy()) {
    // A scan still waits for a hung service after the five retries: leave it behind.
    worker.Abandon();
    std::fflush(nullptr);
    std::_Exit(0);
  }
  return 0;
}

kuv::cli::Registrar reg(
    {"watch",
     "keep the panels current without a display",
     "Keeps the panels current without a display, as the tray program does: the time every "
     "minute, free space and S.M.A.R.T. values, the temperature check, a rescan when a disk or "
     "panel comes or goes, a repaint after resume. Runs until SIGTERM or Ctrl-C; what it finds "
     "goes to stderr (the journal under systemd).",
     {"[--verbose]"},
     {{"", {{"verbose", "", "more of what it does on stderr"}}}},
     "",
     Run,
     {{kAnotherCopyRuns,
       "another copy (the tray program or a watcher) drives this user's panels"}}});

}  // namespace
