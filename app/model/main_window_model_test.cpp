#include "app/model/main_window_model.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>

#include "app/model/test_fakes.h"

namespace kuv {
namespace {

using testing::Drive;

struct CountingView : WindowView {
  int shown = 0;
  std::vector<std::u16string> errors;
  void ShowState() override { ++shown; }
  void ShowError(const std::u16string& message) override { errors.push_back(message); }
};

// The window's model on fakes, with the drives the service answers.
struct WindowRig {
  testing::FakeService service;
  MemoryProfileStore profile;
  testing::FaultyVolumeFiles files;
  testing::FakeSystem system;
  testing::StampRenderer renderer;
  MainWindowModel window{Language::kEnglish};
  LcdModel model{ModelPorts{service, profile, files, system, renderer, window}};
  TextPageModel text{model.table, Language::kEnglish};
  CountingView view;

  WindowRig() {
    window.Attach(model, text);
    window.SetView(&view);
  }
  void Answer(const DriveRecord& drive) { service.panels[drive.driveNumber] = {1, drive}; }
  InitOutcome Start() {
    return window.Initialise([] { return true; });
  }
};

DriveRecord DriveWith(std::int32_t number, std::int32_t state, std::int32_t fsType) {
  return Drive(number, state, 1, fsType);
}

TEST(MainWindowStart, ServiceUnreachableEndsBeforeThePages) {
  WindowRig rig;
  rig.service.reachableCalls = 0;
  bool pagesMade = false;
  EXPECT_EQ(rig.window.Initialise([&] { return pagesMade = true; }),
            InitOutcome::kServiceUnreachable);
  EXPECT_FALSE(pagesMade);
}

TEST(MainWindowStart, PagesThatCannotBeMadeEndTheProgram) {
  WindowRig rig;
  EXPECT_EQ(rig.window.Initialise([] { return false; }), InitOutcome::kPagesFailed);
}

TEST(MainWindowStart, SelectsRowZeroAndSendsEveryTextScreenButQrAndRecorderDisks) {
  WindowRig rig;
  rig.Answer(DriveWith(0, kBridgePlain, kFsNtfs));
  rig.Answer(DriveWith(1, kBridgePlain, kFsXfs));
  rig.Answer(DriveWith(2, kBridgePlain, kFsFat32));
  rig.Answer(DriveWith(3, kBridgePlain, kFsOtherReadWrite));
  ASSERT_EQ(rig.Start(), InitOutcome::kRunning);
  EXPECT_EQ(rig.model.table.driveCount, 4);
  ASSERT_EQ(rig.window.rows.size(), 4u);
  EXPECT_EQ(rig.window.selectedRow, 0);
  EXPECT_EQ(rig.model.table.selectedDrive, 0);
  // Every slot but the XFS recorder disk's is composed and sent, a mounted Linux volume too.
  EXPECT_EQ(rig.renderer.rendered, (std::vector<int>{0, 2, 3}));
  EXPECT_EQ(rig.service.sentSlots.size(), 3u);
  EXPECT_TRUE(rig.window.pages.updateEnabled);
}

TEST(MainWindowStart, NoDrivesLeavesEverythingDisabled) {
  WindowRig rig;
  ASSERT_EQ(rig.Start(), InitOutcome::kRunning);
  EXPECT_TRUE(rig.window.rows.empty());
  EXPECT_FALSE(rig.window.pages.updateEnabled);
  EXPECT_FALSE(rig.window.pages.textPageEnabled);
  EXPECT_FALSE(rig.text.view.controlsEnabled);
}

// The page-state rule: Update LCD and the pages by file system, lock state and tab.
TEST(PageState, ByFileSystemConnectionAndTab) {
  struct Case {
    std::int32_t fsType;
    std::int32_t state;
    int tab;
    bool update;
    bool textPage;
    bool qrPage;
  };
  const Case cases[] = {
      {kFsNtfs, kBridgePlain, kTabText, true, true, true},
      {kFsNtfs, kBridgePlain, kTabSmart, false, true, true},
      {kFsNtfs, kBridgeLocked, kTabText, false, false, false},
      {kFsFat32, kBridgePlain, kTabQr, true, true, true},
      {kFsXfs, kBridgePlain, kTabQr, false, true, false},
      {kFsXfs, kBridgePlain, kTabText, true, true, false},
      {kFsExt, kBridgePlain, kTabSmart, false, true, false},
      {kFsFat32, kBridgePlain, kTabSmart, false, true, true},
      {kFsExfat, kNotSiliconImageHost, kTabBitmap, true, true, true},
      {kFsUnknown, kBridgePlain, kTabText, false, false, false},
      // Another file system mounted read-write: an ordinary drive, as NTFS.
      {kFsOtherReadWrite, kBridgePlain, kTabText, true, true, true},
      {kFsOtherReadWrite, kBridgeUnlocked, kTabQr, true, true, true},
      {kFsOtherReadWrite, kNotSiliconImageHost, kTabBitmap, true, true, true},
      {kFsOtherReadWrite, kBridgePlain, kTabSmart, false, true, true},
      {kFsOtherReadWrite, kBridgeLocked, kTabText, false, false, false},
  };
  for (const Case& c : cases) {
    WindowRig rig;
    rig.Answer(DriveWith(0, c.state, c.fsType));
    ASSERT_EQ(rig.Start(), InitOutcome::kRunning);
    rig.window.ChangeTab(c.tab);
    const std::string what = "fs " + std::to_string(c.fsType) + " state " +
                             std::to_string(c.state) + " tab " + std::to_string(c.tab);
    EXPECT_EQ(rig.window.pages.updateEnabled, c.update) << what;
    EXPECT_EQ(rig.window.pages.textPageEnabled, c.textPage) << what;
    EXPECT_EQ(rig.window.pages.qrPageEnabled, c.qrPage) << what;
  }
}

TEST(PageState, SmartTabDisablesUpdateForEveryFileSystem) {
  for (std::int32_t fsType = kFsUnknown; fsType <= kFsOtherReadWrite; ++fsType) {
    WindowRig rig;
    rig.Answer(DriveWith(0, kBridgePlain, fsType));
    ASSERT_EQ(rig.Start(), InitOutcome::kRunning);
    rig.window.ChangeTab(kTabSmart);
    EXPECT_FALSE(rig.window.pages.updateEnabled) << "fs " << fsType;
  }
}

TEST(SelectRow, SmartTabStaysAndKeepsUpdateDisabled) {
  WindowRig rig;
  rig.Answer(DriveWith(0, kBridgePlain, kFsNtfs));
  rig.Answer(DriveWith(3, kBridgePlain, kFsFat32));
  ASSERT_EQ(rig.Start(), InitOutcome::kRunning);
  rig.window.ChangeTab(kTabSmart);
  rig.window.SelectRow(1);
  EXPECT_EQ(rig.model.table.currentTab, kTabSmart);
  EXPECT_EQ(rig.model.table.selectedDrive, 1);
  EXPECT_FALSE(rig.window.pages.updateEnabled);
}

TEST(SelectRow, TabFollowsTheDrivesDataTypeAndLockedDriveDisablesPages) {
  WindowRig rig;
  rig.Answer(DriveWith(0, kBridgePlain, kFsNtfs));
  rig.Answer(DriveWith(1, kBridgeLocked, kFsNtfs));
  ASSERT_EQ(rig.Start(), InitOutcome::kRunning);
  rig.window.SelectRow(1);
  EXPECT_FALSE(rig.window.pages.updateEnabled);
  EXPECT_FALSE(rig.window.pages.textPageEnabled);
  EXPECT_FALSE(rig.window.pages.bitmapPageEnabled);
  rig.window.SelectRow(0);
  EXPECT_TRUE(rig.window.pages.updateEnabled);
  EXPECT_TRUE(rig.window.pages.textPageEnabled);
  EXPECT_EQ(rig.model.table.currentTab, kTabText);
}

// Selecting a drive whose file system is unknown must leave nothing that writes to it, even
// when no tab change follows to refresh the page states.
TEST(SelectRow, UnknownFileSystemDisablesUpdateWithoutATabChange) {
  for (std::int32_t dataType : {kLcdText, kLcdBitmap, kLcdQr}) {
    WindowRig rig;
    rig.Answer(DriveWith(0, kBridgePlain, kFsNtfs));
    rig.Answer(DriveWith(1, kBridgePlain, kFsUnknown));
    ASSERT_EQ(rig.Start(), InitOutcome::kRunning);
    ASSERT_TRUE(rig.window.pages.updateEnabled);
    rig.model.table.screenConfigs[1].lcdDataType = dataType;
    rig.window.SelectRow(1);
    EXPECT_EQ(rig.model.table.currentTab, TabForLcdDataType(dataType));
    EXPECT_FALSE(rig.window.pages.updateEnabled) << "data type " << dataType;
    EXPECT_FALSE(rig.window.pages.textPageEnabled || rig.window.pages.qrPageEnabled ||
                 rig.window.pages.bitmapPageEnabled)
        << "data type " << dataType;
    const std::size_t before = rig.service.calls.size();
    rig.window.UpdateLcdClicked();
    EXPECT_EQ(rig.service.calls.size(), before) << "data type " << dataType;
  }
}

// A drive whose stored line 2 shows the current value of its remembered attribute: once
// selected, that line's list offers the attribute's pair and has the item chosen.
TEST(SelectRow, ALineShowingAnAttributeFindsItInItsList) {
  WindowRig rig;
  DriveRecord withSmart = DriveWith(1, kBridgePlain, kFsNtfs);
  withSmart.smartData[2] = 0x01;
  withSmart.smartData[14] = 0xC2;
  rig.Answer(DriveWith(0, kBridgePlain, kFsNtfs));
  rig.Answer(withSmart);
  SmartPage smart(rig.model, rig.profile, rig.window, Language::kEnglish);
  rig.window.AttachSmartPage(&smart);
  ASSERT_EQ(rig.Start(), InitOutcome::kRunning);
  ScreenConfig& stored = rig.model.table.screenConfigs[1];
  stored.smartId0 = 1;
  stored.lineType2 = 7;
  stored.lineSmartIndex2 = 1;

  rig.window.SelectRow(1);
  const LineControls& line2 = rig.text.view.lines[1];
  ASSERT_EQ(line2.items.size(), 9u);
  EXPECT_EQ(line2.items[7], u"SMART C2 Current");
  EXPECT_EQ(line2.selectedItem, 7);
  EXPECT_EQ(rig.model.table.workingConfig.lineSmartIndex2, 1);
}

TEST(SelectRow, OutOfRangeRowsChangeNothing) {
  WindowRig rig;
  rig.Answer(DriveWith(0, kBridgePlain, kFsNtfs));
  ASSERT_EQ(rig.Start(), InitOutcome::kRunning);
  for (int row : {-1, 1, 16, 1000}) {
    rig.window.SelectRow(row);
    EXPECT_EQ(rig.model.table.selectedDrive, 0) << row;
  }
}

TEST(UpdateLcdClicked, DisabledButtonSendsNothing) {
  WindowRig rig;
  rig.Answer(DriveWith(0, kBridgePlain, kFsNtfs));
  ASSERT_EQ(rig.Start(), InitOutcome::kRunning);
  rig.window.ChangeTab(kTabSmart);
  const std::size_t before = rig.service.calls.size();
  rig.window.UpdateLcdClicked();
  EXPECT_EQ(rig.service.calls.size(), before);
}

TEST(UpdateLcdClicked, SendsTheWorkingCopyAndSavesIt) {
  WindowRig rig;
  testing::TempDir volume;
  DriveRecord drive = DriveWith(0, kBridgePlain, kFsNtfs);
  SetField(drive.driveLetter, std::string_view(volume.path()));
  rig.Answer(drive);
  ASSERT_EQ(rig.Start(), InitOutcome::kRunning);
  rig.text.LineEdited(1, u"Photos 2026");
  rig.window.UpdateLcdClicked();
  EXPECT_EQ(rig.service.FlowCommands(), (std::vector<std::int32_t>{2, 2, 5}))
      << "the start-up picture, the update's picture, then the folder for the save";
  EXPECT_EQ(FieldUtf8(rig.model.table.screenConfigs[0].line1), "Photos 2026");
  EXPECT_TRUE(std::filesystem::exists(volume.path() + "/TAVIO_LCDMANAGER/LCD_DATA.TXT"));
}

// Only an update that reached the panel and stored its settings is confirmed; a failure keeps
// the notice that tells of it.
TEST(UpdateLcdClicked, ConfirmsOnlyAnUpdateThatWentThrough) {
  struct Case {
    const char* name;
    SaveOutcome outcome;
    bool confirmed;
  };
  const Case cases[] = {
      {"sent and saved", {.saved = true}, true},
      {"nothing saved", {}, false},
      {"LCD_DATA.TXT not written", {.saved = true, .lcdDataError = 28}, false},
      {"profile refused", {.saved = true, .profileError = true}, false},
      {"service gone", {.serviceUnreachable = true, .panelNotUpdated = true}, false},
      {"tray written, service gone", {.saved = true, .serviceUnreachable = true}, false},
      {"panel refused the picture", {.saved = true, .panelRefused = true}, false},
  };
  for (const Case& c : cases) EXPECT_EQ(ConfirmsPanelUpdate(c.outcome), c.confirmed) << c.name;

  WindowRig rig;
  testing::TempDir volume;
  DriveRecord drive = DriveWith(0, kBridgePlain, kFsNtfs);
  SetField(drive.driveLetter, std::string_view(volume.path()));
  rig.Answer(drive);
  ASSERT_EQ(rig.Start(), InitOutcome::kRunning);
  EXPECT_EQ(rig.window.lastUpdate.count, 0);
  rig.window.UpdateLcdClicked();
  EXPECT_EQ(rig.window.lastUpdate.count, 1);
  EXPECT_TRUE(rig.window.lastUpdate.panelUpdated);
  rig.service.down = true;
  rig.window.UpdateLcdClicked();
  EXPECT_EQ(rig.window.lastUpdate.count, 2);
  EXPECT_FALSE(rig.window.lastUpdate.panelUpdated) << "the service line tells of it instead";
}

// A tray whose panel refuses a line keeps its old picture: no confirmation, though the settings
// are saved as before.
TEST(UpdateLcdClicked, APanelThatRefusesThePictureIsNotConfirmed) {
  WindowRig rig;
  testing::TempDir volume;
  DriveRecord drive = Drive(0, kBridgePlain, 0, kFsNtfs);
  SetField(drive.driveLetter, std::string_view(volume.path()));
  SetField(drive.hidPath, std::string_view("/dev/hidraw7"));
  rig.Answer(drive);
  rig.system.hidRefuseAt["/dev/hidraw7"] = 40;
  ASSERT_EQ(rig.Start(), InitOutcome::kRunning);
  rig.window.UpdateLcdClicked();
  EXPECT_EQ(rig.window.lastUpdate.count, 1);
  EXPECT_FALSE(rig.window.lastUpdate.panelUpdated);
  rig.system.hidRefuseAt["/dev/hidraw7"] = -1;
  rig.window.UpdateLcdClicked();
  EXPECT_TRUE(rig.window.lastUpdate.panelUpdated) << "the tray takes pictures again";
}

TEST(ReportError, FormatsTheNumberIntoString201) {
  WindowRig rig;
  rig.window.ReportError(1080, "No space left on device");
  ASSERT_EQ(rig.view.errors.size(), 1u);
  EXPECT_EQ(Utf16ToUtf8(rig.view.errors[0]),
            "Unexpected error. The error number is 1080.\nNo space left on device");
}

}  // namespace
}  // namespace kuv

