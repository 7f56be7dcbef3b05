#include "app/pages/qr_page_widget.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <QComboBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QTest>
#include <QTextCursor>
#include <filesystem>
#include <fstream>

#include "app/compose/qr_test_decode.h"
#include "app/model/qr_page.h"

// The model's fakes name a parameter "slots", which Qt's keyword macro would swallow.
#undef slots
#include "app/model/test_fakes.h"
#include "app/qt_test_support.h"

namespace kuv {
namespace {

using testing::Named;

struct WidgetRig {
  WidgetRig() {
    std::string pattern = (std::filesystem::temp_directory_path() / "kuvqrw.XXXXXX").string();
    folder = ::mkdtemp(pattern.data());
    page = std::make_unique<QrPage>(table, files, Language::kEnglish, folder + "/");
    page->Start();
    widget = std::make_unique<QrPageWidget>(*page);
  }
  ~WidgetRig() {
    widget.reset();
    page.reset();
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
  }
  std::string folder;
  DriveTable table;
  SystemVolumeFiles files;
  std::unique_ptr<QrPage> page;
  std::unique_ptr<QrPageWidget> widget;
};

TEST(QrPageWidget, EveryControlCarriesItsAccessibleName) {
  WidgetRig rig;
  EXPECT_TRUE(Named<QRadioButton>(*rig.widget, "4Dot/Cell"));
  EXPECT_TRUE(Named<QRadioButton>(*rig.widget, "1Dot/Cell"));
  QComboBox* levels = Named<QComboBox>(*rig.widget, "Error correction");
  ASSERT_TRUE(levels);
  EXPECT_EQ(levels->accessibleDescription(), "Error correction");
  EXPECT_EQ(levels->count(), 4);
  EXPECT_TRUE(Named<QPlainTextEdit>(*rig.widget, "QR text"));
  EXPECT_TRUE(Named<QLabel>(*rig.widget, "QR message"));
  EXPECT_TRUE(Named<QLabel>(*rig.widget, "QR preview"));
}

TEST(QrPageWidget, ClickingACellSizeShowsItsLevel) {
  WidgetRig rig;
  QComboBox* levels = Named<QComboBox>(*rig.widget, "Error correction");
  QTest::mouseClick(Named<QRadioButton>(*rig.widget, "1Dot/Cell"), Qt::LeftButton);
  EXPECT_EQ(levels->currentText(), "Max(30%)");
  EXPECT_EQ(rig.page->ControlValues().cellPitch, 1);
  QTest::mouseClick(Named<QRadioButton>(*rig.widget, "4Dot/Cell"), Qt::LeftButton);
  EXPECT_EQ(levels->currentText(), "Middle(15%)");
}

TEST(QrPageWidget, TypingRegeneratesAndLongTextsTurnTheMessageRed) {
  WidgetRig rig;
  QPlainTextEdit* text = Named<QPlainTextEdit>(*rig.widget, "QR text");
  QLabel* message = Named<QLabel>(*rig.widget, "QR message");
  QTest::keyClicks(text, "HELLO");
  EXPECT_EQ(rig.page->qrInput(), u"HELLO");
  EXPECT_TRUE(message->text().startsWith("You can input another characters."));
  QTest::keyClick(text, Qt::Key_Return);
  QTest::keyClicks(text, "x");
  EXPECT_EQ(rig.page->qrInput(), u"HELLO\r\nx");
  text->setPlainText(QString(300, QChar('7')));
  EXPECT_EQ(message->text().toStdU16String(), String(kQrTooLongMessage, Language::kEnglish));
  EXPECT_TRUE(message->styleSheet().contains("255, 0, 0"));
}

TEST(QrPageWidget, TheEightHundredAndFirstCharacterIsRemoved) {
  WidgetRig rig;
  QPlainTextEdit* text = Named<QPlainTextEdit>(*rig.widget, "QR text");
  text->setPlainText(QString(800, QChar('a')));
  text->moveCursor(QTextCursor::End);
  QTest::keyClicks(text, "b");
  EXPECT_EQ(text->toPlainText(), QString(800, QChar('a')));
}

// Typed into the widget, sent by Update LCD on the QR tab: the panel's lines carry a code that
// reads back as the text, and the drive keeps the text.
TEST(QrPageWidget, TypedTextReachesThePanelAndTheDrive) {
  testing::Rig rig;
  testing::TempDir volume;
  DriveRecord drive = testing::Drive(4, kBridgePlain, 1);
  SetField(drive.driveLetter, std::string_view(volume.path()));
  rig.model.table.driveRecords[0] = drive;
  rig.model.table.driveCount = 1;
  rig.model.SelectDrive(0);
  testing::TempDir temp;
  QrPage page(rig.model.table, rig.files, Language::kEnglish, temp.path() + "/");
  rig.model.AttachQrPage(&page);
  page.Start();
  QrPageWidget widget(page);

  const QString url = "https://example.org/inventory?drive=4";
  QTest::mouseClick(Named<QRadioButton>(widget, "1Dot/Cell"), Qt::LeftButton);
  QTest::keyClicks(Named<QPlainTextEdit>(widget, "QR text"), url);
  rig.model.table.currentTab = 2;
  rig.model.UpdateLcd();
  rig.model.AttachQrPage(nullptr);

  ASSERT_EQ(rig.service.sentSlots.size(), 1u);
  Raster raster{};
  for (std::size_t line = 0; line < 96; ++line) {
    const std::uint8_t* slot = rig.service.sentSlots[0].data() + line * kRequestLineSlotSize;
    std::copy_n(slot + 4, 12, raster.begin() + static_cast<std::ptrdiff_t>(line * 12));
  }
  EXPECT_EQ(PictureOfPanelRaster(raster), page.picture());
#ifdef KUVLCD_HAVE_ZBAR
  EXPECT_EQ(testing::DecodeQrWithZbar(PictureOfPanelRaster(raster)), url.toStdString());
#endif
  std::ifstream saved(volume.path() + "/TAVIO_LCDMANAGER/QR_DATA.TXT", std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(saved), {}), url.toStdString());
  EXPECT_EQ(rig.model.table.screenConfigs[0].cellPitch, 1);
  EXPECT_EQ(rig.model.table.screenConfigs[0].eccValue, 3);
}

}  // namespace
}  // namespace kuv
