#pragma once
// The program living on its own: the scheduler's actions carried out on the model, background
// scans on a worker, device changes, sleep and resume. Used by the tray program (which turns
// NextDeadline() into a QTimer and the file descriptors into QSocketNotifiers) and by kuvlcd
// watch (which polls them); the tests run it in virtual time.

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "app/model/lcd_model.h"
#include "app/model/scheduler.h"
#include "common/strings.h"

namespace kuv {

enum class ScanKind { kDeviceChange, kButton, kResume };

struct FinishedScan {
  ScanKind kind = ScanKind::kDeviceChange;
  ScanResult result;
};

// Runs background scans one after another, away from the caller's thread.
class ScanWorker {
 public:
  virtual ~ScanWorker() = default;
  virtual void Start(ScanKind kind, std::function<ScanResult()> job) = 0;
  // The scans that have finished since the last call, in order.
  virtual std::vector<FinishedScan> TakeFinished() = 0;
};

// One worker thread; its wake event (wake_event.h) is raised when a scan has finished.
class ThreadScanWorker : public ScanWorker {
 public:
  ThreadScanWorker();
  // Waits for the scan in progress; use Abandon() first to leave without waiting.
  ~ThreadScanWorker() override;
  ThreadScanWorker(const ThreadScanWorker&) = delete;
  ThreadScanWorker& operator=(const ThreadScanWorker&) = delete;

  void Start(ScanKind kind, std::function<ScanResult()> job) override;
  std::vector<FinishedScan> TakeFinished() override;
  int fd() const { return eventFd_; }
  // A scan is queued or running.
  bool Busy();
  // The process is ending: a scan still waiting for a hung service is left behind. The caller
  // must then end the process without destroying the model the scan reads (std::_Exit).
  void Abandon();

 private:
  void Loop();

  int eventFd_ = -1;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::pair<ScanKind, std::function<ScanResult()>>> jobs_;
  std::vector<FinishedScan> finished_;
  bool stopping_ = false;
  bool running_ = false;
  std::thread thread_;
};

// Runs each scan at once on the caller's thread (tests).
class InlineScanWorker : public ScanWorker {
 public:
  void Start(ScanKind kind, std::function<ScanResult()> job) override {
    finished_.push_back({kind, job()});
  }
  std::vector<FinishedScan> TakeFinished() override { return std::exchange(finished_, {}); }

 private:
  std::vector<FinishedScan> finished_;
};

// What the runtime shows around the model; every hook has a harmless default.
class RuntimeHooks {
 public:
  virtual ~RuntimeHooks() = default;
  virtual void ShowTemperatureWarning(const std::u16string& text) { (void)text; }
  virtual void HideTemperatureWarning() {}
  // The S.M.A.R.T. page shows the selected drive again.
  virtual void RefreshSmartPage() {}
  virtual void SetSearchEnabled(bool enabled) { (void)enabled; }
  // Rebuild the drive list from the table; rows of the drive list, -1 when there is none.
  virtual void FillList() {}
  virtual int ListRowCount() { return -1; }
  virtual void Quit() {}
  // The panel service stopped answering, or answers again.
  virtual void ServiceReachable(bool reachable) { (void)reachable; }
  // A drive with a panel came into the list or left it.
  virtual void DrivePlugged(const DriveRecord& drive) { (void)drive; }
  virtual void DriveUnplugged(const DriveRecord& drive) { (void)drive; }
  // A minute has passed; the minute refresh runs next.
  virtual void MinutePassed() {}
};

// The model's ShellHooks::AfterScanReport need not run the temperature check: the runtime runs
// it after every report it applies.
class ModelRuntime {
 public:
  // The model's own hooks must forward StartPanelWait() to PanelWaitStarted().
  ModelRuntime(LcdModel& model, const SchedulerClock& clock, ScanWorker& worker,
               RuntimeHooks& hooks, Language language);

  // End of the program's initialisation: arms the minute refresh and the slot check.
  void Start();

  // Events in.
  void DeviceChanged() { scheduler_.DeviceChanged(); }
  void SearchDevice();
  void PanelWaitStarted() { scheduler_.PanelWaitStarted(); }
  void PrepareForSleep() { scheduler_.PrepareForSleep(); }
  void Resumed();
  void Exit();

  // The earliest deadline to wake up for, nullopt when none is armed.
  std::optional<SteadyTime> NextDeadline() const { return scheduler_.NextDeadline(); }
  // Runs every due timer; call when the deadline has passed.
  void Advance();
  // Applies the reports of finished background scans; call when the worker says so.
  void CollectScans();

  // The temperature check (also run by the slot check): shows, updates or hides the warning.
  void TemperatureCheck();
  // Tells the hooks when the service stopped answering or answers again, and when it is back
  // starts the scan a device change would, since drives may have come and gone meanwhile. The
  // runtime follows after each of its own events; a window follows after its own requests too.
  void FollowService();

  const Scheduler& scheduler() const { return scheduler_; }
  bool quitRequested() const { return quitRequested_; }

 private:
  void Run(const std::vector<TimerAction>& actions);
  void StartScan(ScanKind kind);
  void SlotCountCheck();
  // A list showing another number of rows than there are drives loses its selection and is
  // filled again.
  void RefillIfRowsDiffer();
  void Rescan();
  void ApplyScan(const FinishedScan& scan);
  // Tells the hooks which drives came and went since before (the table's records then); the
  // slots of the drives that came.
  std::vector<int> ReportDriveChanges(const std::array<DriveRecord, kSlotCount>& before);

  LcdModel& model_;
  ScanWorker& worker_;
  RuntimeHooks& hooks_;
  Language language_;
  Scheduler scheduler_;
  bool warningShown_ = false;
  bool quitRequested_ = false;
  bool serviceReachable_ = true;
};

}  // namespace kuv
