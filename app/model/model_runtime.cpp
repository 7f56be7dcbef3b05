#include "app/model/model_runtime.h"

#include <algorithm>
#include <stdexcept>

#include "app/model/temperature_warning.h"
#include "app/model/wake_event.h"
#include "common/utf16.h"

namespace kuv {
namespace {

constexpr std::int32_t kSmartTab = 3;

bool Listed(const DriveRecord& record) {
  return record.driveNumber != kEmptyDriveNumber;
}

std::array<DriveRecord, kSlotCount> Records(LcdModel& model) {
  std::lock_guard lock(model.tableLock);
  return model.table.driveRecords;
}

}  // namespace

ThreadScanWorker::ThreadScanWorker() {
  eventFd_ = OpenWakeEvent();
  if (eventFd_ < 0) throw std::runtime_error("no wake event for the scan worker");
  thread_ = std::thread([this] { Loop(); });
}

ThreadScanWorker::~ThreadScanWorker() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
  CloseWakeEvent(eventFd_);
}

void ThreadScanWorker::Abandon() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.detach();
}

void ThreadScanWorker::Start(ScanKind kind, std::function<ScanResult()> job) {
  {
    std::lock_guard lock(mutex_);
    jobs_.emplace_back(kind, std::move(job));
  }
  wake_.notify_all();
}

std::vector<FinishedScan> ThreadScanWorker::TakeFinished() {
  ClearWakeEvent(eventFd_);
  std::lock_guard lock(mutex_);
  return std::exchange(finished_, {});
}

bool ThreadScanWorker::Busy() {
  std::lock_guard lock(mutex_);
  return running_ || !jobs_.empty();
}

void ThreadScanWorker::Loop() {
  for (;;) {
    std::pair<ScanKind, std::function<ScanResult()>> job;
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
      if (stopping_) return;
      job = std::move(jobs_.front());
      jobs_.pop_front();
      running_ = true;
    }
    ScanResult result = job.second();
    {
      std::lock_guard lock(mutex_);
      running_ = false;
      finished_.push_back({job.first, std::move(result)});
    }
    RaiseWakeEvent(eventFd_);
  }
}

ModelRuntime::ModelRuntime(LcdModel& model, const SchedulerClock& clock, ScanWorker& worker,
                           RuntimeHooks& hooks, Language language)
    : model_(model), worker_(worker), hooks_(hooks), language_(language), scheduler_(clock) {}

void ModelRuntime::Start() {
  scheduler_.Start();
}

void ModelRuntime::SearchDevice() {
  Run(scheduler_.SearchDevice());
}

void ModelRuntime::Resumed() {
  Run(scheduler_.Resumed());
}

void ModelRuntime::Exit() {
  Run(scheduler_.Exit());
}

void ModelRuntime::Advance() {
  Run(scheduler_.Advance());
}

void ModelRuntime::Run(const std::vector<TimerAction>& actions) {
  for (TimerAction action : actions) {
    switch (action) {
      case TimerAction::kDeviceScan:
        StartScan(ScanKind::kDeviceChange);
        break;
      case TimerAction::kButtonScan:
        StartScan(ScanKind::kButton);
        break;
      case TimerAction::kResumeScan:
        StartScan(ScanKind::kResume);
        break;
      case TimerAction::kSlotCheck:
        SlotCountCheck();
        scheduler_.SlotCheckFinished();
        break;
      case TimerAction::kMinuteRefresh:
        // Told first: a return of the service this refresh finds is told for the whole minute.
        hooks_.MinutePassed();
        model_.MinuteRefresh();
        break;
      case TimerAction::kRescan:
        Rescan();
        break;
      case TimerAction::kEnableSearch:
        hooks_.SetSearchEnabled(true);
        break;
      case TimerAction::kQuit:
        quitRequested_ = true;
        hooks_.Quit();
        break;
    }
  }
  CollectScans();
}

// Resume scans report as Search Device: the button is disabled until they do.
static bool ReportsAsButton(ScanKind kind) {
  return kind == ScanKind::kButton || kind == ScanKind::kResume;
}

void ModelRuntime::StartScan(ScanKind kind) {
  if (ReportsAsButton(kind)) {
    model_.waitingForPanels = false;
    hooks_.SetSearchEnabled(false);
  }
  scheduler_.ScanStarted();
  LcdModel& model = model_;
  // Only the Search Device button is the user asking; a device change or a resume must not spin
  // up the listed disks that sleep.
  const bool automatic = kind != ScanKind::kButton;
  worker_.Start(kind, [&model, automatic] { return model.WorkerScan(automatic); });
}

