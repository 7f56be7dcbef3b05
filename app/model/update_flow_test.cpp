#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>

#include "app/model/test_fakes.h"

namespace kuv {
namespace {

using testing::Drive;
using testing::Rig;
using testing::TempDir;

// A rig with one drive selected in slot 0 on a temporary volume.
struct UpdateRig : Rig {
  TempDir volume;
  explicit UpdateRig(DriveRecord drive) {
    SetField(drive.driveLetter, std::string_view(volume.path()));
    SetField(drive.hidPath, std::string_view("/dev/hidraw7"));
    model.table.driveRecords[0] = drive;
    model.table.driveCount = 1;
    model.table.selectedDrive = 0;
    SetField(model.table.workingConfig.line1, std::string_view("Hello"));
    model.table.workingConfig.warningTemp = 50;
  }
  bool Saved() const {
    return std::filesystem::exists(volume.path() + "/TAVIO_LCDMANAGER/LCD_DATA.TXT");
  }
};

TEST(UpdateLcd, BridgePanelSendsLineDataThenSaves) {
  UpdateRig rig(Drive(4, kBridgePlain, 1));
  rig.model.UpdateLcd();
  EXPECT_EQ(rig.service.Commands(), (std::vector<std::int32_t>{2, 5}));
  EXPECT_EQ(rig.service.calls[0].driveNumber, 4);
  EXPECT_EQ(rig.renderer.rendered, std::vector<int>{0});
  ASSERT_EQ(rig.service.sentSlots.size(), 1u);
  const auto& slots = rig.service.sentSlots[0];
  struct Case {
    std::size_t line;
    std::uint8_t address;
  };
  for (auto [line, address] : {Case{0, 0x80}, Case{1, 0x40}, Case{95, 0x06}}) {
    const std::uint8_t* slot = slots.data() + line * 64;
    EXPECT_EQ(slot[0], 0x4C);
    EXPECT_EQ(slot[1], 0x10);
    EXPECT_EQ(slot[2], 0x80);
    EXPECT_EQ(slot[3], address) << "line " << line;
    EXPECT_EQ(slot[4], 0xA0) << "raster bytes of the rendered slot";
    EXPECT_EQ(slot[15], 0xA0);
    EXPECT_EQ(slot[16], 0) << "the slot is zero behind its record";
  }
  EXPECT_TRUE(rig.Saved());
  EXPECT_EQ(FieldUtf8(rig.model.table.screenConfigs[0].line1), "Hello");
}

TEST(UpdateLcd, HidPanelGetsNinetySixReportsAndTheServiceOnlyTheSave) {
  UpdateRig rig(Drive(2, kNotSiliconImageHost, 0));
  rig.system.hidRefuseAt["/dev/hidraw7"] = -1;
  rig.model.UpdateLcd();
  EXPECT_EQ(rig.service.Commands(), std::vector<std::int32_t>{5});
  ASSERT_EQ(rig.system.hidReports.size(), 96u);
  const auto& first = rig.system.hidReports[0];
  EXPECT_EQ(first[0], 0) << "report id";
  EXPECT_EQ(first[1], 0x4C);
  EXPECT_EQ(first[4], 0x80);
  EXPECT_EQ(first[16], 0xA0);
  EXPECT_EQ(first[17], 0);
  EXPECT_EQ(first[64], 0);
  EXPECT_EQ(rig.system.hidReports[95][4], 0x06);
  EXPECT_EQ(rig.hooks.diagnostics.front(), "LineNo = 00 Written bytes = 65\n");
  EXPECT_TRUE(rig.Saved());
}

TEST(UpdateLcd, HidFailuresLeaveTheRestUnsentAndStillSave) {
  {
    UpdateRig rig(Drive(2, kNotSiliconImageHost, 0));
    rig.system.hidRefuseAt["/dev/hidraw7"] = 40;
    rig.model.UpdateLcd();
    EXPECT_EQ(rig.system.hidReports.size(), 40u) << "lines 41 to 96 are not sent";
    EXPECT_EQ(rig.hooks.diagnostics.back(), "WriteFile Error : device refused the report\n");
    EXPECT_TRUE(rig.Saved());
  }
  {
    UpdateRig rig(Drive(2, kNotSiliconImageHost, 0));
    rig.model.UpdateLcd();
    EXPECT_EQ(rig.hooks.diagnostics, std::vector<std::string>{"CreateFile for write failed.\n"});
    EXPECT_TRUE(rig.Saved());
  }
}

TEST(UpdateLcd, VideoRecorderDiskSendsOnlyLineDataAndSavesToTheProfile) {
  UpdateRig rig(Drive(6, kBridgePlain, 2, kFsXfs));
  rig.model.UpdateLcd();
  EXPECT_EQ(rig.service.Commands(), std::vector<std::int32_t>{2});
  EXPECT_EQ(rig.profile.ReadStringOr(u"WD-WCC4M1234567", u"line1", u""), u"Hello");
  EXPECT_FALSE(rig.Saved());
}

// Update LCD and the minute refresh by file system: a mounted Linux volume takes the NTFS road;
// a recorder's disk keeps its settings in the profile and its sizes as its sectors gave them.
TEST(UpdateLcd, AndTheMinuteRefreshByFileSystem) {
  struct Case {
    std::int32_t fsType;
    bool ordinary;
  };
  for (const Case& c : {Case{kFsNtfs, true}, Case{kFsOtherReadWrite, true}, Case{kFsXfs, false},
                        Case{kFsExt, false}}) {
    UpdateRig rig(Drive(4, kBridgePlain, 1, c.fsType));
    rig.model.UpdateLcd();
    const std::vector<std::int32_t> commands =
        c.ordinary ? std::vector<std::int32_t>{2, 5} : std::vector<std::int32_t>{2};
    EXPECT_EQ(rig.service.Commands(), commands) << c.fsType;
    EXPECT_EQ(rig.Saved(), c.ordinary) << c.fsType;
    EXPECT_EQ(rig.profile.writeLog().empty(), c.ordinary) << c.fsType;

    rig.model.table.driveRecords[0].freeMB = 100;
    rig.system.space = VolumeSpace{std::uint64_t{500} << 20, std::uint64_t{200} << 20};
    rig.model.MinuteRefresh();
    EXPECT_EQ(rig.model.table.driveRecords[0].freeMB, c.ordinary ? 200u : 100u) << c.fsType;
  }
}

TEST(UpdateLcd, LockedBridgePanelGetsNoPictureButTheSettingsAreSaved) {
  UpdateRig rig(Drive(4, kBridgeLocked, 1));
  rig.model.UpdateLcd();
  EXPECT_EQ(rig.service.Commands(), std::vector<std::int32_t>{5});
}

TEST(UpdateLcd, TabDecidesTheDataType) {
  struct Case {
    int tab;
    std::int32_t dataType;
    bool rendered;
  };
  for (auto [tab, dataType, rendered] :
       {Case{0, 0, true}, Case{3, 0, true}, Case{1, 2, false}, Case{2, 1, false}}) {
    UpdateRig rig(Drive(4, kBridgePlain, 1));
    rig.model.table.currentTab = tab;
    rig.model.UpdateLcd();
    EXPECT_EQ(rig.model.table.screenConfigs[0].lcdDataType, dataType) << "tab " << tab;
    EXPECT_EQ(rig.renderer.rendered.size(), rendered ? 1u : 0u) << "tab " << tab;
    EXPECT_TRUE(rig.Saved());
  }
}

TEST(UpdateLcd, DoesNothingWithoutADrive) {
  for (auto [count, selected] : {std::pair{0, 0}, std::pair{-1, 0}, std::pair{1, -1}}) {
    UpdateRig rig(Drive(4, kBridgePlain, 1));
    rig.model.table.driveCount = count;
    rig.model.table.selectedDrive = selected;
    rig.model.UpdateLcd();
    EXPECT_TRUE(rig.service.calls.empty());
  }
}

TEST(MinuteRefresh, TicksTimeLinesAndFollowsFreeSpace) {
  UpdateRig rig(Drive(4, kBridgePlain, 1));
  ScreenConfig& config = rig.model.table.screenConfigs[0];
  config.lineType2 = 5;
  SetField(config.line2, std::string_view("00:00"));
  rig.model.table.driveRecords[0].freeMB = 100;
  rig.system.space = VolumeSpace{std::uint64_t{500} << 20, std::uint64_t{200} << 20};
  rig.service.sectorsTotal = 1000;
  rig.service.sectorsFree = 400;
  rig.service.smartByte = 0x5A;
  rig.model.MinuteRefresh();
  EXPECT_EQ(FieldUtf8(config.line2), "09:05");
  EXPECT_EQ(rig.service.Commands(), (std::vector<std::int32_t>{2, 11, 12}));
  const DriveRecord& drive = rig.model.table.driveRecords[0];
  EXPECT_EQ(drive.totalMB, 500u);
  EXPECT_EQ(drive.freeMB, 200u);
  EXPECT_EQ(drive.totalSectors, 1000u);
  EXPECT_EQ(drive.freeSectors, 400u);
  EXPECT_EQ(drive.smartData[0], 0x5A);
  EXPECT_EQ(FieldUtf8(drive.friendlyName), "WDC WD20EZRX-00D8PB0") << "only the sizes are taken";

  // Same free space and automatic S.M.A.R.T. update off: nothing but the picture.
  rig.service.calls.clear();
  rig.model.autoUpdateFlag = 0;
  rig.model.MinuteRefresh();
  EXPECT_EQ(rig.service.Commands(), std::vector<std::int32_t>{2});
}

TEST(MinuteRefresh, UnreachableServiceKeepsTheSizes) {
  UpdateRig rig(Drive(4, kBridgePlain, 1));
  DriveRecord& drive = rig.model.table.driveRecords[0];
  drive.freeMB = 100;
  drive.totalSectors = 777;
  drive.smartData[0] = 0x11;
  rig.system.space = VolumeSpace{std::uint64_t{500} << 20, std::uint64_t{200} << 20};
  rig.service.reachableCalls = 0;
  rig.model.MinuteRefresh();
  EXPECT_EQ(drive.totalSectors, 777u);
  EXPECT_EQ(drive.smartData[0], 0x11);
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// Three bridge drives on their volumes, free space changed and automatic S.M.A.R.T. update on, so
// that every flow has several requests to make.
struct ShelfRig : Rig {
  TempDir volumes[3];
  ShelfRig() {
    for (int k = 0; k < 3; ++k) {
      DriveRecord drive = Drive(k + 1, kBridgePlain, 1);
      SetField(drive.driveLetter, std::string_view(volumes[k].path()));
      drive.freeMB = 100;
      service.panels[k + 1] = {1, drive};
      model.table.driveRecords[static_cast<std::size_t>(k)] = drive;
    }
    model.table.driveCount = 3;
    model.table.selectedDrive = 0;
    system.space = VolumeSpace{std::uint64_t{500} << 20, std::uint64_t{200} << 20};
  }
};

// Each flow is one pass: after its first request that finds the service gone it asks nothing more,
// and the next pass asks once, with a single try.
TEST(ServicePasses, EveryFlowStopsAskingAtItsFirstUnreachableRequest) {
  struct Flow {
    const char* name;
    std::function<void(LcdModel&)> run;
  };
  const Flow flows[] = {
      {"minute refresh", [](LcdModel& m) { m.MinuteRefresh(); }},
      {"update", [](LcdModel& m) { m.UpdateLcd(); }},
      {"start-up refresh", [](LcdModel& m) { m.StartupRefresh(); }},
      {"scan", [](LcdModel& m) { m.ScanDrives(false); }},
      {"background scan", [](LcdModel& m) { m.WorkerScan(); }},
  };
  for (const Flow& flow : flows) {
    ShelfRig rig;
    rig.service.down = true;
    flow.run(rig.model);
    EXPECT_EQ(rig.service.calls.size(), 1u) << flow.name;
    EXPECT_EQ(rig.service.tries, 10) << flow.name << ": the client's tries, once";
    rig.service.calls.clear();
    rig.service.tries = 0;
    flow.run(rig.model);
    EXPECT_EQ(rig.service.calls.size(), 1u) << flow.name << ", again";
    EXPECT_EQ(rig.service.tries, 1) << flow.name << ": a quiet retry";
  }
}

// Each size query waits on a worker thread, so the minute refresh asks for every volume at once;
// each drive takes its own volume's answer, and a QR panel's drive is not sized.
TEST(MinuteRefresh, AsksEveryVolumeInOneQueryAndEachDriveTakesItsOwn) {
  ShelfRig rig;
  rig.model.autoUpdateFlag = 0;
  for (int k = 0; k < 3; ++k) {
    rig.system.spaceAt[rig.volumes[k].path()] =
        VolumeSpace{std::uint64_t{900} << 20, static_cast<std::uint64_t>(k + 2) * 100 << 20};
  }
  rig.model.table.screenConfigs[1].lcdDataType = kLcdQr;
  rig.model.MinuteRefresh();
  EXPECT_EQ(rig.system.spaceQueries, 1);
  EXPECT_EQ(rig.system.spacePaths,
            (std::vector<std::string>{rig.volumes[0].path(), rig.volumes[2].path()}));
  EXPECT_EQ(rig.model.table.driveRecords[0].freeMB, 200u);
  EXPECT_EQ(rig.model.table.driveRecords[1].freeMB, 100u);
  EXPECT_EQ(rig.model.table.driveRecords[2].freeMB, 400u);
  EXPECT_EQ(rig.model.table.driveRecords[2].totalMB, 900u);
}

TEST(ServicePasses, TheMinuteRefreshAsksAGoneServiceFirstAndCarriesOnWhenItIsBack) {
  ShelfRig rig;
  rig.model.autoUpdateFlag = 0;
  rig.service.down = true;
  rig.model.MinuteRefresh();
  rig.service.calls.clear();
  rig.service.down = false;
  rig.model.MinuteRefresh();
  // The sizes the gone service could not give are asked for again.
  EXPECT_EQ(rig.service.Commands(), (std::vector<std::int32_t>{0, 2, 2, 2, 11, 11, 11}));
  EXPECT_TRUE(rig.service.link.reachable());
  // While it answers there is no extra request.
  rig.service.calls.clear();
  rig.model.MinuteRefresh();
  EXPECT_EQ(rig.service.Commands(), (std::vector<std::int32_t>{2, 2, 2}));
}

TEST(UpdateLcd, APanelTheServiceCannotReachKeepsTheDrivesFilesAndSaysSo) {
  struct Case {
    const char* name;
    DriveRecord drive;
    bool knownGone;  // an earlier request found the service gone
    std::vector<std::int32_t> commands;
  };
  const Case cases[] = {
      {"bridge panel", Drive(4, kBridgePlain, 1), false, {2}},
      {"bridge panel, service known gone", Drive(4, kBridgePlain, 1), true, {0}},
      {"recorder disk", Drive(6, kBridgePlain, 2, kFsXfs), false, {2}},
  };
  for (const Case& c : cases) {
    UpdateRig rig(c.drive);
    rig.model.UpdateLcd();  // the settings as they are on the drive
    const std::string file = rig.volume.path() + "/TAVIO_LCDMANAGER/LCD_DATA.TXT";
    const bool onDrive = !IsVideoRecorderDisk(c.drive.fileSystemType);
    ASSERT_EQ(std::filesystem::exists(file), onDrive) << c.name;
    const std::u16string profileLine = rig.profile.ReadStringOr(u"WD-WCC4M1234567", u"line1", u"");
    const ScreenConfig slotBefore = rig.model.table.screenConfigs[0];
    const std::string fileBefore = ReadAll(file);

    SetField(rig.model.table.workingConfig.line1, std::string_view("Changed"));
    rig.service.down = true;
    if (c.knownGone) rig.service.Ping();
    rig.service.calls.clear();
    const SaveOutcome outcome = rig.model.UpdateLcd();
    EXPECT_TRUE(outcome.panelNotUpdated) << c.name;
    EXPECT_FALSE(outcome.saved) << c.name;
    EXPECT_EQ(rig.service.Commands(), c.commands) << c.name;
    EXPECT_EQ(ReadAll(file), fileBefore) << c.name;
    EXPECT_EQ(rig.profile.ReadStringOr(u"WD-WCC4M1234567", u"line1", u""), profileLine) << c.name;
    EXPECT_EQ(std::memcmp(&rig.model.table.screenConfigs[0], &slotBefore, sizeof slotBefore), 0)
        << c.name << ": the slot keeps what the panel shows";
    EXPECT_EQ(FieldUtf8(rig.model.table.workingConfig.line1), "Changed") << "the edit stays";
  }
}

TEST(UpdateLcd, AnHidPanelIsWrittenWithoutTheServiceAndSavedWhereTheFolderIsThere) {
  for (bool folderThere : {true, false}) {
    UpdateRig rig(Drive(2, kNotSiliconImageHost, 0));
    rig.system.hidRefuseAt["/dev/hidraw7"] = -1;
    if (folderThere) std::filesystem::create_directory(rig.volume.path() + "/TAVIO_LCDMANAGER");
    rig.service.down = true;
    const SaveOutcome outcome = rig.model.UpdateLcd();
    EXPECT_EQ(rig.system.hidReports.size(), 96u);
    EXPECT_FALSE(outcome.panelNotUpdated);
    EXPECT_TRUE(outcome.serviceUnreachable);
    EXPECT_EQ(outcome.saved, folderThere);
    EXPECT_EQ(rig.Saved(), folderThere);
  }
}

TEST(SendRaster, APanelThatCannotTakeAPictureIsToldOnceUntilItTakesOneAgain) {
  UpdateRig rig(Drive(2, kNotSiliconImageHost, 0));
  for (int minute = 0; minute < 3; ++minute) rig.model.SendRaster(0);
  ASSERT_EQ(rig.hooks.unreached.size(), 1u);
  EXPECT_EQ(rig.hooks.unreached[0], "the panel /dev/hidraw7 cannot be opened: no such device");
  rig.system.hidRefuseAt["/dev/hidraw7"] = 3;
  rig.model.SendRaster(0);
  ASSERT_EQ(rig.hooks.unreached.size(), 2u) << "another reason is told";
  EXPECT_EQ(rig.hooks.unreached[1],
            "the panel /dev/hidraw7 refused line 4: device refused the report");
  rig.system.hidRefuseAt["/dev/hidraw7"] = -1;
  rig.model.SendRaster(0);
  rig.model.SendRaster(0);
  EXPECT_EQ(rig.hooks.reachedAgain, 1);
  EXPECT_EQ(rig.hooks.unreached.size(), 2u);
}

}  // namespace
}  // namespace kuv
