#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "app/model/lcd_data_file.h"
#include "app/model/qsettings_profile_store.h"
#include "app/model/test_fakes.h"

namespace kuv {
namespace {

using testing::Drive;
using testing::Rig;
using testing::TempDir;

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteAll(const std::string& path, std::string_view bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

std::string Utf16Le(std::string_view ascii) {
  std::string bytes;
  for (char c : ascii) bytes += {c, '\0'};
  return bytes;
}

// One drive in slot 0, selected, whose volume is mounted at mountPoint.
void PutDrive(Rig& rig, const std::string& mountPoint, std::int32_t fileSystemType) {
  DriveRecord drive = Drive(3, kBridgePlain, 1, fileSystemType);
  SetField(drive.driveLetter, std::string_view(mountPoint));
  rig.model.table.driveRecords[0] = drive;
  rig.model.table.driveCount = 1;
  rig.model.table.selectedDrive = 0;
  rig.model.table.clock = rig.system.clock;
}

// A rig with one NTFS drive in slot 0 whose volume is a temporary directory.
struct DriveRig : Rig {
  TempDir volume;
  std::string folder = volume.path() + "/TAVIO_LCDMANAGER";
  explicit DriveRig(std::int32_t fileSystemType = kFsNtfs) {
    PutDrive(*this, volume.path(), fileSystemType);
  }
  ScreenConfig& slot() { return model.table.screenConfigs[0]; }
};

// A tmpfs mounted on a temporary directory where the test may mount one, else the directory.
struct ScratchVolume {
  TempDir dir;
  bool mounted = ::geteuid() == 0 &&
                 ::mount("tmpfs", dir.path().c_str(), "tmpfs", 0, "size=4m,mode=0755") == 0;
  ~ScratchVolume() {
    if (mounted) ::umount2(dir.path().c_str(), MNT_DETACH);
  }
  const std::string& path() const { return dir.path(); }
};

// A stick another user prepared: its drive in slot 0, and the victim's private files beside it.
struct HostileRig : Rig {
  ScratchVolume volume;
  TempDir home;
  std::string folder = volume.path() + "/TAVIO_LCDMANAGER";
  std::string secret = home.path() + "/secret.txt";
  HostileRig() {
    PutDrive(*this, volume.path(), kFsFat32);
    WriteAll(secret, "private notes");
  }
  ScreenConfig& slot() { return model.table.screenConfigs[0]; }
};

// A FAT32 image mounted through a loop device, where the machine allows it.
struct FatVolume {
  TempDir dir;
  std::string image = dir.path() + "/fat32.img";
  std::string mountPoint = dir.path() + "/mnt";
  std::string why;
  bool mounted = false;
  FatVolume() {
    if (::geteuid() != 0) {
      why = "needs root to mount an image";
      return;
    }
    std::filesystem::create_directory(mountPoint);
    std::ofstream(image).close();
    std::filesystem::resize_file(image, 40 << 20);
    if (std::system(("mkfs.fat -F 32 -n KUVTEST " + image + " >/dev/null 2>&1").c_str()) != 0) {
      why = "mkfs.fat is not installed";
      return;
    }
    if (std::system(("mount -o loop " + image + " " + mountPoint + " >/dev/null 2>&1").c_str()) !=
        0) {
      why = "this machine cannot loop-mount a FAT32 image (no loop device or no vfat)";
      return;
    }
    mounted = true;
  }
  ~FatVolume() {
    if (mounted) ::umount2(mountPoint.c_str(), MNT_DETACH);
  }
};

TEST(DriveFolderPath, BuiltFromTheMountPoint) {
  struct Case {
    const char* driveLetter;
    std::optional<std::string> folder;
  };
  for (const auto& [driveLetter, folder] :
       {Case{"/media/tray", "/media/tray/TAVIO_LCDMANAGER"},
        Case{"/media/tray/", "/media/tray/TAVIO_LCDMANAGER"}, Case{"/", "/TAVIO_LCDMANAGER"},
        Case{"-", std::nullopt}, Case{"", std::nullopt}, Case{"E:", std::nullopt}}) {
    DriveRecord drive{};
    SetField(drive.driveLetter, std::string_view(driveLetter));
    EXPECT_EQ(DriveFolderPath(drive), folder) << driveLetter;
  }
}

TEST(LoadScreenConfig, AMissingFileGivesTheDefaultsAtOnce) {
  struct Case {
    std::int32_t fileSystemType;
    bool folder;
    const char* line1;
    const char* line2;
    std::vector<std::string> reads;
  };
  for (const auto& c :
       {Case{kFsNtfs, false, "BACKUP", "WDC WD20EZRX-", {}},
        Case{kFsFat32, false, "BACKUP", "WDC WD20EZR", {}},
        Case{kFsNtfs, true, "BACKUP", "WDC WD20EZRX-", {"LCD_DATA.TXT", "QR_DATA.TXT"}}}) {
    DriveRig rig(c.fileSystemType);
    if (c.folder) std::filesystem::create_directory(rig.folder);
    rig.slot().rotation = 180;
    rig.slot().warningTemp = 0;
    rig.model.table.lcdDataFound[0] = true;
    rig.model.LoadScreenConfig(0);
    std::vector<std::string> reads;
    for (const auto& path : rig.files.reads) reads.push_back(path.substr(rig.folder.size() + 1));
    EXPECT_EQ(reads, c.reads) << "a missing file is not asked for again";
    EXPECT_EQ(rig.system.pauses, 0);
    EXPECT_FALSE(rig.model.table.lcdDataFound[0]);
    EXPECT_EQ(FieldUtf8(rig.slot().line1), c.line1);
    EXPECT_EQ(FieldUtf8(rig.slot().line2), c.line2);
    EXPECT_EQ(rig.slot().showHddStatus, 1);
    EXPECT_EQ(rig.slot().rotation, 180) << "nothing else is touched";
    EXPECT_EQ(rig.slot().warningTemp, 50);
  }
}

TEST(LoadScreenConfig, OnlyFailuresThatMayPassAreTriedAgain) {
  struct Case {
    std::vector<int> readErrors;  // LCD_DATA.TXT's reads fail with these first
    int pauses;
    bool loaded;
  };
  for (const auto& c :
       {Case{{}, 0, true}, Case{{ENOENT}, 0, false}, Case{{EACCES}, 0, false},
        Case{{EPERM}, 0, false}, Case{{ELOOP}, 0, false}, Case{{EFBIG}, 0, false},
        Case{{EIO}, 1, true}, Case{{EINTR, EBUSY, EAGAIN}, 3, true},
        Case{{EIO, EIO, EIO, EIO, EIO}, 5, true}, Case{{EIO, EIO, EIO, EIO, EIO, EIO}, 5, false}}) {
    DriveRig rig;
    std::filesystem::create_directory(rig.folder);
    WriteAll(rig.folder + "/LCD_DATA.TXT", Utf16Le("[DATA1]Stored\n"));
    rig.files.readErrors["LCD_DATA.TXT"] = c.readErrors;
    rig.model.LoadScreenConfig(0);
    const std::string what = c.readErrors.empty() ? "none" : std::to_string(c.readErrors[0]);
    EXPECT_EQ(rig.system.pauses, c.pauses) << what;
    EXPECT_EQ(FieldUtf8(rig.slot().line1), c.loaded ? "Stored" : "BACKUP") << what;
    EXPECT_EQ(rig.model.table.lcdDataFound[0], c.loaded) << what;
    EXPECT_EQ(rig.files.folderOpens.size(), 1u) << "the folder is opened once: " << what;
  }
}

TEST(LoadScreenConfig, ADriveWithoutAVolumeGetsTheDefaultsAtOnce) {
  DriveRig rig;
  SetField(rig.model.table.driveRecords[0].driveLetter, std::string_view("-"));
  rig.model.LoadScreenConfig(0);
  EXPECT_TRUE(rig.files.reads.empty());
  EXPECT_EQ(rig.system.pauses, 0);
  EXPECT_EQ(FieldUtf8(rig.slot().line1), "BACKUP");
}

TEST(LoadScreenConfig, WarningTemperatureIsClampedToItsRange) {
  struct Case {
    const char* value;
    std::int32_t expected;
  };
  for (auto [value, expected] : {Case{"95", 50}, Case{"0", 50}, Case{"-5", 50}, Case{"80", 80},
                                 Case{"1", 1}, Case{"81", 50}}) {
    DriveRig rig;
    std::filesystem::create_directory(rig.folder);
    WriteAll(rig.folder + "/LCD_DATA.TXT", Utf16Le(std::string("[WARNINGTEMP]") + value + "\n"));
    rig.model.LoadScreenConfig(0);
    EXPECT_EQ(rig.slot().warningTemp, expected) << value;
    EXPECT_EQ(rig.system.pauses, 0);
  }
}

TEST(LoadScreenConfig, ReadsTheQrTextBesideTheSettings) {
  DriveRig rig;
  std::filesystem::create_directory(rig.folder);
  WriteAll(rig.folder + "/QR_DATA.TXT", "first\r\nsecond\r\n");
  rig.model.LoadScreenConfig(0);
  EXPECT_EQ(FieldView(rig.slot().qrText), u"first\r\nsecond");
}

TEST(SaveScreenConfig, WritesBothFiles) {
  DriveRig rig;
  SetField(rig.slot().line1, std::string_view("Hello"));
  SetField(rig.slot().qrText, std::string_view("q1\r\nq2"));
  rig.slot().eccValue = 2;
  rig.slot().cellPitch = 1;
  std::filesystem::create_directory(rig.folder);
  WriteAll(rig.folder + "/LCD_DATA.TXT", "old settings");
  SaveOutcome outcome = rig.model.SaveScreenConfig();
  EXPECT_TRUE(outcome.saved);
  // The rename replaces the old files; the service only makes the folder.
  EXPECT_EQ(rig.service.Commands(), std::vector<std::int32_t>{5});
  EXPECT_EQ(rig.service.calls[0].path, rig.folder);
  EXPECT_EQ(ReadAll(rig.folder + "/LCD_DATA.TXT"),
            EncodeLcdData(rig.model.table.driveRecords[0], rig.slot(), 2, 1));
  EXPECT_EQ(ReadAll(rig.folder + "/QR_DATA.TXT"), "q1\r\nq2");
  // Nothing but the two files is left in the folder.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(rig.folder), {}), 2);
}

TEST(SaveScreenConfig, AFullVolumeKeepsTheOldFilesAndReports1080) {
  DriveRig rig;
  std::filesystem::create_directory(rig.folder);
  WriteAll(rig.folder + "/LCD_DATA.TXT", "old settings");
  WriteAll(rig.folder + "/QR_DATA.TXT", "old qr");
  rig.files.failWritesWith = ENOSPC;
  SaveOutcome outcome = rig.model.SaveScreenConfig();
  EXPECT_FALSE(outcome.saved);
  EXPECT_EQ(outcome.lcdDataError, ENOSPC);
  EXPECT_EQ(rig.hooks.errors, std::vector<int>{1080});
  EXPECT_EQ(ReadAll(rig.folder + "/LCD_DATA.TXT"), "old settings");
  EXPECT_EQ(ReadAll(rig.folder + "/QR_DATA.TXT"), "old qr");
  EXPECT_EQ(rig.service.Commands(), std::vector<std::int32_t>{5}) << "no delete without a new file";
}

TEST(SaveScreenConfig, ARefusedRenameNeverLosesTheSettings) {
  struct Case {
    std::vector<int> commitErrors;  // LCD_DATA.TXT's commits, then QR_DATA.TXT's
    std::int32_t serviceResultExpected;
    std::vector<std::int32_t> commands;
    const char* lcdData;  // "old", "new" or "gone"
    bool saved;
  };
  for (const auto& c : {
           // Any rename failure leaves the old file; the temporary goes.
           Case{{EXDEV}, 0, {5}, "old", false},
           Case{{EBUSY, EBUSY}, 0, {5}, "old", false},
           // A file the user may not replace: the service deletes it and the rename is retried.
           Case{{EACCES}, 1, {5, 7}, "new", true},
           Case{{EPERM}, 1, {5, 7}, "new", true},
           // The retry fails too: the settings stay in memory, reported, and nothing is left.
           Case{{EACCES, EACCES}, 1, {5, 7}, "gone", false},
       }) {
    DriveRig rig;
    std::filesystem::create_directory(rig.folder);
    WriteAll(rig.folder + "/LCD_DATA.TXT", "old settings");
    rig.files.commitErrors = c.commitErrors;
    rig.files.commitErrors.resize(2, 0);  // QR_DATA.TXT commits normally unless told
    SaveOutcome outcome = rig.model.SaveScreenConfig();
    const std::string what = std::to_string(c.commitErrors.front());
    EXPECT_EQ(outcome.saved, c.saved) << what;
    EXPECT_EQ(rig.hooks.errors, c.saved ? std::vector<int>{} : std::vector<int>{1080}) << what;
    EXPECT_EQ(rig.service.Commands(), c.commands) << what;
    const std::string lcdData = rig.folder + "/LCD_DATA.TXT";
    const std::string newBytes = EncodeLcdData(rig.model.table.driveRecords[0], rig.slot(), 1, 2);
    if (std::string_view(c.lcdData) == "old") {
      EXPECT_EQ(ReadAll(lcdData), "old settings") << what;
    } else if (std::string_view(c.lcdData) == "new") {
      EXPECT_EQ(ReadAll(lcdData), newBytes) << what;
    } else if (std::string_view(c.lcdData) == "gone") {
      EXPECT_FALSE(std::filesystem::exists(lcdData)) << what;
    }
    int temps = 0;
    for (const auto& entry : std::filesystem::directory_iterator(rig.folder)) {
      if (entry.path().filename().string().starts_with("LCD_DATA.TXT.")) ++temps;
    }
    EXPECT_EQ(temps, 0) << what;
  }
}

TEST(SaveScreenConfig, RemovesTemporariesACrashLeftBehind) {
  DriveRig rig;
  std::filesystem::create_directory(rig.folder);
  for (const char* name : {"LCD_DATA.TXT.a1B2c3", "QR_DATA.TXT.zzzzzz"}) {
    const std::string path = rig.folder + "/" + name;
    WriteAll(path, "half a save");
    std::filesystem::last_write_time(
        path, std::filesystem::file_time_type::clock::now() - std::chrono::hours(1));
  }
  ASSERT_TRUE(rig.model.SaveScreenConfig().saved);
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(rig.folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"LCD_DATA.TXT", "QR_DATA.TXT"}));
}

TEST(SaveScreenConfig, NothingIsWrittenWhenTheFolderCannotBeMade) {
  DriveRig rig;
  SetField(rig.model.table.driveRecords[0].driveLetter,
           std::string_view(rig.volume.path() + "/missing"));
  SaveOutcome outcome = rig.model.SaveScreenConfig();
  EXPECT_FALSE(outcome.saved);
  EXPECT_TRUE(rig.hooks.errors.empty());
  EXPECT_EQ(rig.service.Commands(), std::vector<std::int32_t>{5});
}

// Where a drive's settings live by file system: on its volume like NTFS, a mounted Linux volume
// too; only a recorder's disk keeps them in the profile, and starts from "TV Rec Disk".
TEST(SettingsStore, OnTheVolumeOrInTheProfileByFileSystem) {
  struct Case {
    std::int32_t fsType;
    bool onVolume;
    const char* line1;
  };
  for (const Case& c : {Case{kFsNtfs, true, "BACKUP"}, Case{kFsFat32, true, "BACKUP"},
                        Case{kFsExfat, true, "BACKUP"}, Case{kFsOtherReadWrite, true, "BACKUP"},
                        Case{kFsXfs, false, "TV Rec Disk"}, Case{kFsExt, false, "TV Rec Disk"}}) {
    DriveRig rig(c.fsType);
    rig.model.LoadScreenConfig(0);
    EXPECT_EQ(FieldUtf8(rig.slot().line1), c.line1) << c.fsType;
    SetField(rig.slot().line3, std::string_view("Shelf 4"));
    EXPECT_TRUE(rig.model.SaveScreenConfig().saved) << c.fsType;
    EXPECT_EQ(std::filesystem::exists(rig.folder + "/LCD_DATA.TXT"), c.onVolume) << c.fsType;
    EXPECT_EQ(rig.profile.writeLog().empty(), c.onVolume) << c.fsType;
  }
}

TEST(HostileVolume, LinksInTheFolderAreNeitherReadNorWrittenThrough) {
  HostileRig rig;
  std::filesystem::create_directory(rig.folder);
  std::filesystem::create_symlink(rig.secret, rig.folder + "/QR_DATA.TXT");
  const std::string homeSettings = rig.home.path() + "/settings";
  WriteAll(homeSettings, Utf16Le("[DATA1]FromHome\n[ROTATION]2\n"));
  std::filesystem::create_symlink(homeSettings, rig.folder + "/LCD_DATA.TXT");
  rig.model.LoadScreenConfig(0);
  EXPECT_EQ(FieldUtf8(rig.slot().qrText), "") << "the private file is no QR text";
  EXPECT_EQ(FieldUtf8(rig.slot().line1), "BACKUP");
  EXPECT_EQ(rig.slot().rotation, 0);
  EXPECT_EQ(rig.system.pauses, 0);

  // An ordinary save puts files of its own where the links were.
  SetField(rig.slot().line1, std::string_view("hello"));
  ASSERT_TRUE(rig.model.SaveScreenConfig().saved);
  for (const char* name : {"/LCD_DATA.TXT", "/QR_DATA.TXT"}) {
    EXPECT_TRUE(
        std::filesystem::is_regular_file(std::filesystem::symlink_status(rig.folder + name)))
        << name;
  }
  EXPECT_EQ(ReadAll(rig.folder + "/QR_DATA.TXT"), "");
  EXPECT_EQ(ReadAll(rig.secret), "private notes");
  EXPECT_EQ(ReadAll(homeSettings), Utf16Le("[DATA1]FromHome\n[ROTATION]2\n"));
}

TEST(HostileVolume, AFolderLinkedToTheUsersOwnIsNeitherReadNorWritten) {
  HostileRig rig;
  const std::string own = rig.home.path() + "/TAVIO_LCDMANAGER";
  std::filesystem::create_directory(own);
  WriteAll(own + "/LCD_DATA.TXT", Utf16Le("[DATA1]FromHome\n"));
  WriteAll(own + "/QR_DATA.TXT", "home qr");
  std::filesystem::create_directory_symlink(own, rig.folder);
  rig.model.LoadScreenConfig(0);
  EXPECT_EQ(FieldUtf8(rig.slot().line1), "BACKUP");
  EXPECT_EQ(FieldUtf8(rig.slot().qrText), "");
  EXPECT_EQ(rig.system.pauses, 0);
  EXPECT_FALSE(rig.model.SaveScreenConfig().saved);
  EXPECT_EQ(ReadAll(own + "/LCD_DATA.TXT"), Utf16Le("[DATA1]FromHome\n"));
  EXPECT_EQ(ReadAll(own + "/QR_DATA.TXT"), "home qr");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(own), {}), 2);
}

