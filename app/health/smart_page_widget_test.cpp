#include "app/health/smart_page_widget.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QTableWidget>
#include <QTest>

#include "app/model/test_fakes.h"
#include "app/qt_test_support.h"

namespace kuv {
namespace {

using testing::Named;

struct WidgetRig : testing::Rig {
  SmartPage page{model, profile, hooks, Language::kEnglish};
  std::unique_ptr<SmartPageWidget> widget;
  WidgetRig() {
    DriveRecord drive = testing::Drive(3, kBridgePlain);
    const std::uint8_t attrs[][3] = {
        {0x05, 100, 36}, {0x09, 90, 0}, {0xC2, 110, 0}, {0xC5, 20, 30}};
    for (std::size_t k = 0; k < 4; ++k) {
      std::uint8_t* entry = drive.smartData + 2 + 12 * k;
      entry[0] = attrs[k][0];
      entry[3] = entry[4] = attrs[k][1];
      drive.smartThresholds[2 + 12 * k] = attrs[k][0];
      drive.smartThresholds[3 + 12 * k] = attrs[k][2];
    }
    drive.smartData[2 + 12 * 2 + 5] = 45;  // 45 °C
    model.table.driveRecords[0] = drive;
    model.table.driveCount = 1;
    model.table.selectedDrive = 0;
    model.table.workingConfig.smartId0 = -1;
    page.SetWarningControls(50, false);
    page.ShowDrive(3);
    widget = std::make_unique<SmartPageWidget>(page);
    widget->show();
  }
};

TEST(SmartPageWidget, ShowsTheModelUnderTheAccessibleNames) {
  WidgetRig rig;
  auto* list = Named<QTableWidget>(*rig.widget, u"S.M.A.R.T. attributes"_qs);
  auto* health = Named<QLabel>(*rig.widget, u"Health"_qs);
  auto* temperature = Named<QLabel>(*rig.widget, u"Temperature"_qs);
  auto* warningTemp = Named<QComboBox>(*rig.widget, u"Warning temperature"_qs);
  ASSERT_TRUE(list && health && temperature && warningTemp);
  EXPECT_EQ(warningTemp->accessibleDescription(), u"Warning temperature"_qs);
  EXPECT_EQ(list->rowCount(), 4);
  EXPECT_EQ(list->item(3, 1)->text(), u"C5"_qs);
  EXPECT_EQ(list->item(3, 0)->background().color(), QColor(255, 0, 0));
  EXPECT_EQ(health->text(), u"Bad"_qs);
  EXPECT_EQ(temperature->text(), u"45°C"_qs);
  EXPECT_FALSE(warningTemp->isEnabled()) << "the warning is off";
}

TEST(SmartPageWidget, ClicksReachThePageModel) {
  WidgetRig rig;
  auto* warning = Named<QCheckBox>(*rig.widget, u"Warning"_qs);
  auto* autoUpdate = Named<QCheckBox>(*rig.widget, u"Auto update"_qs);
  auto* warningTemp = Named<QComboBox>(*rig.widget, u"Warning temperature"_qs);
  auto* list = Named<QTableWidget>(*rig.widget, u"S.M.A.R.T. attributes"_qs);
  ASSERT_TRUE(warning && autoUpdate && warningTemp && list);

  QTest::mouseClick(warning, Qt::LeftButton);
  EXPECT_EQ(rig.model.table.screenConfigs[0].showWarningTemp, 1);
  EXPECT_TRUE(warningTemp->isEnabled());
  warningTemp->setFocus();
  QTest::keyClick(warningTemp, Qt::Key_Up);
  EXPECT_EQ(rig.model.table.screenConfigs[0].warningTemp, 49);

  QTest::mouseClick(autoUpdate, Qt::LeftButton);
  EXPECT_EQ(rig.profile.ReadInt(u"SETTING", u"SMART_AUTOUPDATE"), 0);

  list->item(0, 0)->setCheckState(Qt::Checked);
  list->item(2, 0)->setCheckState(Qt::Checked);
  EXPECT_EQ(list->item(0, 0)->checkState(), Qt::Unchecked) << "one checked row at most";
  EXPECT_EQ(rig.model.table.workingConfig.smartId0, 2);
}

}  // namespace
}  // namespace kuv
