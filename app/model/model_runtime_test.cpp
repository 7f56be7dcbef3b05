// The program's life in virtual time: the scheduler's actions on the model with fake devices.
#include "app/model/model_runtime.h"

#include <gtest/gtest.h>
#include <poll.h>

#include <algorithm>
#include <filesystem>
#include <future>

#include "app/model/service_status.h"
#include "app/model/test_fakes.h"
#include "app/model/virtual_time.h"
#include "common/picture_io.h"

namespace kuv {
namespace {

using namespace std::chrono_literals;
using testing::Drive;

class ForwardingHooks : public testing::RecordingHooks {
 public:
  ModelRuntime* runtime = nullptr;
  void StartPanelWait() override {
    RecordingHooks::StartPanelWait();
    if (runtime) runtime->PanelWaitStarted();
  }
  // The window follows the service when it shows the model again, as after its own requests.
  void RefreshPageState() override {
    if (runtime) runtime->FollowService();
  }
};

class ShownHooks : public RuntimeHooks {
 public:
  std::vector<std::u16string> warnings;
  int hides = 0, quits = 0, minutes = 0;
  std::vector<bool> searchStates;
  std::vector<bool> reachable;
  std::vector<std::int32_t> plugged, unplugged;
  ServiceStatus status;  // what a window's status line would say
  void ServiceReachable(bool r) override {
    reachable.push_back(r);
    status.Follow(r);
  }
  void DrivePlugged(const DriveRecord& drive) override { plugged.push_back(drive.driveNumber); }
  void DriveUnplugged(const DriveRecord& drive) override { unplugged.push_back(drive.driveNumber); }
  void MinutePassed() override {
    ++minutes;
    status.MinutePassed();
  }
  void ShowTemperatureWarning(const std::u16string& text) override { warnings.push_back(text); }
  void HideTemperatureWarning() override { ++hides; }
  void SetSearchEnabled(bool enabled) override { searchStates.push_back(enabled); }
  void Quit() override { ++quits; }
};

// Keeps every scan running until told, as a service that hangs would.
class HeldScanWorker : public ScanWorker {
 public:
  void Start(ScanKind kind, std::function<ScanResult()> job) override {
    held.emplace_back(kind, std::move(job));
  }
  std::vector<FinishedScan> TakeFinished() override { return std::exchange(finished, {}); }
  void FinishAll() {
    for (auto& [kind, job] : held) finished.push_back({kind, job()});
    held.clear();
  }
  std::vector<std::pair<ScanKind, std::function<ScanResult()>>> held;
  std::vector<FinishedScan> finished;
};

struct RuntimeRig {
  explicit RuntimeRig(ScanWorker* worker = nullptr)
      : runtime(model, clock, worker ? *worker : inlineWorker, shown, Language::kEnglish) {
    hooks.runtime = &runtime;
    system.clock = {9, 5, 30, 2026, 12, 8};
  }

  // The program's start: a full scan, then the timers.
  void StartWith(std::initializer_list<DriveRecord> drives) {
    for (const DriveRecord& drive : drives) service.panels[drive.driveNumber] = {1, drive};
    model.TakeClockSnapshot();
    model.table.driveCount = model.ScanDrives(true);
    runtime.Start();
    service.calls.clear();
  }
  void Until(SteadyTime until) {
    while (auto next = runtime.NextDeadline()) {
      if (*next > until) break;
      clock.now = std::max(clock.now, *next);
      runtime.Advance();
    }
    clock.now = std::max(clock.now, until);
  }
  int Count(std::int32_t command, std::int32_t driveNumber = -1) const {
    return static_cast<int>(std::count_if(
        service.calls.begin(), service.calls.end(), [&](const testing::ServiceCall& call) {
          return call.command == command && (driveNumber < 0 || call.driveNumber == driveNumber);
        }));
  }

