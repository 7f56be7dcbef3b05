#include "app/model/bitmap_page.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "app/model/test_fakes.h"

namespace kuv {
namespace {

using testing::Drive;
using testing::TempDir;

class RecordingBitmapHooks : public BitmapPageHooks {
 public:
  std::vector<int> messages;
  std::vector<std::string> choices;  // answers of the open-file dialog, in turn
  int dialogs = 0;
  void ShowMessage(int stringId) override { messages.push_back(stringId); }
  std::optional<std::string> ChooseBmpFile() override {
    ++dialogs;
    if (choices.empty()) return std::nullopt;
    std::string next = choices.front();
    choices.erase(choices.begin());
    return next;
  }
};

std::vector<std::uint8_t> ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteAll(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

BmpImage Stripes() {
  BmpImage image;
  for (std::size_t i = 0; i < image.bits.size(); ++i) image.bits[i] = (i / 12) % 2 ? 0xF0 : 0x0F;
  return image;
}

// A drive on a temporary volume in slot 0, selected, with the bitmap tab open.
struct BitmapRig {
  TempDir volume, data;
  testing::FakeService service;
  MemoryProfileStore profile;
  testing::FaultyVolumeFiles files;
  testing::FakeSystem system;
  testing::StampRenderer renderer;
  testing::RecordingHooks hooks;
  RecordingBitmapHooks pageHooks;
  LcdModel model{ModelPorts{service, profile, files, system, renderer, hooks, &page}};
  BitmapPage page{model.table, service,   files,
                  renderer,    pageHooks, {data.path() + "/tmp/", data.path() + "/share"}};

  explicit BitmapRig(DriveRecord drive) {
    std::filesystem::create_directories(data.path() + "/tmp");
    SetField(drive.driveLetter, std::string_view(volume.path()));
    drive.totalMB = 1000;
    model.table.driveRecords[0] = drive;
    model.table.driveCount = 1;
    model.table.selectedDrive = 0;
    model.table.currentTab = kBitmapTab;
    model.table.workingConfig.warningTemp = 50;
  }
  std::string File(const std::string& name, const std::vector<std::uint8_t>& bytes) {
    const std::string path = data.path() + "/" + name;
    WriteAll(path, bytes);
    return path;
  }
  std::string DriveImage() const { return volume.path() + "/TAVIO_LCDMANAGER/LCD_IMAGE.BMP"; }
};

std::vector<std::uint8_t> WithField(std::vector<std::uint8_t> bytes, std::size_t at,
                                    std::uint16_t value) {
  bytes[at] = static_cast<std::uint8_t>(value);
  bytes[at + 1] = static_cast<std::uint8_t>(value >> 8);
  return bytes;
}

TEST(BitmapPage, UpdateLcdStoresThePictureSendsItAndSaves) {
  BitmapRig rig(Drive(4, kBridgePlain, 1));
  rig.page.LoadFromConfiguration();
  const std::string chosen = rig.File("logo.bmp", EncodeBmp(Stripes()));
  rig.page.TakeFile(chosen);
  rig.model.UpdateLcd();

  // The files replace their old versions by renaming, so only the folder is asked for.
  EXPECT_EQ(rig.service.Commands(), (std::vector<std::int32_t>{5, 2, 5}));
  EXPECT_EQ(ReadAll(rig.DriveImage()), EncodeBmp(Stripes()));
  EXPECT_EQ(rig.model.table.screenConfigs[0].lcdDataType, kLcdBitmap);
  EXPECT_EQ(FieldUtf8(rig.model.table.screenConfigs[0].bmpFileName), chosen);
  const Raster expected = ComposeBitmapRaster(Stripes(), rig.model.table.driveRecords[0],
                                              rig.model.table.screenConfigs[0], {});
  ASSERT_EQ(rig.service.sentSlots.size(), 1u);
  EXPECT_EQ(rig.service.sentSlots[0][4], expected[0]);
  EXPECT_EQ(rig.service.sentSlots[0][64 * 50 + 4 + 3], expected[50 * 12 + 3]);
  EXPECT_EQ(rig.model.table.raster, expected);
  EXPECT_TRUE(rig.pageHooks.messages.empty());
  EXPECT_EQ(rig.page.storeError, 0);

  // A full volume keeps the previous picture and says so to callers that report it.
  rig.files.failWritesWith = ENOSPC;
  rig.page.TakeFile(rig.File("other.bmp", EncodeBmp(DefaultBmpImage())));
  EXPECT_EQ(rig.page.StoreImageOnDrive(), ENOSPC);
  EXPECT_EQ(ReadAll(rig.DriveImage()), EncodeBmp(Stripes()));
}

// The service gone since its last answer: a bridge panel keeps its picture, and the drive keeps the
// stored picture and settings that describe it; an HID panel is written directly and stores both.
TEST(BitmapPage, AnUpdateTheServiceCannotTakeKeepsThePictureOnTheDrive) {
  for (bool bridge : {true, false}) {
    DriveRecord drive = Drive(4, bridge ? kBridgePlain : kNotSiliconImageHost, bridge ? 1 : 0);
    SetField(drive.hidPath, std::string_view("/dev/hidraw7"));
    BitmapRig rig(drive);
    rig.system.hidRefuseAt["/dev/hidraw7"] = -1;
    rig.page.LoadFromConfiguration();
    rig.page.TakeFile(rig.File("logo.bmp", EncodeBmp(Stripes())));
    ASSERT_TRUE(rig.model.UpdateLcd().saved);
    const auto settings = ReadAll(rig.volume.path() + "/TAVIO_LCDMANAGER/LCD_DATA.TXT");

    rig.service.down = true;
    rig.page.TakeFile(rig.File("other.bmp", EncodeBmp(DefaultBmpImage())));
    const SaveOutcome outcome = rig.model.UpdateLcd();
    EXPECT_EQ(outcome.panelNotUpdated, bridge);
    EXPECT_EQ(ReadAll(rig.DriveImage()), EncodeBmp(bridge ? Stripes() : DefaultBmpImage()))
        << bridge;
    EXPECT_EQ(ReadAll(rig.volume.path() + "/TAVIO_LCDMANAGER/LCD_DATA.TXT") == settings, bridge);
  }
}

// Update LCD renders the slot's text screen afresh for the half the picture leaves free; a text
// half left over from an earlier screen (0x3C here) must not reach the panel.
TEST(BitmapPage, HalfScreenTakesTheSlotsTextScreenOnUpdate) {
  struct Case {
    std::int32_t area;
    std::size_t pictureByte, textByte;  // one byte of each half, top row first
  };
  const Case cases[] = {{kAreaUpper, 0, 1000}, {kAreaLower, 1000, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.area);
    BitmapRig rig(Drive(4, kBridgePlain, 3));  // panel model 3 takes rotation 0 unturned
    rig.page.LoadFromConfiguration();
    rig.page.TakeFile(rig.File("logo.bmp", EncodeBmp(Stripes())));
    rig.page.SelectArea(c.area);
    rig.renderer.rendered.clear();
    rig.model.table.imageRaster.fill(0x3C);
    rig.model.UpdateLcd();
    EXPECT_EQ(rig.renderer.rendered, std::vector<int>{0});
    EXPECT_EQ(rig.model.table.raster[c.pictureByte], Stripes().bits[c.pictureByte]);
    EXPECT_EQ(rig.model.table.raster[c.textByte], 0xA0);
  }
}

TEST(BitmapPage, VideoRecorderDisksKeepThePictureInTheDataFolder) {
  DriveRecord drive = Drive(4, kBridgePlain, 1, kFsXfs);
  SetField(drive.serialNumber, std::string_view("  ../../WD/X   "));
  BitmapRig rig(drive);
  rig.page.LoadFromConfiguration();
  EXPECT_FALSE(rig.page.imageSettingsEnabled);
  rig.page.TakeFile(rig.File("logo.bmp", EncodeBmp(Stripes())));
  rig.model.UpdateLcd();

  EXPECT_EQ(rig.service.Commands(), std::vector<std::int32_t>{2});
  EXPECT_FALSE(std::filesystem::exists(rig.volume.path() + "/TAVIO_LCDMANAGER"));
  const std::string stored = rig.page.paths().DataDir() + ".._.._WD_XLCD_IMAGE.BMP";
  EXPECT_EQ(rig.page.DriveImagePath(rig.model.table.driveRecords[0]), stored);
  EXPECT_EQ(ReadAll(stored), EncodeBmp(Stripes()));
}

TEST(BitmapPage, RejectedFilesKeepThePreviousPicture) {
  BitmapRig rig(Drive(4, kBridgePlain, 1));
  rig.page.LoadFromConfiguration();
  const std::string fetched = rig.page.imagePath;
  const std::vector<std::uint8_t> good = EncodeBmp(Stripes());
  struct Case {
    const char* name;
    std::vector<std::uint8_t> bytes;
    int message;
  } cases[] = {
      {"small.bmp", WithField(good, 18, 95), kWrongSizeMessage},
      {"grey.bmp", WithField(good, 28, 8), kTwoColoursMessage},
      {"photo.jpg", {0xFF, 0xD8, 0xFF, 0xE0}, kWrongSizeMessage},
  };
  for (const Case& c : cases) {
    rig.pageHooks.messages.clear();
    rig.page.TakeFile(rig.File(c.name, c.bytes));
    EXPECT_EQ(rig.pageHooks.messages, std::vector<int>{c.message}) << c.name;
    EXPECT_EQ(rig.page.imagePath, fetched) << c.name;
    EXPECT_EQ(rig.page.displayName, "") << c.name;
    EXPECT_EQ(FieldUtf8(rig.model.table.workingConfig.bmpFileName), "") << c.name;
  }
  const std::string chosen = rig.File("logo.bmp", good);
  rig.page.TakeFile(chosen);
  rig.page.TakeFile(rig.File("small.bmp", cases[0].bytes));
  EXPECT_EQ(rig.page.displayName, chosen);
  EXPECT_EQ(rig.page.imagePath, chosen);
  EXPECT_EQ(FieldUtf8(rig.model.table.workingConfig.bmpFileName), chosen);
  rig.page.TakeFile(rig.data.path() + "/missing.bmp");
  EXPECT_EQ(rig.page.imagePath, chosen);
}

TEST(BitmapPage, DroppedFilesAreCheckedOnAnyTabAndTheLastOneWins) {
  BitmapRig rig(Drive(4, kBridgePlain, 1));
  rig.page.LoadFromConfiguration();
  rig.model.table.currentTab = 0;
  const std::string first = rig.File("a.bmp", EncodeBmp(Stripes()));
  const std::string second = rig.File("b.bmp", EncodeBmp(DefaultBmpImage()));
  const std::string bad = rig.File("c.bmp", WithField(EncodeBmp(Stripes()), 22, 97));
  rig.page.DropFiles({first, second, bad});
  EXPECT_EQ(rig.page.imagePath, second);
  EXPECT_EQ(rig.pageHooks.messages, std::vector<int>{kWrongSizeMessage});
}

TEST(BitmapPage, FetchCopiesTheDrivesPictureOrTheDefault) {
  BitmapRig rig(Drive(4, kBridgePlain, 1));
  rig.page.FetchDriveImage();
  EXPECT_EQ(rig.page.imagePath, rig.page.TemporaryCopyPath());
  EXPECT_EQ(ReadAll(rig.page.TemporaryCopyPath()), EncodeBmp(DefaultBmpImage()));
  // Windows keeps the copy private by its folder's access list, which has no modes to check.
  if (std::filesystem::path::preferred_separator == '/') {
    EXPECT_EQ(std::filesystem::status(rig.page.TemporaryCopyPath()).permissions(),
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write)
        << "a copy of a drive's picture is the user's alone";
  }

  std::filesystem::create_directories(rig.volume.path() + "/TAVIO_LCDMANAGER");
  BmpImage whiteFirst = Stripes();
  whiteFirst.colours = {{{255, 255, 255}, {0, 0, 0}}};
  WriteAll(rig.DriveImage(), EncodeBmp(whiteFirst));
  rig.page.FetchDriveImage();
  EXPECT_EQ(ReadAll(rig.page.TemporaryCopyPath()), EncodeBmp(whiteFirst));

  // Another user's copy in the shared folder cannot be replaced and must not be used.
  std::filesystem::remove(rig.page.TemporaryCopyPath());
  std::filesystem::create_directory(rig.page.TemporaryCopyPath());
  rig.page.FetchDriveImage();
  EXPECT_EQ(rig.page.imagePath, rig.page.paths().DataDir() + kImageFileName);
  EXPECT_EQ(ReadAll(rig.page.imagePath), EncodeBmp(whiteFirst));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(rig.data.path() + "/tmp"), {}), 1)
      << "the refused copy left no temporary behind";
}

TEST(BitmapPage, APictureLinkedFromTheStickIsNeitherCopiedNorWrittenThrough) {
  BitmapRig rig(Drive(4, kBridgePlain, 1));
  const std::string own = rig.File("private.bmp", EncodeBmp(Stripes()));
  std::filesystem::create_directories(rig.volume.path() + "/TAVIO_LCDMANAGER");
  std::error_code linkError;
  std::filesystem::create_symlink(own, rig.DriveImage(), linkError);
  if (linkError) GTEST_SKIP() << "this system makes no symbolic links: " << linkError.message();
  rig.page.FetchDriveImage();
  EXPECT_EQ(ReadAll(rig.page.imagePath), EncodeBmp(DefaultBmpImage()));
  rig.page.TakeFile(rig.File("chosen.bmp", EncodeBmp(DefaultBmpImage())));
  EXPECT_EQ(rig.page.StoreImageOnDrive(), 0);
  EXPECT_FALSE(std::filesystem::is_symlink(rig.DriveImage()));
  EXPECT_EQ(ReadAll(own), EncodeBmp(Stripes()));
}

TEST(BitmapPage, BadDrivePictureOffersBrowseAndKeepsTheRaster) {
  BitmapRig rig(Drive(4, kBridgePlain, 1));
  std::filesystem::create_directories(rig.volume.path() + "/TAVIO_LCDMANAGER");
  WriteAll(rig.DriveImage(), WithField(EncodeBmp(Stripes()), 28, 24));
  rig.model.table.raster.fill(0x77);
  rig.page.PreparePanelRaster(0);
  EXPECT_EQ(rig.pageHooks.messages, std::vector<int>{kTwoColoursMessage});
  EXPECT_EQ(rig.pageHooks.dialogs, 1);
  EXPECT_EQ(rig.model.table.raster[0], 0x77);

  std::filesystem::remove(rig.DriveImage());
  rig.page.PreparePanelRaster(0);
  EXPECT_EQ(rig.pageHooks.dialogs, 1);
  EXPECT_EQ(rig.model.table.raster[0], 0x77);
}

TEST(BitmapPage, LoadFromConfigurationFollowsTheWorkingCopyAndTheLayout) {
  struct Case {
    std::int32_t fileSystemType;
    bool settings;
  } cases[] = {{kFsNtfs, true}, {kFsFat32, false}, {kFsXfs, false},
               {kFsExt, false}, {kFsExfat, true},  {kFsOtherReadWrite, true}};
  for (const Case& c : cases) {
    BitmapRig rig(Drive(4, kBridgePlain, 1, c.fileSystemType));
    ScreenConfig& working = rig.model.table.workingConfig;
    working.bmpWB = 1;
    working.bmpRotation = 180;
    working.bmpPreviewRotation = 1;
    working.bmpAreaRatio = kAreaLower;
    SetField(working.bmpFileName, std::string_view("/home/u/logo.bmp"));
    rig.page.LoadFromConfiguration();
    EXPECT_EQ(rig.page.imageSettingsEnabled, c.settings) << c.fileSystemType;
    EXPECT_EQ(rig.page.RotatePreviewEnabled(), c.settings) << c.fileSystemType;
    EXPECT_TRUE(rig.page.reverseChecked);
    EXPECT_EQ(rig.page.RotationIndex(), 2);
    EXPECT_TRUE(rig.page.rotatePreviewChecked);
    EXPECT_EQ(rig.page.areaIndex, kAreaLower);
    EXPECT_EQ(rig.page.displayName, "/home/u/logo.bmp");
    rig.page.SelectRotation(0);
    EXPECT_FALSE(rig.page.RotatePreviewEnabled());
    EXPECT_EQ(working.bmpRotation, 0);
    EXPECT_TRUE(rig.page.browseEnabled);
    rig.page.EnablePage(false);
    EXPECT_EQ(rig.page.displayName, "");
    EXPECT_FALSE(rig.page.imageSettingsEnabled);
    EXPECT_FALSE(rig.page.browseEnabled);
  }
}

TEST(BitmapPage, PreviewFollowsTabDriveStateAndRotation) {
  BitmapRig rig(Drive(4, kBridgePlain, 1));
  rig.page.LoadFromConfiguration();
  BmpImage dot = DefaultBmpImage();
  dot.bits[20 * 12 + 1] = 0x7F;  // black dot at (8, 20)
  rig.page.TakeFile(rig.File("dot.bmp", EncodeBmp(dot)));
  EXPECT_EQ(rig.page.preview.at(8, 20), kBlack);
  rig.page.SelectRotation(1);
  EXPECT_EQ(rig.page.preview.at(8, 20), kBlack);  // rotate-preview still off
  rig.page.SetRotatePreview(true);
  EXPECT_EQ(rig.page.preview.at(75, 8), kBlack);
  rig.page.SetReverse(true);
  EXPECT_EQ(rig.page.preview.at(75, 8), kWhite);
  EXPECT_EQ(rig.model.table.workingConfig.bmpWB, 1);

  rig.model.table.currentTab = 0;
  EXPECT_FALSE(rig.page.DrawBitmapPreview());
  rig.model.table.currentTab = kBitmapTab;
  rig.model.table.driveRecords[0].totalMB = 0;
  EXPECT_TRUE(rig.page.DrawBitmapPreview());
  EXPECT_EQ(rig.page.preview, BlankBitmapPreview());
  rig.model.table.driveRecords[0].connectionState = kBridgeLocked;
  EXPECT_TRUE(rig.page.DrawBitmapPreview());
  int ink = 0;
  for (int y = 17; y < 17 + 48; ++y)
    for (int x = 24; x < 24 + 48; ++x) ink += rig.page.preview.at(x, y) == kBlack;
  EXPECT_GT(ink, 100);  // the padlock
}

TEST(BitmapPage, MinuteRefreshResendsBitmapScreens) {
  BitmapRig rig(Drive(4, kBridgePlain, 1));
  std::filesystem::create_directories(rig.volume.path() + "/TAVIO_LCDMANAGER");
  WriteAll(rig.DriveImage(), EncodeBmp(Stripes()));
  rig.model.table.screenConfigs[0].lcdDataType = kLcdBitmap;
  rig.model.MinuteRefresh();
  ASSERT_EQ(rig.service.sentSlots.size(), 1u);
  EXPECT_EQ(rig.model.table.raster,
            ComposeBitmapRaster(Stripes(), rig.model.table.driveRecords[0],
                                rig.model.table.screenConfigs[0], rig.model.table.imageRaster));
}

TEST(BitmapPage, ConvertedPictureIsStoredAsAStandardBmp) {
  BitmapRig rig(Drive(4, kBridgePlain, 1));
  rig.page.LoadFromConfiguration();
  const GreyImage photo{200, 100, std::vector<std::uint8_t>(200 * 100, 30)};
  ASSERT_TRUE(rig.page.UseConvertedPicture(ConvertPhoto(photo, {})));
  const std::string path = rig.page.paths().DataDir() + kConvertedFileName;
  EXPECT_EQ(rig.page.imagePath, path);
  const std::vector<std::uint8_t> bytes = ReadAll(path);
  ASSERT_EQ(bytes.size(), kBmpFileSize);
  EXPECT_EQ(DecodeBmp(bytes).image, ConvertPhoto(photo, {}));
}

}  // namespace
}  // namespace kuv
