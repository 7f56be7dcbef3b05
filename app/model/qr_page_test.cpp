#include "app/model/qr_page.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "app/compose/bitmap_raster.h"
#include "app/model/test_fakes.h"
#include "common/utf16.h"

namespace kuv {
namespace {

using testing::Drive;
using testing::Rig;
using testing::TempDir;

// A model with one NTFS drive in slot 0 on a temporary volume, and the QR page over it.
struct QrRig : Rig {
  TempDir volume;
  TempDir temp;
  explicit QrRig(Language language = Language::kEnglish, bool withSettingsFile = true) {
    DriveRecord drive = Drive(3, kBridgePlain, 1);
    SetField(drive.driveLetter, std::string_view(volume.path()));
    model.table.driveRecords[0] = drive;
    model.table.driveCount = 1;
    model.table.selectedDrive = 0;
    if (withSettingsFile) {
      std::filesystem::create_directories(volume.path() + "/TAVIO_LCDMANAGER");
      WriteFileBytes(volume.path() + "/TAVIO_LCDMANAGER/LCD_DATA.TXT",
                     std::vector<std::uint8_t>{'x'}, nullptr);
    }
    model.LoadScreenConfig(0);
    ScreenConfig& stored = model.table.screenConfigs[0];
    SetField(stored.qrText, std::string_view("stored text"));
    stored.cellPitch = 1;
    stored.eccValue = 2;
    page = std::make_unique<QrPage>(model.table, files, language, temp.path() + "/");
    model.AttachQrPage(page.get());
  }
  std::unique_ptr<QrPage> page;
};

std::u16string Digits(int count) {
  return std::u16string(static_cast<std::size_t>(count), u'7');
}

TEST(QrPage, LoadsTheDriveSettingsOnlyWhenItsSettingsFileWasFound) {
  QrRig withFile;
  const std::size_t reads = withFile.files.reads.size();
  withFile.page->Start();
  EXPECT_EQ(withFile.files.reads.size(), reads) << "the slot's last load tells, without a read";
  EXPECT_EQ(withFile.page->qrInput(), u"stored text");
  EXPECT_EQ(withFile.page->cellSizeIndex(), 1);
  EXPECT_EQ(withFile.page->levelIndex(), 2);
  EXPECT_EQ(withFile.page->modeTable().capacityBits, 2936);

  QrRig without(Language::kEnglish, false);
  without.page->Start();
  EXPECT_EQ(without.page->qrInput(), u"");
  EXPECT_EQ(without.page->cellSizeIndex(), 0);
  EXPECT_EQ(without.page->levelIndex(), 1);
  EXPECT_FALSE(without.page->messageIsError());
}

TEST(QrPage, CellSizeSelectsItsLevelAndTheLevelCanChangeAfterwards) {
  QrRig rig;
  rig.page->SelectCellSize(1);
  EXPECT_EQ(rig.page->levelIndex(), 3);
  EXPECT_EQ(rig.page->ControlValues().cellPitch, 1);
  rig.page->SelectLevel(0);
  EXPECT_EQ(rig.page->ControlValues().eccValue, 0);
  EXPECT_EQ(rig.page->cellSizeIndex(), 1);
  rig.page->SelectCellSize(0);
  EXPECT_EQ(rig.page->levelIndex(), 1);
  EXPECT_EQ(rig.page->ControlValues().cellPitch, 2);
  EXPECT_EQ(rig.model.table.workingConfig.cellPitch, 2);
  EXPECT_EQ(rig.model.table.workingConfig.eccValue, 1);
}

TEST(QrPage, KeepsEightHundredCharactersAndCutsTheNext) {
  QrRig rig;
  const std::u16string full(800, u'a');
  EXPECT_FALSE(rig.page->TextChanged(full));
  EXPECT_EQ(rig.page->qrInput(), full);
  EXPECT_TRUE(rig.page->TextChanged(full + u"b"));
  EXPECT_EQ(rig.page->qrInput(), full);
  EXPECT_EQ(rig.page->CaretAfterRewrite(), 800u);
}

TEST(QrPage, ReplacesWideCharactersOutsideAJapaneseInterface) {
  const std::u16string typed = u"\u65e5\u672c\uff71\uff21\r\nok \u00e9";
  EXPECT_EQ(ApplyQrInputRules(typed, false), u"????\r\nok \u00e9");
  EXPECT_EQ(ApplyQrInputRules(typed, true), typed);

  QrRig rig;
  EXPECT_TRUE(rig.page->TextChanged(typed));
  EXPECT_EQ(rig.page->qrInput(), u"????\r\nok \u00e9");
  EXPECT_FALSE(rig.page->messageIsError());
}

TEST(QrPage, DrawsTheLargestSymbolsAtOffsetOneAndRefusesLarger) {
  struct Case {
    int cellSize;
    int level;
    int digits;
    bool fits;
  };
  // 202 digits are version 5 at level M (37 modules, 94 dots); 203 need 41 modules (102 dots).
  // At 1 dot per module 674 digits at level H are version 17 (85 modules, 95 dots).
  const Case cases[] = {{0, 1, 202, true}, {0, 1, 203, false}, {1, 3, 674, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.digits);
    QrRig rig;
    rig.page->SelectCellSize(c.cellSize);
    rig.page->SelectLevel(c.level);
    rig.page->TextChanged(u"x");
    const Picture before = rig.page->picture();
    rig.page->TextChanged(Digits(c.digits));
    EXPECT_EQ(rig.page->messageIsError(), !c.fits);
    if (c.fits) {
      const int finder = 1 + 5 * (c.cellSize == 0 ? 2 : 1);
      EXPECT_EQ(rig.page->picture().at(finder, finder), kBlack);
      EXPECT_EQ(rig.page->picture().at(finder - 1, finder - 1), kWhite);
    } else {
      EXPECT_FALSE(rig.page->Regenerate());
      EXPECT_EQ(rig.page->messageLine(), String(kQrTooLongMessage, Language::kEnglish));
      EXPECT_EQ(rig.page->picture(), before) << "the previous picture stays";
      EXPECT_EQ(FieldView(rig.model.table.workingConfig.qrText), Digits(c.digits));
    }
  }
}

TEST(QrPage, MessageLineShowsCountsOrTheInvalidText) {
  QrRig english;
  english.page->TextChanged(u"HELLO");
  EXPECT_EQ(english.page->messageLine(),
            u"You can input another characters. ( capital: 117  small: 79 )");
  english.page->TextChanged(u"\u03a9");  // half-width, but not in the code page
  EXPECT_EQ(english.page->messageLine(), String(kQrInvalidMessage, Language::kEnglish));
  EXPECT_TRUE(english.page->messageIsError());

  QrRig japanese(Language::kJapanese);
  japanese.page->TextChanged(u"\u65e5\u672c");
  const std::u16string message = japanese.page->messageLine();
  EXPECT_EQ(message.find(u"%d"), std::u16string::npos);
  EXPECT_NE(message.find(u"\u3042\u3068 "), std::u16string::npos) << Utf16ToUtf8(message);
  EXPECT_FALSE(japanese.page->messageIsError());
}

// In a Japanese interface the one count is of full-width characters: exactly as many more as
// still fit the screen at the page's cell size and level.
TEST(QrPage, JapaneseCountIsOfFullWidthCharactersThatStillFit) {
  const std::u16string text = u"\u65e5\u672c abc";
  for (int cellSize : {0, 1}) {
    SCOPED_TRACE(cellSize);
    QrRig rig(Language::kJapanese);
    rig.page->SelectCellSize(cellSize);
    rig.page->TextChanged(text);
    ASSERT_FALSE(rig.page->messageIsError());

    const QrControlValues values = rig.page->ControlValues();
    QrSymbol check(CodePage::kCp932);
    check.SetLevel(values.eccValue);
    int fits = 0;
    for (;; ++fits) {
      check.SetText(text + std::u16string(static_cast<std::size_t>(fits + 1), u'\u3042'));
      if (QrExtent(check.Width(), values.cellPitch) > kQrScreenDots) break;
    }
    ASSERT_GT(fits, 0);
    EXPECT_EQ(Utf16ToUtf8(rig.page->messageLine()),
              "あと " + std::to_string(fits) + " 文字(全角)入力できます。");
  }
}

TEST(QrPage, WorkingCopyFollowsThePageOnlyWithDrives) {
  QrRig rig;
  rig.page->TextChanged(u"abc");
  EXPECT_EQ(FieldView(rig.model.table.workingConfig.qrText), u"abc");
  rig.model.table.driveCount = 0;
  rig.page->TextChanged(u"def");
  EXPECT_EQ(FieldView(rig.model.table.workingConfig.qrText), u"abc");
}

TEST(QrPage, TemporaryPictureIsWrittenAndRemovedWithThePage) {
  QrRig rig;
  rig.page->TextChanged(u"https://example.org/");
  const std::string path = rig.page->qrImagePath();
  ASSERT_TRUE(std::filesystem::exists(path));
  EXPECT_EQ(std::filesystem::file_size(path), 1214u);
  rig.model.AttachQrPage(nullptr);
  rig.page.reset();
  EXPECT_FALSE(std::filesystem::exists(path));

  // A page that drew nothing leaves another's file alone.
  WriteFileBytes(path, std::vector<std::uint8_t>{'x'}, nullptr);
  { QrPage idle(rig.model.table, rig.files, Language::kEnglish, rig.temp.path() + "/"); }
  EXPECT_TRUE(std::filesystem::exists(path));
}

TEST(QrPage, UpdateLcdSendsThePictureAndSavesTheText) {
  QrRig rig;
  rig.page->TextChanged(u"line one\r\nline two");
  rig.model.table.currentTab = 2;
  rig.model.UpdateLcd();
  EXPECT_EQ(rig.model.table.screenConfigs[0].lcdDataType, kLcdQr);
  ASSERT_EQ(rig.service.sentSlots.size(), 1u);
  EXPECT_EQ(PictureOfPanelRaster(rig.model.table.raster), rig.page->picture())
      << "a person facing the panel sees the preview's picture";
  std::ifstream saved(rig.volume.path() + "/TAVIO_LCDMANAGER/QR_DATA.TXT", std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(saved), {}), "line one\r\nline two");
}

TEST(QrPage, ALockedDriveShowsTheBitmapPagesLockedPicture) {
  QrRig rig;
  rig.page->TextChanged(u"abc");
  EXPECT_EQ(&rig.page->PreviewPicture(), &rig.page->picture());
  rig.model.table.driveRecords[0].connectionState = kBridgeLocked;
  EXPECT_EQ(rig.page->PreviewPicture(),
            LockedBitmapPreview(*Fonts::Load(Language::kEnglish), Language::kEnglish));
  rig.model.table.driveRecords[0].connectionState = kBridgePlain;
  EXPECT_EQ(rig.page->PreviewPicture(), rig.page->picture()) << "unlocked, the code is back";
}

TEST(QrPage, DisablingEmptiesTheText) {
  QrRig rig;
  rig.page->TextChanged(u"abc");
  rig.page->EnablePage(false);
  EXPECT_FALSE(rig.page->enabled());
  EXPECT_EQ(rig.page->qrInput(), u"");
}

}  // namespace
}  // namespace kuv