  testing::TempDir dir;
  testing::FakeService service;
  MemoryProfileStore profile;
  testing::FaultyVolumeFiles files;
  testing::FakeSystem system;
  testing::StampRenderer renderer;
  ForwardingHooks hooks;
  LcdModel model{ModelPorts{service, profile, files, system, renderer, hooks}};
  testing::VirtualClock clock{30};
  InlineScanWorker inlineWorker;
  ShownHooks shown;
  ModelRuntime runtime;
};

DriveRecord Mounted(std::int32_t number, const std::string& mount) {
  DriveRecord drive = Drive(number, kBridgePlain);
  SetField(drive.driveLetter, std::string_view(mount));
  return drive;
}

TEST(ModelRuntime, FreeSpaceChangeIsSentAtTheNextMinuteWithoutCommand9WhenAutoUpdateIsOff) {
  RuntimeRig rig;
  rig.StartWith({Mounted(4, rig.dir.path())});
  rig.model.autoUpdateFlag = 0;
  rig.model.table.driveRecords[0].freeMB = 100;
  rig.system.space = VolumeSpace{std::uint64_t{500} << 20, std::uint64_t{100} << 20};
  rig.Until(20s);
  rig.system.space->freeBytes = std::uint64_t{200} << 20;  // a file was deleted
  rig.Until(59s);
  EXPECT_TRUE(rig.service.calls.empty());
  rig.Until(60s);
  EXPECT_EQ(rig.service.Commands(), (std::vector<std::int32_t>{2, 11}));
  EXPECT_EQ(rig.model.table.driveRecords[0].freeMB, 200u);

  // Second 30 at start, so the next refresh is at the next full minute, 30 s later.
  rig.service.calls.clear();
  rig.Until(89s);
  EXPECT_TRUE(rig.service.calls.empty());
  rig.Until(90s);
  EXPECT_EQ(rig.service.Commands(), std::vector<std::int32_t>{2}) << "free space unchanged";
}

// Scans started by a device change or a resume are not the user's: a listed disk that sleeps
// keeps its record and its configuration instead of being examined or having its settings file
// read. Search Device examines it.
TEST(ModelRuntime, AutomaticScansLetSleepingDisksBe) {
  struct Case {
    const char* name;
    bool anotherTray;  // a tray plugged in too, so the report is acted on
    void (*start)(ModelRuntime&);
  };
  const auto deviceChange = [](ModelRuntime& runtime) { runtime.DeviceChanged(); };
  const auto resume = [](ModelRuntime& runtime) {
    runtime.PrepareForSleep();
    runtime.Resumed();
  };
  const Case cases[] = {
      {"device change", false, deviceChange},
      {"device change with a new tray", true, deviceChange},
      {"resume", false, resume},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RuntimeRig rig;
    testing::TempDir sleeper;
    rig.StartWith({Mounted(4, rig.dir.path()), Mounted(5, sleeper.path())});
    rig.service.asleep = {5};
    if (c.anotherTray) rig.service.panels[6] = {1, Mounted(6, rig.dir.path())};
    SetField(rig.model.table.screenConfigs[1].qrText, std::string_view("kept"));
    rig.files.reads.clear();
    c.start(rig.runtime);
    rig.Until(3s);
    EXPECT_EQ(rig.Count(1, 5), 0) << "the sleeping disk was not examined";
    EXPECT_EQ(rig.Count(1, 4), 1);
    EXPECT_EQ(rig.model.table.driveCount, c.anotherTray ? 3 : 2) << "and it stays listed";
    for (const std::string& path : rig.files.reads) {
      EXPECT_NE(path.rfind(sleeper.path(), 0), 0u) << "read from the sleeping disk: " << path;
    }
    EXPECT_EQ(FieldView(rig.model.table.screenConfigs[1].qrText), u"kept");
    rig.Until(31s);
    rig.runtime.SearchDevice();
    rig.runtime.CollectScans();
    EXPECT_EQ(rig.Count(1, 5), 1) << "Search Device is the user asking";
  }
}

TEST(ModelRuntime, TheRescanSeriesLetsSleepingDisksBe) {
  RuntimeRig rig;
  testing::TempDir sleeper;
  std::filesystem::create_directories(sleeper.path() + "/TAVIO_LCDMANAGER");
  WriteFileBytes(sleeper.path() + "/TAVIO_LCDMANAGER/LCD_DATA.TXT", std::vector<std::uint8_t>{'x'},
                 nullptr);
  rig.system.hidPanels = 1;
  rig.StartWith({Mounted(4, rig.dir.path()), Mounted(5, sleeper.path())});
  ASSERT_TRUE(rig.model.waitingForPanels);
  rig.service.asleep = {5};
  SetField(rig.model.table.screenConfigs[1].qrText, std::string_view("kept"));
  rig.files.reads.clear();
  rig.Until(110s);
  EXPECT_EQ(rig.Count(1, 5), 0) << "the sleeping disk was not examined";
  EXPECT_EQ(rig.Count(1, 4), 7);
  EXPECT_EQ(rig.model.table.driveCount, 2) << "and it stays listed";
  for (const std::string& path : rig.files.reads) {
    EXPECT_NE(path.rfind(sleeper.path(), 0), 0u) << "read from the sleeping disk: " << path;
  }
  EXPECT_EQ(FieldView(rig.model.table.screenConfigs[1].qrText), u"kept")
      << "its configuration stays with it";
}

TEST(ModelRuntime, PluggingATrayGivesOneScanAndTheNewPanelItsPicture) {
  RuntimeRig rig;
  rig.StartWith({Mounted(4, rig.dir.path())});
  rig.service.panels[6] = {1, Mounted(6, rig.dir.path())};
  SetField(rig.service.panels[6].second.serialNumber, std::string_view("NEW-TRAY-0001"));
  // A tray arriving: the disk, its partitions and the panel's hidraw node, in a burst.
  for (SteadyTime when : {1000ms, 1100ms, 1400ms, 2900ms}) {
    rig.Until(when);
    rig.runtime.DeviceChanged();
  }
  rig.Until(5400ms);
  EXPECT_EQ(rig.Count(1), 0) << "still within 2.6 s of the last change";
  rig.Until(5500ms);
  EXPECT_EQ(rig.Count(1), 32) << "exactly one scan of the 32 drive numbers";
  EXPECT_EQ(rig.model.table.driveCount, 2);
  EXPECT_EQ(rig.Count(2, 6), 1) << "the new drive's panel gets its picture at once";
  EXPECT_EQ(rig.Count(2, 4), 0) << "the drive already listed keeps its picture";
  rig.Until(30s);
  EXPECT_EQ(rig.Count(1), 32);
}

TEST(ModelRuntime, TemperatureWarningOpensAtTheLimitAndHidesWhenTheDriveCools) {
  RuntimeRig rig;
  rig.StartWith({Drive(4, kBridgePlain), Drive(7, kBridgePlain)});
  for (int k : {0, 1}) {
    rig.model.table.screenConfigs[static_cast<std::size_t>(k)].warningTemp = 50;
    rig.model.table.screenConfigs[static_cast<std::size_t>(k)].showWarningTemp = 1;
  }
  rig.model.table.driveRecords[0].temperature = 50;
  rig.model.table.driveRecords[1].temperature = 38;
  rig.Until(60s);
  EXPECT_TRUE(rig.shown.warnings.empty());
  rig.Until(61s);
  ASSERT_EQ(rig.shown.warnings.size(), 1u);
  EXPECT_NE(rig.shown.warnings[0].find(u" 50°C---"), std::u16string::npos);
  EXPECT_EQ(rig.shown.warnings[0].find(u" 38°C"), std::u16string::npos);

  rig.model.table.driveRecords[0].temperature = 49;
  rig.Until(122s);
  EXPECT_EQ(rig.shown.hides, 1);
  rig.Until(183s);
  EXPECT_EQ(rig.shown.hides, 1) << "hidden once, not at every check";
}

TEST(ModelRuntime, ExitWhileAScanHangsEndsWithinTenSeconds) {
  HeldScanWorker worker;
  RuntimeRig rig(&worker);
  rig.StartWith({Drive(4, kBridgePlain)});
  rig.runtime.DeviceChanged();
  rig.Until(3s);
  ASSERT_EQ(worker.held.size(), 1u);
  rig.runtime.Exit();
  rig.Until(12999ms);
  EXPECT_EQ(rig.shown.quits, 0);
  rig.Until(13s);
  EXPECT_EQ(rig.shown.quits, 1);
  EXPECT_TRUE(rig.runtime.quitRequested());
}

TEST(ModelRuntime, ExitWaitsForAScanThatFinishes) {
  HeldScanWorker worker;
  RuntimeRig rig(&worker);
  rig.StartWith({Drive(4, kBridgePlain)});
  rig.runtime.SearchDevice();
  rig.runtime.Exit();
  rig.Until(3s);
  worker.FinishAll();
  rig.runtime.CollectScans();
  EXPECT_EQ(rig.shown.quits, 0);
  rig.Until(4s);
  EXPECT_EQ(rig.shown.quits, 1);
}

TEST(ModelRuntime, UntiedHidPanelsRescanSevenTimesThenTheMinuteRefreshResumes) {
  RuntimeRig rig;
  rig.system.hidPanels = 1;  // one panel that no drive answers for
  rig.StartWith({Mounted(4, rig.dir.path())});
  EXPECT_EQ(rig.hooks.panelWaits, 1);
  rig.Until(115s);
  EXPECT_EQ(rig.Count(1), 7 * 32);
  // The minute refresh reads S.M.A.R.T. with 9, or with 12 when it lets sleeping disks be.
  EXPECT_EQ(rig.Count(9) + rig.Count(12), 0) << "no minute refresh during the series";
  EXPECT_EQ(rig.Count(2, 4), 7) << "every run re-sends the screens";
  EXPECT_EQ(rig.hooks.panelWaits, 1) << "the series starts once while waiting";
  rig.Until(150s);
  EXPECT_EQ(rig.Count(1), 7 * 32);
  EXPECT_GE(rig.Count(9) + rig.Count(12), 1) << "the minute refresh is back after the series";
}

TEST(ModelRuntime, SearchDeviceClearsTheWaitAndIsEnabledAgainByItsReport) {
  RuntimeRig rig;
  rig.system.hidPanels = 1;
  rig.StartWith({Drive(4, kBridgePlain)});
  ASSERT_TRUE(rig.model.waitingForPanels);
  rig.runtime.SearchDevice();
  EXPECT_EQ(rig.shown.searchStates, (std::vector<bool>{false, true}));
  EXPECT_EQ(rig.Count(1), 32);
  EXPECT_TRUE(rig.model.waitingForPanels) << "the report found the mismatch again";
  EXPECT_EQ(rig.hooks.panelWaits, 2);
}

TEST(ModelRuntime, SleepStopsTheMinuteRefreshAndResumeRepaintsAndScans) {
  RuntimeRig rig;
  rig.StartWith({Drive(4, kBridgePlain)});
  rig.Until(10s);
  rig.runtime.PrepareForSleep();
  rig.Until(600s);
  EXPECT_EQ(rig.Count(2), 0);
  rig.runtime.Resumed();
  EXPECT_EQ(rig.Count(1), 32) << "resume scans like Search Device";
  rig.Until(659s);
  EXPECT_EQ(rig.Count(2), 0);
  rig.Until(660s);
  EXPECT_EQ(rig.Count(2), 1);
}

TEST(ModelRuntime, AServiceThatGoesAwayIsToldOnceAskedEachMinuteAndToldWhenBack) {
  RuntimeRig rig;
  rig.StartWith({Mounted(4, rig.dir.path()), Mounted(5, rig.dir.path())});
  rig.model.autoUpdateFlag = 0;
  rig.service.down = true;
  rig.Until(60s);
  EXPECT_EQ(rig.service.Commands(), std::vector<std::int32_t>{2})
      << "the second drive's picture is not asked for once the first found the service gone";
  EXPECT_EQ(rig.shown.reachable, std::vector<bool>{false});

  rig.service.calls.clear();
  rig.service.tries = 0;
  const int before = rig.shown.minutes;
  rig.Until(240s);
  const int refreshes = rig.shown.minutes - before;
  ASSERT_GE(refreshes, 3);
  EXPECT_EQ(rig.service.Commands(), std::vector<std::int32_t>(refreshes, 0));
  EXPECT_EQ(rig.service.tries, refreshes) << "one quiet try a minute";
  EXPECT_EQ(rig.shown.reachable, std::vector<bool>{false}) << "told once";

  rig.service.down = false;
  rig.service.calls.clear();
  // The selected drive's picture going out shows the window again while the refresh runs.
  rig.model.table.selectedDrive = 0;
  while (rig.shown.minutes == before + refreshes) rig.Until(rig.clock.now + 1s);
  const SteadyTime back = rig.clock.now;
  EXPECT_EQ(rig.shown.reachable, (std::vector<bool>{false, true}));
  EXPECT_EQ(rig.shown.status.notice(), ServiceNotice::kBack) << "said until the next minute";
  EXPECT_EQ(rig.Count(0), 1);
  EXPECT_EQ(rig.Count(2), 2) << "the pictures go out in the same minute";
  // Drives may have come and gone meanwhile: one scan, as after a device change.
  rig.Until(back + 2s);
  EXPECT_EQ(rig.Count(1), 0);
  rig.Until(back + 3s);
  EXPECT_EQ(rig.Count(1), 32);
  rig.Until(back + 61s);
  EXPECT_EQ(rig.shown.status.notice(), ServiceNotice::kNone);
}

TEST(ModelRuntime, DrivesThatComeAndGoAreToldByTheScanThatFindsThem) {
  RuntimeRig rig;
  rig.StartWith({Mounted(4, rig.dir.path()), Mounted(6, rig.dir.path())});
  rig.service.panels.erase(4);
  rig.service.panels[9] = {1, Mounted(9, rig.dir.path())};
  SetField(rig.service.panels[9].second.serialNumber, std::string_view("NEW-TRAY-0001"));
  rig.runtime.DeviceChanged();
  rig.Until(3s);
  EXPECT_EQ(rig.shown.unplugged, std::vector<std::int32_t>{4});
  EXPECT_EQ(rig.shown.plugged, std::vector<std::int32_t>{9});

  // Another disk in the same bay is another drive.
  SetField(rig.service.panels[6].second.serialNumber, std::string_view("OTHER-DISK-02"));
  rig.runtime.DeviceChanged();
  rig.Until(6s);
  EXPECT_EQ(rig.shown.unplugged, (std::vector<std::int32_t>{4, 6}));
  EXPECT_EQ(rig.shown.plugged, (std::vector<std::int32_t>{9, 6}));

  // A scan that could not ask the service says nothing about the drives.
  rig.service.down = true;
  rig.service.panels.erase(9);
  rig.runtime.DeviceChanged();
  rig.Until(9s);
  EXPECT_EQ(rig.shown.unplugged.size(), 2u);
  EXPECT_EQ(rig.model.table.driveCount, 2);
  EXPECT_EQ(rig.shown.reachable, std::vector<bool>{false});
}

TEST(ThreadScanWorker, RunsScansInOrderAwayFromTheCallerAndSignalsTheirEnd) {
  ThreadScanWorker worker;
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  const auto caller = std::this_thread::get_id();
  std::vector<std::thread::id> threads(2);
  worker.Start(ScanKind::kDeviceChange, [&, released] {
    threads[0] = std::this_thread::get_id();
    released.wait();
    ScanResult result;
    result.count = 1;
    return result;
  });
  worker.Start(ScanKind::kButton, [&] {
    threads[1] = std::this_thread::get_id();
    ScanResult result;
    result.count = 2;
    return result;
  });
  EXPECT_TRUE(worker.Busy());
  EXPECT_TRUE(worker.TakeFinished().empty()) << "the first scan is still waiting";
  release.set_value();

  std::vector<FinishedScan> done;
  for (int i = 0; i < 100 && done.size() < 2; ++i) {
    pollfd p{worker.fd(), POLLIN, 0};
    if (::poll(&p, 1, 100) == 1) {
      for (FinishedScan& scan : worker.TakeFinished()) done.push_back(std::move(scan));
    }
  }
  ASSERT_EQ(done.size(), 2u);
  EXPECT_EQ(done[0].kind, ScanKind::kDeviceChange);
  EXPECT_EQ(done[0].result.count, 1);
  EXPECT_EQ(done[1].kind, ScanKind::kButton);
  EXPECT_NE(threads[0], caller);
  EXPECT_EQ(threads[0], threads[1]) << "one scan after the other on one worker";
  EXPECT_FALSE(worker.Busy());
}

}  // namespace
}  // namespace kuv