namespace kuv {
namespace {

TEST(ChangeTab, OnlyTabsWithAPageCanBeCurrent) {
  WindowRig rig;
  rig.Answer(DriveWith(0, kBridgePlain, kFsNtfs));
  rig.window.SetAvailableTabs(1);
  ASSERT_EQ(rig.Start(), InitOutcome::kRunning);
  for (int tab : {kTabBitmap, kTabQr, kTabSmart, -1, 4}) {
    rig.window.ChangeTab(tab);
    EXPECT_EQ(rig.model.table.currentTab, kTabText) << tab;
  }
}

}  // namespace
}  // namespace kuv

namespace kuv {
namespace {

TEST(Autostart, BoxShowsTheEntryAndClicksSendCommandTen) {
  WindowRig rig;
  rig.system.autostart = true;
  ASSERT_EQ(rig.Start(), InitOutcome::kRunning);
  EXPECT_TRUE(rig.window.autostartChecked);
  rig.window.AutostartClicked(false);
  EXPECT_EQ(rig.service.autorun, std::optional<bool>(false));
  EXPECT_EQ(rig.service.Commands().back(), 10);
  // An unreachable service leaves the box as the user set it; the next start shows the truth.
  rig.service.reachableCalls = 0;
  rig.window.AutostartClicked(true);
  EXPECT_TRUE(rig.window.autostartChecked);
}

// Every flow reads a drive's settings once, and a drive never updated (no settings file) costs
// no pause: loads are counted by the settings folder's openings.
TEST(SettingsReads, EachFlowReadsADrivesSettingsOnceAndWaitsForNoMissingFile) {
  WindowRig rig;
  testing::TempDir first, second, temp;
  for (const auto& [number, volume] : {std::pair{0, &first}, std::pair{1, &second}}) {
    DriveRecord drive = DriveWith(number, kBridgePlain, kFsNtfs);
    SetField(drive.driveLetter, std::string_view(volume->path()));
    rig.Answer(drive);
  }
  std::filesystem::create_directory(second.path() + "/TAVIO_LCDMANAGER");
  QrPage qr(rig.model.table, rig.files, Language::kEnglish, temp.path() + "/");
  rig.window.AttachQrPage(&qr);
  auto loads = [&](const testing::TempDir& volume) {
    return std::count(rig.files.folderOpens.begin(), rig.files.folderOpens.end(),
                      volume.path() + "/TAVIO_LCDMANAGER");
  };
  struct Step {
    const char* flow;
    std::function<void()> run;
    long first, second;
  };
  const Step steps[] = {
      {"start", [&] { ASSERT_EQ(rig.Start(), InitOutcome::kRunning); }, 1, 1},
      {"selection", [&] { rig.window.SelectRow(1); }, 0, 1},
      {"list filled again after a scan", [&] { rig.window.FillList(); }, 0, 0},
      {"Search Device's report", [&] { rig.model.HandleScanReport(rig.model.WorkerScan(), false); },
       1, 1},
  };
  for (const Step& step : steps) {
    rig.files.folderOpens.clear();
    step.run();
    EXPECT_EQ(loads(first), step.first) << step.flow;
    EXPECT_EQ(loads(second), step.second) << step.flow;
    EXPECT_EQ(rig.system.pauses, 0) << step.flow;
  }
}

TEST(TrayMenu, TextsComeFromTheTableInMenuOrder) {
  MainWindowModel english(Language::kEnglish);
  std::vector<std::string> texts;
  for (const auto& t : english.TrayMenuTexts()) texts.push_back(Utf16ToUtf8(t));
  EXPECT_EQ(texts, (std::vector<std::string>{"LCD Manager", "Help", "About LCD Manager", "Exit"}));
  MainWindowModel japanese(Language::kJapanese);
  EXPECT_EQ(Utf16ToUtf8(japanese.TrayMenuTexts()[3]), "終了");
}

}  // namespace
}  // namespace kuv
