// Before any Qt header: the fakes name a parameter "slots", which Qt makes a keyword.
#include "app/model/test_fakes.h"
#include "app/qt_test_support.h"
// clang-format off
#include "app/pages/bitmap_page_widget.h"
// clang-format on

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace kuv {
namespace {

class ScriptedHooks : public BitmapPageHooks {
 public:
  std::vector<int> messages;
  std::optional<std::string> choice;
  BitmapPageWidget* widget = nullptr;
  void ShowMessage(int stringId) override { messages.push_back(stringId); }
  std::optional<std::string> ChooseBmpFile() override { return choice; }
  void StateChanged() override {
    if (widget) widget->Refresh();
  }
};

struct WidgetRig {
  testing::TempDir volume, data;
  testing::FakeService service;
  MemoryProfileStore profile;
  testing::FaultyVolumeFiles files;
  testing::FakeSystem system;
  testing::StampRenderer renderer;
  testing::RecordingHooks hooks;
  ScriptedHooks pageHooks;
  LcdModel model{ModelPorts{service, profile, files, system, renderer, hooks, &page}};
  BitmapPage page{model.table, service,   files,
                  renderer,    pageHooks, {data.path() + "/", data.path() + "/share/"}};
  std::unique_ptr<BitmapPageWidget> widget;

  WidgetRig() {
    DriveRecord drive = testing::Drive(4, kBridgePlain, 1);
    SetField(drive.driveLetter, std::string_view(volume.path()));
    drive.totalMB = 1000;
    model.table.driveRecords[0] = drive;
    model.table.driveCount = 1;
    model.table.selectedDrive = 0;
    model.table.currentTab = kBitmapTab;
    page.LoadFromConfiguration();
    widget = std::make_unique<BitmapPageWidget>(page);
    pageHooks.widget = widget.get();
  }
  template <typename T>
  T* Named(const char* name) {
    return testing::Named<T>(*widget, QString::fromUtf8(name));
  }
};

TEST(BitmapPageWidget, EveryControlCarriesItsAccessibleName) {
  WidgetRig rig;
  EXPECT_TRUE(rig.Named<QPushButton>("Browse"));
  EXPECT_TRUE(rig.Named<QPushButton>("Convert picture…"));
  EXPECT_TRUE(rig.Named<QCheckBox>("Reverse Black and White"));
  EXPECT_TRUE(rig.Named<QCheckBox>("Rotation preview."));
  for (const char* area : {"All", "Upper half", "Lower half"}) {
    EXPECT_TRUE(rig.Named<QRadioButton>(area)) << area;
  }
  QComboBox* rotation = rig.Named<QComboBox>("Bitmap rotation");
  ASSERT_TRUE(rotation);
  EXPECT_EQ(rotation->accessibleDescription(), "Bitmap rotation");
  EXPECT_EQ(rotation->count(), 4);
  EXPECT_TRUE(rig.Named<QLabel>("File name"));
  EXPECT_TRUE(rig.Named<QLabel>("Bitmap preview"));
}

TEST(BitmapPageWidget, ClicksReachTheWorkingCopy) {
  WidgetRig rig;
  QTest::mouseClick(rig.widget->areaButton(kAreaLower), Qt::LeftButton);
  EXPECT_EQ(rig.model.table.workingConfig.bmpAreaRatio, kAreaLower);
  QTest::mouseClick(rig.widget->reverseBox(), Qt::LeftButton);
  EXPECT_EQ(rig.model.table.workingConfig.bmpWB, 1);
  EXPECT_FALSE(rig.widget->rotatePreviewBox()->isEnabled());
  rig.widget->rotationList()->setCurrentIndex(2);
  EXPECT_EQ(rig.model.table.workingConfig.bmpRotation, 180);
  EXPECT_TRUE(rig.widget->rotatePreviewBox()->isEnabled());
  QTest::mouseClick(rig.widget->rotatePreviewBox(), Qt::LeftButton);
  EXPECT_EQ(rig.model.table.workingConfig.bmpPreviewRotation, 1);
  rig.page.EnablePage(false);
  EXPECT_FALSE(rig.widget->browseButton()->isEnabled());
  EXPECT_FALSE(rig.widget->areaButton(kAreaAll)->isEnabled());
}

TEST(BitmapPageWidget, ABrowsedPictureShowsAndReachesPanelAndDrive) {
  WidgetRig rig;
  BmpImage image = DefaultBmpImage();
  image.bits[10 * 12] = 0x0F;  // four black dots at the start of row 10
  const std::vector<std::uint8_t> bytes = EncodeBmp(image);
  const std::string path = rig.data.path() + "/logo.bmp";
  ASSERT_TRUE(WriteFileBytes(path, bytes, nullptr));
  rig.pageHooks.choice = path;
  QTest::mouseClick(rig.widget->browseButton(), Qt::LeftButton);
  EXPECT_EQ(rig.widget->fileNameLabel()->toolTip().toStdString(), path);
  const QImage shown = rig.widget->previewLabel()->pixmap().toImage();
  EXPECT_EQ(shown.pixelColor(1, 20), QColor(Qt::black));  // dot (0, 10), scaled twice
  EXPECT_EQ(shown.pixelColor(10, 20), QColor(Qt::white));

  rig.model.UpdateLcd();
  std::ifstream stored(rig.volume.path() + "/TAVIO_LCDMANAGER/LCD_IMAGE.BMP", std::ios::binary);
  EXPECT_EQ(std::vector<std::uint8_t>(std::istreambuf_iterator<char>(stored), {}), bytes);
  ASSERT_EQ(rig.service.sentSlots.size(), 1u);
  EXPECT_EQ(rig.model.table.raster,
            ComposeBitmapRaster(image, rig.model.table.driveRecords[0],
                                rig.model.table.screenConfigs[0], rig.model.table.imageRaster));
}

}  // namespace
}  // namespace kuv