TEST(FatVolume, SettingsRoundTripAndWhatAVolumeCanHoldIsHandled) {
  FatVolume fat;
  if (!fat.mounted) GTEST_SKIP() << fat.why;
  Rig rig;
  PutDrive(rig, fat.mountPoint, kFsFat32);
  const std::string folder = fat.mountPoint + "/TAVIO_LCDMANAGER";
  ScreenConfig& slot = rig.model.table.screenConfigs[0];
  // A folder under the QR file's name: it can be neither read nor replaced.
  std::filesystem::create_directories(folder + "/QR_DATA.TXT/inside");
  SetField(slot.line1, std::string_view("Hello"));
  SetField(slot.qrText, std::string_view("qr"));
  ASSERT_TRUE(rig.model.SaveScreenConfig().saved);
  EXPECT_EQ(ReadAll(folder + "/LCD_DATA.TXT"),
            EncodeLcdData(rig.model.table.driveRecords[0], slot, slot.eccValue, slot.cellPitch));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), {}), 2)
      << "no temporary is left beside the files";
  slot = InitialSlotConfig();
  rig.model.LoadScreenConfig(0);
  EXPECT_EQ(FieldUtf8(slot.line1), "Hello");
  EXPECT_EQ(FieldUtf8(slot.qrText), "");
  EXPECT_TRUE(rig.model.table.lcdDataFound[0]);

  // A file where the folder should be: nothing is written, the defaults come at once.
  std::filesystem::remove_all(folder);
  WriteAll(folder, "not a folder");
  EXPECT_FALSE(rig.model.SaveScreenConfig().saved);
  EXPECT_EQ(ReadAll(folder), "not a folder");
  rig.model.LoadScreenConfig(0);
  EXPECT_EQ(FieldUtf8(slot.line1), "BACKUP");
  EXPECT_EQ(rig.system.pauses, 0);
}

