#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "app/model/headless_session.h"
#include "app/model/test_fakes.h"
#include "common/strings.h"

namespace kuv {
namespace {

using testing::Drive;
using testing::Rig;

TEST(ScanDrives, FillsSlotsInDriveOrderAndStopsEachPanelsTimer) {
  Rig rig;
  rig.service.panels[5] = {1, Drive(5, kBridgePlain)};
  rig.service.panels[2] = {1, Drive(2, kBridgeLocked)};
  rig.service.panels[9] = {1, Drive(9, kNoPanel)};
  rig.service.panels[11] = {1, Drive(11, kHidUntied, 0)};
  rig.service.panels[12] = {0, Drive(12, kBridgePlain)};
  rig.model.table.driveRecords[4].driveNumber = 30;  // a stale slot from an earlier scan
  EXPECT_EQ(rig.model.ScanDrives(true), 2);
  EXPECT_EQ(rig.model.table.driveRecords[0].driveNumber, 2);
  EXPECT_EQ(rig.model.table.driveRecords[1].driveNumber, 5);
  for (int k = 2; k < kSlotCount; ++k) {
    EXPECT_EQ(rig.model.table.driveRecords[static_cast<std::size_t>(k)].driveNumber,
              kEmptyDriveNumber);
  }
  std::vector<std::int32_t> stops;
  int lookups = 0;
  for (const auto& call : rig.service.calls) {
    if (call.command == 8) stops.push_back(call.driveNumber);
    if (call.command == 1) ++lookups;
  }
  EXPECT_EQ(lookups, 32);
  EXPECT_EQ(stops, (std::vector<std::int32_t>{2, 5}));
  EXPECT_EQ(rig.hooks.panelWaits, 0);
}

// kuvlcd works on one drive: a warm run asks it and the drives whose panel paths are known (so
// the service leaves their panels out of its probes), not every drive number, and holds the HID
// count against none of it.
TEST(ScanDrives, OneDriveScanAsksThatDriveAndThoseWithKnownPanels) {
  Rig rig;
  rig.service.panels[2] = {1, Drive(2, kBridgePlain)};
  rig.service.panels[5] = {1, Drive(5, kNotSiliconImageHost, 0)};
  rig.service.panels[7] = {1, Drive(7, kBridgePlain)};
  rig.system.hidPanels = 2;
  rig.model.earlierPanelPaths[5] = u"/dev/hidraw1";
  EXPECT_EQ(rig.model.ScanDrives(true, false, 7), 2);
  EXPECT_EQ(rig.model.table.driveRecords[0].driveNumber, 5);
  EXPECT_EQ(rig.model.table.driveRecords[1].driveNumber, 7);
  EXPECT_EQ(rig.model.table.driveRecords[2].driveNumber, kEmptyDriveNumber);
  std::vector<std::pair<std::int32_t, std::int32_t>> asked;
  for (const auto& call : rig.service.calls) asked.emplace_back(call.command, call.driveNumber);
  EXPECT_EQ(asked,
            (std::vector<std::pair<std::int32_t, std::int32_t>>{{1, 5}, {1, 7}, {8, 5}, {8, 7}}));
  EXPECT_EQ(rig.service.calls[0].hidHint, u"/dev/hidraw1");
  EXPECT_EQ(rig.hooks.panelWaits, 0);
}

TEST(ScanDrives, HandsBackTheLastKnownPanelPathAsHint) {
  Rig rig;
  DriveRecord tied = Drive(4, kNotSiliconImageHost, 0);
  SetField(tied.hidPath, std::string_view("/dev/hidraw3"));
  rig.model.table.driveRecords[0] = tied;
  rig.service.panels[4] = {1, tied};
  rig.system.hidPanels = 1;
  // Paths from an earlier run count where the table lists no drive of that number.
  rig.model.earlierPanelPaths[4] = u"/dev/hidraw9";
  rig.model.earlierPanelPaths[6] = u"/dev/hidraw7";
  rig.model.ScanDrives(false);
  EXPECT_EQ(rig.service.calls[0].driveNumber, 4) << "a drive with a known panel is asked first";
  EXPECT_EQ(rig.service.calls[1].driveNumber, 6) << "so is one whose panel an earlier run knew";
  EXPECT_EQ(rig.service.calls[2].driveNumber, 0);
  auto hintFor = [&](std::int32_t driveNumber) {
    for (const auto& call : rig.service.calls) {
      if (call.command == 1 && call.driveNumber == driveNumber) return call.hidHint;
    }
    return std::u16string(u"(not asked)");
  };
  EXPECT_EQ(hintFor(4), u"/dev/hidraw3");
  EXPECT_EQ(hintFor(6), u"/dev/hidraw7");
  EXPECT_EQ(hintFor(0), u"");
  PanelPaths listed;
  listed[4] = u"/dev/hidraw3";
  EXPECT_EQ(rig.model.ListedPanelPaths(), listed) << "the next run's hints: what this scan found";
}

// Known panels first, so the service can leave them out of the other drives' probes; each drive
// is still asked once and the slots stay in drive order.
TEST(ScanDrives, AsksDrivesWithKnownPanelsFirstAndKeepsDriveOrder) {
  for (bool worker : {false, true}) {
    SCOPED_TRACE(worker ? "worker scan" : "scan");
    Rig rig;
    for (int n : {1, 6, 9}) {
      DriveRecord tied = Drive(n, kNotSiliconImageHost, 0);
      SetField(tied.hidPath, "/dev/hidraw" + std::to_string(n));
      rig.service.panels[n] = {1, tied};
    }
    rig.service.panels[3] = {1, Drive(3, kBridgePlain)};
    rig.model.table.driveRecords[0] = rig.service.panels[9].second;
    rig.model.table.driveRecords[1] = rig.service.panels[6].second;
    rig.system.hidPanels = 3;
    std::vector<std::int32_t> numbers;
    if (worker) {
      ScanResult report = rig.model.WorkerScan(false);
      for (const DriveRecord& d : report.drives) numbers.push_back(d.driveNumber);
    } else {
      EXPECT_EQ(rig.model.ScanDrives(false), 4);
      for (int k = 0; k < 4; ++k)
        numbers.push_back(rig.model.table.driveRecords[static_cast<std::size_t>(k)].driveNumber);
    }
    EXPECT_EQ(numbers, (std::vector<std::int32_t>{1, 3, 6, 9}));
    std::vector<std::int32_t> asked;
    for (const auto& call : rig.service.calls)
      if (call.command == 1) asked.push_back(call.driveNumber);
    ASSERT_EQ(asked.size(), 32u);
    EXPECT_EQ(asked[0], 6);
    EXPECT_EQ(asked[1], 9);
    EXPECT_EQ(asked[2], 0);
    std::sort(asked.begin(), asked.end());
    EXPECT_EQ(std::adjacent_find(asked.begin(), asked.end()), asked.end()) << "each drive once";
  }
}

TEST(ScanDrives, NeverWritesPastTheSixteenthSlot) {
  Rig rig;
  for (int n = 0; n < 20; ++n) rig.service.panels[n] = {1, Drive(n, kBridgePlain)};
  EXPECT_EQ(rig.model.ScanDrives(false), kSlotCount);
  EXPECT_EQ(rig.model.table.driveRecords[15].driveNumber, 15);
  int stops = 0;
  for (const auto& call : rig.service.calls) stops += call.command == 8;
  EXPECT_EQ(stops, kSlotCount);
}

TEST(ScanDrives, HidMismatchStartsTheWaitOnce) {
  struct Case {
    int hidPanels;
    bool alreadyWaiting;
    int waits;
  };
  for (auto [hidPanels, alreadyWaiting, waits] :
       {Case{2, false, 1}, Case{1, false, 0}, Case{2, true, 0}, Case{0, false, 1}}) {
    Rig rig;
    rig.service.panels[1] = {1, Drive(1, kNotSiliconImageHost, 0)};
    rig.system.hidPanels = hidPanels;
    rig.model.waitingForPanels = alreadyWaiting;
    rig.model.ScanDrives(false);
    EXPECT_EQ(rig.hooks.panelWaits, waits) << hidPanels << " panels";
    EXPECT_EQ(rig.model.showAtStart, waits == 1);
  }
}

TEST(ScanDrives, SataHostWithoutFilterAsksToRestartAndRegistersTheFilterWhereAllowed) {
  for (bool yes : {false, true}) {
    for (bool mayRegister : {true, false}) {
      Rig rig;
      rig.hooks.answerYes = yes;
      rig.hooks.mayRegisterSataFilter = mayRegister;
      rig.service.panels[0] = {1, Drive(0, kSiliconImageWithoutFilter, 0)};
      rig.system.hidPanels = 1;
      EXPECT_EQ(rig.model.ScanDrives(false), 0);
      EXPECT_EQ(rig.hooks.restartQuestions, 1);
      const std::vector<std::int32_t> commands = rig.service.Commands();
      EXPECT_EQ(std::count(commands.begin(), commands.end(), 3), mayRegister ? 1 : 0)
          << "answer " << yes << ", registration allowed " << mayRegister;
      EXPECT_EQ(rig.hooks.ends, 1);
      EXPECT_EQ(rig.hooks.restarts, yes ? 1 : 0);
      EXPECT_FALSE(rig.model.restartQuestionOpen);
    }
  }
}

TEST(ScanDrives, TheToolsSessionNeverRegistersTheFilterUnlessAsked) {
  TerminalHooks hooks(false);
  hooks.out = std::tmpfile();
  ASSERT_NE(hooks.out, nullptr);
  EXPECT_FALSE(hooks.MayRegisterSataFilter());
  hooks.registerSataFilter = true;
  EXPECT_TRUE(hooks.MayRegisterSataFilter());
  std::fclose(hooks.out);
}

// A watcher rescans the same drive again and again; its log carries the question and the hint
// once, and a scan that meets no such drive prints nothing at all.
TEST(ScanDrives, TheToolsSessionTellsOfTheRestartOnce) {
  for (bool sataHost : {false, true}) {
    TerminalHooks hooks(false);
    hooks.out = std::tmpfile();
    ASSERT_NE(hooks.out, nullptr);
    testing::Rig rig;
    rig.service.panels[0] = {
        1, Drive(0, sataHost ? kSiliconImageWithoutFilter : kNotSiliconImageHost, 0)};
    rig.system.hidPanels = 1;
    LcdModel model(
        ModelPorts{rig.service, rig.profile, rig.files, rig.system, rig.renderer, hooks});
    for (int scan = 0; scan < 3; ++scan) model.ScanDrives(false);
    std::rewind(hooks.out);
    std::string printed;
    for (int c; (c = std::fgetc(hooks.out)) != EOF;) printed += static_cast<char>(c);
    std::fclose(hooks.out);
    const std::string question = StringUtf8(3010, SystemLanguage());
    auto count = [&printed](const std::string& what) {
      int n = 0;
      for (auto at = printed.find(what); at != std::string::npos; at = printed.find(what, at + 1))
        ++n;
      return n;
    };
    EXPECT_EQ(count(question), sataHost ? 1 : 0) << printed;
    EXPECT_EQ(count("--register-sata-filter"), sataHost ? 1 : 0) << printed;
    const std::vector<std::int32_t> commands = rig.service.Commands();
    EXPECT_EQ(std::count(commands.begin(), commands.end(), 3), 0) << "no filter registered";
  }
}

TEST(ScanDrives, ServiceLostMidScanReturnsMinusOneAndKeepsWhatWasFound) {
  Rig rig;
  rig.service.panels[0] = {1, Drive(0, kBridgePlain)};
  rig.service.panels[6] = {1, Drive(6, kBridgePlain)};
  rig.model.table.driveRecords[1].driveNumber = 17;
  rig.model.table.driveRecords[1].totalMB = 77;
  rig.service.reachableCalls = 3;  // command 1 for drives 0, 1 and 2
  EXPECT_EQ(rig.model.ScanDrives(true), -1);
  EXPECT_EQ(rig.model.table.driveRecords[0].driveNumber, 0);
  EXPECT_EQ(rig.model.table.driveRecords[1].driveNumber, 17) << "slots not reached keep content";
  EXPECT_EQ(rig.model.table.driveRecords[1].totalMB, 77u);
  EXPECT_EQ(rig.service.Commands(), (std::vector<std::int32_t>{1, 1, 1, 1}))
      << "the scan stops at the first unreachable answer and asks nothing more";
}

TEST(WorkerScan, ReportsCountMismatchAndSataHost) {
  Rig rig;
  rig.service.panels[3] = {1, Drive(3, kBridgePlain)};
  rig.service.panels[8] = {1, Drive(8, kSiliconImageWithoutFilter, 0)};
  rig.system.hidPanels = 2;
  ScanResult result = rig.model.WorkerScan();
  EXPECT_EQ(result.count, 2);
  EXPECT_TRUE(result.hidMismatch);
  EXPECT_TRUE(result.sataHostFound);
  EXPECT_FALSE(rig.model.scanBusy);
  EXPECT_EQ(rig.service.Commands(), std::vector<std::int32_t>(32, 1)) << "no 8, no load";
  ASSERT_EQ(result.drives.size(), 2u);
  EXPECT_EQ(result.drives[1].driveNumber, 8);
  EXPECT_EQ(rig.model.table.driveRecords[0].driveNumber, kEmptyDriveNumber)
      << "the table is only written when the report is applied";
}

TEST(WorkerScan, AServiceLostMidScanEndsItAndTheListKeepsItsDrives) {
  Rig rig;
  rig.service.panels[3] = {1, Drive(3, kBridgePlain)};
  rig.service.panels[9] = {1, Drive(9, kBridgePlain)};
  rig.system.hidPanels = 1;
  rig.model.HandleScanReport(rig.model.WorkerScan(), false);
  ASSERT_EQ(rig.model.table.driveCount, 2);
  rig.service.calls.clear();
  rig.service.reachableCalls = 5;  // drives 0 to 4 answer, 5 finds the service gone
  ScanResult result = rig.model.WorkerScan();
  EXPECT_TRUE(result.serviceUnreachable);
  EXPECT_EQ(rig.service.calls.size(), 6u) << "nothing is asked after the first unreachable answer";
  EXPECT_EQ(result.count, 0);
  EXPECT_FALSE(result.hidMismatch);
  // A scan that could not ask says nothing about the drives: the list stays as it was.
  EXPECT_FALSE(rig.model.HandleScanReport(result, false));
  EXPECT_EQ(rig.model.table.driveCount, 2);
  EXPECT_EQ(rig.model.table.driveRecords[1].driveNumber, 9);
}

TEST(WorkerScan, AutomaticScansLeaveSleepingListedDisksAlone) {
  Rig rig;
  rig.service.panels[3] = {1, Drive(3, kBridgePlain)};
  rig.service.panels[5] = {1, Drive(5, kBridgePlain)};
  rig.service.panels[9] = {1, Drive(9, kBridgePlain)};
  rig.system.hidPanels = 0;
  // Search Device: every drive is examined, and its report applied.
  rig.model.HandleScanReport(rig.model.WorkerScan(), false);
  rig.model.table.driveRecords[1].temperature = 41;  // drive 5, as the last read left it
  rig.service.asleep = {5, 12};
  rig.service.calls.clear();
  ScanResult result = rig.model.WorkerScan(true);
  EXPECT_EQ(result.count, 3);
  rig.model.HandleScanReport(result, true);
  std::vector<std::int32_t> examined, asked;
  for (const auto& call : rig.service.calls) {
    (call.command == 1 ? examined : asked).push_back(call.driveNumber);
  }
  EXPECT_EQ(asked, (std::vector<std::int32_t>{3, 5, 9})) << "only listed drives are asked";
  EXPECT_EQ(std::count(examined.begin(), examined.end(), 5), 0);
  EXPECT_EQ(std::count(examined.begin(), examined.end(), 12), 1) << "unknown: examined";
  EXPECT_EQ(rig.model.table.driveRecords[1].driveNumber, 5);
  EXPECT_EQ(rig.model.table.driveRecords[1].temperature, 41) << "its record is kept";
}

TEST(HandleScanReport, EmptiesLaterSlotsAndReloadsConfigurations) {
  Rig rig;
  rig.service.panels[3] = {1, Drive(3, kBridgePlain, 1, kFsXfs)};
  rig.model.table.driveCount = 2;
  rig.model.table.driveRecords[1].driveNumber = 9;
  rig.model.table.selectedDrive = 1;
  rig.model.table.screenConfigs[1].rotation = 90;
  ScanResult result = rig.model.WorkerScan();
  rig.model.HandleScanReport(result, true);
  EXPECT_EQ(rig.model.table.driveCount, 1);
  EXPECT_EQ(rig.model.table.selectedDrive, -1);
  EXPECT_EQ(rig.model.table.driveRecords[1].driveNumber, kEmptyDriveNumber);
  EXPECT_EQ(rig.model.table.screenConfigs[1].rotation, 0) << "a device change zeroes them";
  EXPECT_EQ(FieldUtf8(rig.model.table.screenConfigs[0].line1), "TV Rec Disk");

  // A device change that leaves the count as it was changes nothing.
  rig.model.table.screenConfigs[0].rotation = 180;
  EXPECT_FALSE(rig.model.HandleScanReport(rig.model.WorkerScan(), true));
  EXPECT_EQ(rig.model.table.screenConfigs[0].rotation, 180);
}

TEST(HandleScanReport, ADeviceChangeWithTheSameCountButOtherDrivesIsApplied) {
  struct Case {
    const char* name;
    std::int32_t driveNumber;
    const char* serial;
    bool applied;
  };
  const Case cases[] = {
      {"same drive", 3, "WD-WCC4M1234567", false},
      {"another disk in the same bay", 3, "S2H7J9AB123456", true},
      {"another drive number", 4, "WD-WCC4M1234567", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Rig rig;
    rig.service.panels[3] = {1, Drive(3, kBridgePlain, 1, kFsXfs)};
    rig.model.HandleScanReport(rig.model.WorkerScan(), false);
    ASSERT_EQ(rig.model.table.driveCount, 1);
    rig.model.table.screenConfigs[0].rotation = 180;

    DriveRecord next = Drive(c.driveNumber, kBridgePlain, 1, kFsXfs);
    SetField(next.serialNumber, std::string_view(c.serial));
    rig.service.panels.clear();
    rig.service.panels[c.driveNumber] = {1, next};
    EXPECT_EQ(rig.model.HandleScanReport(rig.model.WorkerScan(), true), c.applied);
    EXPECT_EQ(rig.model.table.screenConfigs[0].rotation, c.applied ? 0 : 180)
        << "another drive gets its own configuration, not the old drive's";
    EXPECT_EQ(rig.model.table.driveRecords[0].driveNumber, c.driveNumber);
    EXPECT_EQ(FieldUtf8(rig.model.table.driveRecords[0].serialNumber), c.serial);
  }
}

}  // namespace
}  // namespace kuv