void ModelRuntime::CollectScans() {
  for (const FinishedScan& scan : worker_.TakeFinished()) ApplyScan(scan);
  FollowService();
}

void ModelRuntime::FollowService() {
  const bool reachable = model_.service().link.reachable();
  if (reachable == serviceReachable_) return;
  serviceReachable_ = reachable;
  hooks_.ServiceReachable(reachable);
  if (reachable) scheduler_.DeviceChanged();
}

std::vector<int> ModelRuntime::ReportDriveChanges(
    const std::array<DriveRecord, kSlotCount>& before) {
  // What the scan found of the service is told before what it found of the drives.
  FollowService();
  const std::array<DriveRecord, kSlotCount> now = Records(model_);
  auto listedIn = [](const std::array<DriveRecord, kSlotCount>& records, const DriveRecord& drive) {
    return std::any_of(records.begin(), records.end(),
                       [&drive](const DriveRecord& r) { return Listed(r) && SameDrive(r, drive); });
  };
  for (const DriveRecord& drive : before) {
    if (Listed(drive) && !listedIn(now, drive)) hooks_.DriveUnplugged(drive);
  }
  std::vector<int> came;
  for (int k = 0; k < kSlotCount; ++k) {
    const DriveRecord& drive = now[static_cast<std::size_t>(k)];
    if (!Listed(drive) || listedIn(before, drive)) continue;
    hooks_.DrivePlugged(drive);
    came.push_back(k);
  }
  return came;
}

void ModelRuntime::ApplyScan(const FinishedScan& scan) {
  const bool byButton = ReportsAsButton(scan.kind);
  const std::array<DriveRecord, kSlotCount> before = Records(model_);
  bool applied = model_.HandleScanReport(scan.result, !byButton);
  scheduler_.ScanReported(byButton);
  if (byButton) hooks_.SetSearchEnabled(true);
  if (!applied) return;
  SlotCountCheck();
  // A drive that was not listed before shows its picture now, not at the next minute.
  model_.TakeClockSnapshot();
  ServicePass pass(model_.service().link);
  for (int k : ReportDriveChanges(before)) model_.SendScreen(k);
}

void ModelRuntime::RefillIfRowsDiffer() {
  const int rows = hooks_.ListRowCount();
  if (rows >= 0 && rows != model_.table.driveCount) {
    model_.table.selectedDrive = -1;
    hooks_.FillList();
  }
}

void ModelRuntime::SlotCountCheck() {
  DriveTable& table = model_.table;
  int occupied = model_.OccupiedSlots();
  if (occupied != table.driveCount) {
    table.driveCount = occupied;
    hooks_.FillList();
  }
  RefillIfRowsDiffer();
  TemperatureCheck();
  if (table.currentTab == kSmartTab && table.driveCount > 0) hooks_.RefreshSmartPage();
}

void ModelRuntime::Rescan() {
  DriveTable& table = model_.table;
  ServicePass pass(model_.service().link);
  const std::array<DriveRecord, kSlotCount> before = Records(model_);
  std::int32_t found = model_.ScanDrives(false, true);
  ReportDriveChanges(before);
  if (found != table.driveCount) {
    // An unreachable service leaves the slots it did not reach as they were; count those.
    table.driveCount = found < 0 ? model_.OccupiedSlots() : found;
    hooks_.FillList();
    RefillIfRowsDiffer();
  }
  TemperatureCheck();
  hooks_.RefreshSmartPage();
  if (table.currentTab == kSmartTab) return;
  model_.TakeClockSnapshot();
  for (int k = 0; k < kSlotCount; ++k) {
    DriveRecord drive;
    {
      std::lock_guard lock(model_.tableLock);
      drive = table.driveRecords[static_cast<std::size_t>(k)];
    }
    if (drive.driveNumber == kEmptyDriveNumber) continue;
    if (table.screenConfigs[static_cast<std::size_t>(k)].lcdDataType == kLcdQr) continue;
    if (IsVideoRecorderDisk(drive.fileSystemType)) continue;
    // Each screen as its kind composes it: a bitmap drive keeps its picture.
    model_.SendScreen(k);
  }
}

void ModelRuntime::TemperatureCheck() {
  DriveTable snapshot;
  {
    std::lock_guard lock(model_.tableLock);
    snapshot.driveRecords = model_.table.driveRecords;
  }
  snapshot.screenConfigs = model_.table.screenConfigs;
  if (auto text = BuildTemperatureWarning(snapshot, language_)) {
    hooks_.ShowTemperatureWarning(*text);
    warningShown_ = true;
  } else if (warningShown_) {
    hooks_.HideTemperatureWarning();
    warningShown_ = false;
  }
}

}  // namespace kuv