TEST(ProfileSettings, VideoRecorderDiskRoundTripsThroughItsSerialSection) {
  DriveRig rig(kFsXfs);
  ScreenConfig& config = rig.slot();
  SetField(config.line1, std::string_view("Recorder"));
  SetField(config.line4, std::string_view("Shelf 3"));
  config.whiteBlackColor = 1;
  config.rotation = 90;
  config.warningTemp = 45;
  config.showWarningTemp = 1;
  config.lineReverse2 = 1;
  config.lineReverse5 = 1;
  config.lcdDataType = 2;
  EXPECT_TRUE(rig.model.SaveScreenConfig().saved);
  EXPECT_TRUE(rig.service.calls.empty()) << "the drive itself is not written";
  EXPECT_EQ(rig.profile.writeLog(),
            (std::vector<std::u16string>{
                u"modelNumber", u"line1", u"line2", u"line3", u"line4", u"line5", u"bmpfilename",
                u"whiteBlackColor", u"showHddStatus", u"rotation", u"previewRotation",
                u"showWarningTemp", u"warningTemp", u"WBCLINES", u"lcddatatype"}));
  EXPECT_EQ(rig.profile.ReadIntOr(u"WD-WCC4M1234567", u"WBCLINES", 0), 0b10010);

  rig.model.table.screenConfigs[0] = InitialSlotConfig();
  rig.model.LoadScreenConfig(0);
  EXPECT_EQ(FieldUtf8(config.line1), "Recorder");
  EXPECT_EQ(FieldUtf8(config.line4), "Shelf 3");
  EXPECT_EQ(config.whiteBlackColor, 1);
  EXPECT_EQ(config.rotation, 90);
  EXPECT_EQ(config.warningTemp, 45);
  EXPECT_EQ(config.lineReverse2, 1);
  EXPECT_EQ(config.lineReverse3, 0);
  EXPECT_EQ(config.lcdDataType, 2);
  EXPECT_TRUE(rig.files.reads.empty());
}

