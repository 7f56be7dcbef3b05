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

#include "app/model/qr_page.h"

namespace kuv {
namespace {

template <typename T>
T* Named(QWidget& root, const QString& name) {
  for (T* child : root.findChildren<T*>()) {
    if (child->accessibleName() == name) return child;
  }
  return nullptr;
}

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
  PosixVolumeFiles files;
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

}  // namespace
}  // namespace kuv