TEST(ProfileSettings, AProfileThatCannotBeWrittenIsReported) {
  struct Case {
    std::u16string failWriteOf;
    bool failFlush;
  };
  for (const auto& c :
       {Case{u"", true}, Case{u"modelNumber", false}, Case{u"lcddatatype", false}}) {
    DriveRig rig(kFsXfs);
    rig.profile.failWriteOf = c.failWriteOf;
    rig.profile.failFlush = c.failFlush;
    SaveOutcome outcome = rig.model.SaveScreenConfig();
    EXPECT_FALSE(outcome.saved) << Utf16ToUtf8(c.failWriteOf);
    EXPECT_TRUE(outcome.profileError);
    EXPECT_EQ(rig.hooks.errors, std::vector<int>{1080});
    EXPECT_EQ(rig.profile.writeLog().size(), 15u) << "every value is still tried";
  }
}

TEST(ProfileSettings, AnotherModelUnderTheSameSerialFallsBackToTheDefaults) {
  DriveRig rig(kFsXfs);
  SetField(rig.slot().line1, std::string_view("Recorder"));
  rig.model.SaveScreenConfig();
  SetField(rig.model.table.driveRecords[0].friendlyName, std::string_view("ST4000DM004-2CV1"));
  SetField(rig.model.table.driveRecords[0].fileSystem, std::string_view("XFS"));
  rig.model.LoadScreenConfig(0);
  EXPECT_EQ(FieldUtf8(rig.slot().line1), "TV Rec Disk");
  EXPECT_EQ(FieldUtf8(rig.slot().line2), "ST4000DM004-2");
  EXPECT_EQ(FieldUtf8(rig.slot().line3), "XFS");
  EXPECT_EQ(rig.slot().warningTemp, 50);
  EXPECT_EQ(rig.slot().showHddStatus, 1);
}

TEST(ProfileSettings, QSettingsStoreKeepsSectionsAndKinds) {
  TempDir dir;
  std::string ini = dir.path() + "/profile.conf";
  {
    QSettingsProfileStore store(ini);
    EXPECT_TRUE(store.WriteString(u"WD-1 2", u"line1", u"日本 text"));
    EXPECT_TRUE(store.WriteInt(u"WD-1 2", u"warningTemp", 45));
    EXPECT_TRUE(store.WriteInt(u"SETTING", u"SMART_AUTOUPDATE", 0));
    EXPECT_TRUE(store.Flush());
  }
  QSettingsProfileStore store(ini);
  EXPECT_EQ(store.ReadString(u"WD-1 2", u"line1"), u"日本 text");
  EXPECT_EQ(store.ReadInt(u"WD-1 2", u"warningTemp"), 45);
  EXPECT_EQ(store.ReadInt(u"SETTING", u"SMART_AUTOUPDATE"), 0);
  EXPECT_EQ(store.ReadInt(u"WD-1 2", u"line1"), std::nullopt);
  EXPECT_EQ(store.ReadString(u"other", u"line1"), std::nullopt);
}

TEST(ProfileSettings, QSettingsStoreReportsAProfileItCannotWrite) {
  TempDir dir;
  // A file where the profile's folder should be: the values cannot be made durable.
  WriteAll(dir.path() + "/config", "not a folder");
  QSettingsProfileStore store(dir.path() + "/config/TAVIO/KuvLcdManager.conf");
  store.WriteString(u"WD-1", u"line1", u"text");
  EXPECT_FALSE(store.Flush());
}

}  // namespace
}  // namespace kuv
