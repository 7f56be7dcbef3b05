// The real window against panelsvc on the sample simulated world: what a user sees and what
// reaches the panels and the volumes.
#include "app/shell/main_window.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFontDatabase>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTabBar>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <thread>

#include "app/compose/bmp_file.h"
#include "app/compose/qr_test_decode.h"
#include "app/model/help_page.h"
#include "app/model/test_service.h"
#include "app/pages/preview_widget.h"
#include "app/pages/text_page_widget.h"
#include "app/qt_test_support.h"
#include "app/shell/single_instance.h"
#include "panelio/env.h"
#include "panelio/sim/sim_env.h"

namespace kuv {
namespace {

namespace fs = std::filesystem;
using testing::Named;
const std::string kKuvlcd = KUVLCD_BINARY_DIR "/tools/kuvlcd/kuvlcd";
const std::string kPanelsvc = KUVLCD_BINARY_DIR "/panelsvc/panelsvc";

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

class WindowOnSampleWorld : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists(kKuvlcd) || !fs::exists(kPanelsvc))
      GTEST_SKIP() << "kuvlcd or panelsvc missing";
    char pattern[] = "/tmp/kuvshell.XXXXXX";
    dir_ = ::mkdtemp(pattern);
    world_ = dir_ + "/world";
    socket_ = dir_ + "/svc.sock";
    // Nothing here is timed against the hardware: the world skips the tie procedure's pauses.
    const std::string init = kKuvlcd + " sim init " + world_ + " --sleep-scale 0 >/dev/null";
    ASSERT_EQ(std::system(init.c_str()), 0);
    ::setenv("KUVLCD_SIM_WORLD", world_.c_str(), 1);
    ::setenv("KUVLCD_SOCKET", socket_.c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (dir_ + "/config").c_str(), 1);
    ::setenv("XDG_RUNTIME_DIR", dir_.c_str(), 1);
    // The program writes HID panels itself; the process's device environment is chosen once, so
    // each test points it at its own world.
    env_ = NewSimEnv(world_);
    envOverride_.emplace(*env_);
    StartService();
  }
  void TearDown() override {
    StopService();
    envOverride_.reset();
    std::error_code ec;
    if (!dir_.empty()) fs::remove_all(dir_, ec);
  }
  void StartService() { ASSERT_TRUE(service_.Start(kPanelsvc, world_, socket_)); }
  void StopService() { service_.Stop(); }
  fs::path Panel(const std::string& name, const char* ext = ".pbm") const {
    return fs::path(world_) / "state/panels" / (name + ext);
  }
  // Selects the first drive of the list whose file-system column reads fileSystem; its row, or -1.
  static int SelectDrive(MainWindow& window, const QString& fileSystem) {
    for (int i = 0; i < window.driveList()->topLevelItemCount(); ++i) {
      if (window.driveList()->topLevelItem(i)->text(5) == fileSystem) {
        window.driveList()->setCurrentItem(window.driveList()->topLevelItem(i));
        return i;
      }
    }
    return -1;
  }
  // The contents of every file called name on the world's volumes.
  std::vector<std::string> VolumeFiles(const std::string& name) const {
    std::vector<std::string> found;
    for (const auto& entry : fs::recursive_directory_iterator(world_)) {
      if (entry.path().filename() == name) found.push_back(ReadAll(entry.path()));
    }
    return found;
  }
  static bool AnyContains(const std::vector<std::string>& files, const std::string& text) {
    return std::any_of(files.begin(), files.end(),
                       [&](const std::string& f) { return f.find(text) != std::string::npos; });
  }

  std::string dir_, world_, socket_;
  testing::ServiceProcess service_;
  std::unique_ptr<DeviceEnv> env_;
  std::optional<ScopedEnvOverride> envOverride_;
};

TEST_F(WindowOnSampleWorld, StartSendsEveryTextPanelAndListsTheDrives) {
  // The first start on a fresh world asks nothing: no message box, no restart question.
  QString asked;
  QTimer closer;
  QObject::connect(&closer, &QTimer::timeout, [&] {
    if (QWidget* box = QApplication::activeModalWidget()) {
      asked = box->windowTitle();
      box->close();
    }
  });
  closer.start(50);
  MainWindow window(Language::kEnglish);
  ASSERT_TRUE(window.Initialise());
  closer.stop();
  EXPECT_TRUE(asked.isNull()) << asked.toStdString();
  EXPECT_FALSE(window.session().model.restartQuestionOpen);
  EXPECT_EQ(window.driveList()->topLevelItemCount(), 6);
  EXPECT_EQ(window.driveList()->currentItem(), window.driveList()->topLevelItem(0));
  EXPECT_TRUE(fs::exists(Panel("bridge1"))) << "the NTFS bridge panel got its start-up picture";
  EXPECT_TRUE(fs::exists(Panel("tray1"))) << "the HID tray got its start-up picture";
  for (const char* name : {"Drives", "Update LCD", "Search Device"}) {
    EXPECT_NE(Named<QWidget>(window, name), nullptr) << name;
  }
  for (int i = 1; i <= 5; ++i) {
    EXPECT_NE(Named<QComboBox>(window, QStringLiteral("Line %1 item").arg(i)), nullptr);
    EXPECT_NE(Named<QLineEdit>(window, QStringLiteral("Line %1 text").arg(i)), nullptr);
    EXPECT_NE(Named<QCheckBox>(window, QStringLiteral("Line %1 reverse").arg(i)), nullptr);
  }
}

TEST_F(WindowOnSampleWorld, TypingChangesThePreviewAndUpdateReachesPanelAndVolume) {
  MainWindow window(Language::kEnglish);
  ASSERT_TRUE(window.Initialise());
  const int row = SelectDrive(window, QStringLiteral("NTFS"));
  ASSERT_GE(row, 0);
  QLineEdit* line1 = Named<QLineEdit>(window, QStringLiteral("Line 1 text"));
  QComboBox* item1 = Named<QComboBox>(window, QStringLiteral("Line 1 item"));
  ASSERT_TRUE(line1 && item1);
  item1->setCurrentIndex(0);
  ASSERT_TRUE(line1->isEnabled());
  const QImage before = window.textPage()->preview()->image();
  line1->selectAll();
  QTest::keyClicks(line1, QStringLiteral("Shelf A7"));
  EXPECT_NE(window.textPage()->preview()->image(), before);

  const std::string panelBefore = ReadAll(Panel("bridge1"));
  ASSERT_TRUE(window.updateButton()->isEnabled());
  QTest::mouseClick(window.updateButton(), Qt::LeftButton);
  EXPECT_NE(ReadAll(Panel("bridge1")), panelBefore);
  // LCD_DATA.TXT is UTF-16LE.
  std::string line;
  for (char c : std::string("Shelf A7")) line += {c, '\0'};
  EXPECT_TRUE(AnyContains(VolumeFiles("LCD_DATA.TXT"), line))
      << "LCD_DATA.TXT on the volume carries the new line";
}

// Update LCD confirms for a moment that the panel was updated, without a message box.
TEST_F(WindowOnSampleWorld, UpdateSaysBrieflyThatThePanelWasUpdated) {
  MainWindow window(Language::kEnglish);
  ASSERT_TRUE(window.Initialise());
  window.ShowFromTray();
  QLabel* notice = Named<QLabel>(window, QStringLiteral("Update notice"));
  ASSERT_NE(notice, nullptr);
  EXPECT_FALSE(notice->isVisible());
  ASSERT_GE(SelectDrive(window, QStringLiteral("NTFS")), 0);
  QTest::mouseClick(window.updateButton(), Qt::LeftButton);
  EXPECT_TRUE(notice->isVisible());
  EXPECT_EQ(notice->text(), QString::fromStdU16String(PanelUpdatedText(Language::kEnglish)));
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
  QTRY_VERIFY_WITH_TIMEOUT(!notice->isVisible(), 10000);

  // Without the service the window's failure notice stands alone.
  StopService();
  QTest::mouseClick(window.updateButton(), Qt::LeftButton);
  EXPECT_FALSE(notice->isVisible());
  EXPECT_TRUE(Named<QLabel>(window, QStringLiteral("Service status"))->isVisible());
}

// What Update LCD puts on the panel is what `kuvlcd render` composes for the same settings.
TEST_F(WindowOnSampleWorld, UpdatedPanelEqualsTheCommandLineRendering) {
  MainWindow window(Language::kEnglish);
  ASSERT_TRUE(window.Initialise());
  const int row = SelectDrive(window, QStringLiteral("NTFS"));
  ASSERT_GE(row, 0);
  const QStringList texts = {QStringLiteral("Archive"), QStringLiteral("2026 photos"),
                             QStringLiteral("Shelf 3"), QStringLiteral("Box 12")};
  for (int i = 1; i <= 4; ++i) {
    Named<QComboBox>(window, QStringLiteral("Line %1 item").arg(i))->setCurrentIndex(0);
    QLineEdit* edit = Named<QLineEdit>(window, QStringLiteral("Line %1 text").arg(i));
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Delete);
    QTest::keyClicks(edit, texts[i - 1]);
  }
  QCheckBox* status = Named<QCheckBox>(window, QStringLiteral("Show HDD Status"));
  if (status->isChecked()) QTest::mouseClick(status, Qt::LeftButton);
  QTest::mouseClick(window.updateButton(), Qt::LeftButton);

  const DriveRecord& drive =
      window.session().model.table.driveRecords[static_cast<std::size_t>(row)];
  const std::string out = dir_ + "/render.pbm";
  std::string command = kKuvlcd + " render --fs-type " + std::to_string(drive.fileSystemType) +
                        " --panel-model " + std::to_string(drive.panelModel) + " --free-mb " +
                        std::to_string(drive.freeMB) + " --total-mb " +
                        std::to_string(drive.totalMB) + " --show-status 0";
  for (int i = 1; i <= 4; ++i) {
    command += " --line" + std::to_string(i) + " '" + texts[i - 1].toStdString() + "'";
  }
  command += " --raster screen --format pbm --out " + out + " >/dev/null";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
  EXPECT_EQ(ReadAll(Panel("bridge1")), ReadAll(out));
}

// The mounted ext4 and btrfs drives are ordinary drives: the four-line form with every item, the
// bitmap's settings and the QR page, and Update LCD keeps the lines on the volume.
TEST_F(WindowOnSampleWorld, MountedLinuxDrivesTakeLinesPicturesAndQrCodes) {
  MainWindow window(Language::kEnglish);
  ASSERT_TRUE(window.Initialise());
  for (const char* fileSystem : {"ext4", "btrfs"}) {
    SCOPED_TRACE(fileSystem);
    const int row = SelectDrive(window, QString::fromLatin1(fileSystem));
    ASSERT_GE(row, 0);
    QTreeWidgetItem* item = window.driveList()->topLevelItem(row);
    EXPECT_NE(item->text(0), QStringLiteral("-")) << "named by its mount point";
    EXPECT_TRUE(item->text(4).endsWith(QStringLiteral("GB"))) << item->text(4).toStdString();
    QComboBox* item1 = Named<QComboBox>(window, QStringLiteral("Line 1 item"));
    ASSERT_NE(item1, nullptr);
    EXPECT_GT(item1->count(), 1) << "every item, not free text only";
    EXPECT_FALSE(Named<QComboBox>(window, QStringLiteral("Line 5 item"))->isVisibleTo(&window))
        << "the four-line layout";
    EXPECT_TRUE(window.updateButton()->isEnabled());

    item1->setCurrentIndex(0);
    QLineEdit* line1 = Named<QLineEdit>(window, QStringLiteral("Line 1 text"));
    line1->selectAll();
    QTest::keyClicks(line1, QStringLiteral("Shelf ") + QString::fromLatin1(fileSystem));
    QTest::mouseClick(window.updateButton(), Qt::LeftButton);
    std::string line;
    for (char c : "Shelf " + std::string(fileSystem)) line += {c, '\0'};
    const auto& drive = window.session().model.table.driveRecords[static_cast<std::size_t>(row)];
    const std::string mount = FieldUtf8(drive.driveLetter);
    EXPECT_NE(ReadAll(mount + "/TAVIO_LCDMANAGER/LCD_DATA.TXT").find(line), std::string::npos);

    window.tabs()->setCurrentIndex(kTabQr);
    EXPECT_TRUE(window.updateButton()->isEnabled()) << "QR codes are offered";
    window.tabs()->setCurrentIndex(kTabText);
  }
}

// A recorder disk's XFS volume gets the bar form; line 5 goes away when the screen is turned.
TEST_F(WindowOnSampleWorld, XfsDriveGivesTheBarFormAndLineFiveFollowsRotation) {
  MainWindow window(Language::kEnglish);
  ASSERT_TRUE(window.Initialise());
  const int row = SelectDrive(window, QStringLiteral("XFS"));
  ASSERT_GE(row, 0);
  QComboBox* item5 = Named<QComboBox>(window, QStringLiteral("Line 5 item"));
  QComboBox* rotation = Named<QComboBox>(window, QStringLiteral("Rotation"));
  ASSERT_TRUE(item5 && rotation);
  EXPECT_TRUE(item5->isVisibleTo(&window));
  EXPECT_EQ(item5->count(), 1) << "a recorder disk offers free text only";
  rotation->setCurrentIndex(1);
  EXPECT_FALSE(item5->isEnabled());
  EXPECT_FALSE(Named<QLineEdit>(window, QStringLiteral("Line 5 text"))->isEnabled());
  rotation->setCurrentIndex(2);
  EXPECT_TRUE(item5->isEnabled());
}

TEST_F(WindowOnSampleWorld, DateDisablesTheEditAndShowsTheDate) {
  MainWindow window(Language::kEnglish);
  ASSERT_TRUE(window.Initialise());
  QComboBox* item2 = Named<QComboBox>(window, QStringLiteral("Line 2 item"));
  QLineEdit* line2 = Named<QLineEdit>(window, QStringLiteral("Line 2 text"));
  ASSERT_TRUE(item2 && line2);
  item2->setCurrentIndex(4);
  EXPECT_FALSE(line2->isEnabled());
  EXPECT_TRUE(line2->text().contains(QString::number(QDate::currentDate().year())))
      << line2->text().toStdString();
}

// The minute refresh refreshes the shown page with what it already shows: nothing may repaint
// the tab, whose long fills Qt hands to its thread pool and waits for.
TEST_F(WindowOnSampleWorld, ARefreshThatChangesNothingRepaintsNothing) {
  MainWindow window(Language::kEnglish);
  ASSERT_TRUE(window.Initialise());
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  QTest::qWait(200);
  struct PaintCounter : QObject {
    int paints = 0;
    bool eventFilter(QObject*, QEvent* event) override {
      if (event->type() == QEvent::Paint) ++paints;
      return false;
    }
  } counter;
  window.tabs()->installEventFilter(&counter);
  window.textPage()->Refresh();
  QTest::qWait(200);
  EXPECT_EQ(counter.paints, 0);
}

TEST_F(WindowOnSampleWorld, LockedDriveDisablesUpdateAndThePage) {
  MainWindow window(Language::kEnglish);
  ASSERT_TRUE(window.Initialise());
  int locked = -1;
  for (int i = 0; i < kSlotCount; ++i) {
    if (window.session().model.table.driveRecords[static_cast<std::size_t>(i)].connectionState ==
        kBridgeLocked) {
      locked = i;
    }
  }
  ASSERT_GE(locked, 0) << "the sample world has a locked bridge panel";
  window.driveList()->setCurrentItem(window.driveList()->topLevelItem(locked));
  EXPECT_FALSE(window.updateButton()->isEnabled());
  EXPECT_FALSE(window.textPage()->isEnabled());
}

TEST_F(WindowOnSampleWorld, SearchDeviceRescansOnAWorkerAndAppliesTheReport) {
  MainWindow window(Language::kEnglish);
  ASSERT_TRUE(window.Initialise());
  const int rows = window.driveList()->topLevelItemCount();
  QSignalSpy applied(&window, &MainWindow::scanApplied);
  QTest::mouseClick(window.searchButton(), Qt::LeftButton);
  EXPECT_FALSE(window.searchButton()->isEnabled());
  ASSERT_TRUE(applied.wait(20000));
  EXPECT_TRUE(window.searchButton()->isEnabled());
  EXPECT_EQ(window.driveList()->topLevelItemCount(), rows);
}

TEST_F(WindowOnSampleWorld, UnreachableServiceEndsWithItsMessage) {
  StopService();
  ::setenv("KUVLCD_SOCKET", (dir_ + "/nobody.sock").c_str(), 1);
  QString shown;
  QTimer closer;
  QObject::connect(&closer, &QTimer::timeout, [&] {
    if (QWidget* box = QApplication::activeModalWidget()) {
      shown = box->findChild<QObject*>() ? box->windowTitle() : QString();
      box->close();
    }
  });
  closer.start(50);
  MainWindow window(Language::kEnglish);
  EXPECT_FALSE(window.Initialise());
  EXPECT_FALSE(shown.isEmpty()) << "a message box was shown";
}

TEST_F(WindowOnSampleWorld, SecondInstanceAsksTheFirstToShowItself) {
  SingleInstance first;
  ASSERT_TRUE(first.Claim());
  QSignalSpy shows(&first, &SingleInstance::showRequested);
  QSignalSpy trays(&first, &SingleInstance::trayRequested);
  SingleInstance second;
  EXPECT_FALSE(second.Claim());
  ASSERT_TRUE(shows.count() > 0 || shows.wait(2000));
  EXPECT_TRUE(trays.count() > 0 || trays.wait(2000));
}

// A Japanese user interface takes every text from the Japanese table, in a font that has the
// glyphs.
TEST_F(WindowOnSampleWorld, JapaneseTextsComeFromTheJapaneseTable) {
  MainWindow window(Language::kJapanese);
  ASSERT_TRUE(window.Initialise());
  auto ja = [](int id) {
    return QString::fromStdU16String(std::u16string(String(id, Language::kJapanese)));
  };
  EXPECT_EQ(window.windowTitle(), ja(100));
  EXPECT_EQ(window.updateButton()->text(), ja(147));
  EXPECT_EQ(window.searchButton()->text(), ja(146));
  EXPECT_EQ(window.tabs()->tabText(0), ja(2000));
  EXPECT_EQ(window.driveList()->headerItem()->text(0), ja(1505));
  // Qt falls back to these for the glyphs the window's own font lacks.
  EXPECT_FALSE(QFontDatabase::families(QFontDatabase::Japanese).isEmpty());
}

// Every text the Japanese table holds, for telling a translated text from a forgotten English one.
std::set<QString> JapaneseTableTexts() {
  std::set<QString> texts;
  for (int id = 0; id < 65536; ++id) {
    const std::u16string_view text = String(id, Language::kJapanese);
    if (!text.empty()) texts.insert(QString::fromStdU16String(std::u16string(text)));
  }
  return texts;
}

// The texts a user reads on the window's controls, tabs, column headers, lists and tooltips; the
// drive list's rows are the drives' own names and are left out.
QStringList ShownTexts(MainWindow& window) {
  QStringList texts{window.windowTitle(), window.menuButton()->text()};
  for (QWidget* w : window.findChildren<QWidget*>()) {
    texts << w->toolTip();
    if (auto* label = qobject_cast<QLabel*>(w)) texts << label->text();
    if (auto* button = qobject_cast<QAbstractButton*>(w)) texts << button->text();
    if (auto* group = qobject_cast<QGroupBox*>(w)) texts << group->title();
    if (auto* combo = qobject_cast<QComboBox*>(w)) {
      for (int i = 0; i < combo->count(); ++i) texts << combo->itemText(i);
    }
    if (auto* table = qobject_cast<QTableWidget*>(w)) {
      for (int c = 0; c < table->columnCount(); ++c) {
        if (table->horizontalHeaderItem(c)) texts << table->horizontalHeaderItem(c)->text();
      }
    }
  }
  for (int c = 0; c < window.driveList()->columnCount(); ++c) {
    texts << window.driveList()->headerItem()->text(c);
  }
  for (int t = 0; t < window.tabs()->count(); ++t) texts << window.tabs()->tabText(t);
  emit window.trayMenu()->aboutToShow();
  for (QAction* action : window.trayMenu()->actions()) texts << action->text();
  return texts;
}

// A Japanese window shows no English: a text made of Latin letters alone is one the Japanese table
// holds as it is (model names, "LCD"), or it was left untranslated.
TEST_F(WindowOnSampleWorld, JapaneseWindowShowsNoEnglish) {
  MainWindow window(Language::kJapanese);
  ASSERT_TRUE(window.Initialise());
  window.ShowFromTray();
  const std::set<QString> japanese = JapaneseTableTexts();
  static const QRegularExpression word(QStringLiteral("[A-Za-z]{3,}"));
  QStringList english;
  for (const QString& text : ShownTexts(window)) {
    const bool latinOnly =
        std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 0x80; });
    if (latinOnly && text.contains(word) && !japanese.contains(text)) english << text;
  }
  EXPECT_TRUE(english.isEmpty()) << english.join(QStringLiteral(" | ")).toStdString();
}

// At its default size, in both languages and on every tab, each control gets the room its text
// asks for, and the drive list's and the S.M.A.R.T. table's columns are wider than their texts.
TEST_F(WindowOnSampleWorld, NothingIsClippedAtTheDefaultSize) {
  auto wideEnough = [](const QFontMetrics& metrics, const QString& text, int width) {
    return metrics.horizontalAdvance(text) < width;
  };
  for (Language language : {Language::kEnglish, Language::kJapanese}) {
    MainWindow window(language);
    ASSERT_TRUE(window.Initialise());
    window.ShowFromTray();
    // The S.M.A.R.T. tab's drive has its rows; the ext4 drive has the longest items.
    ASSERT_GE(SelectDrive(window, QStringLiteral("NTFS")), 0);
    for (int tab = 0; tab < window.tabs()->count(); ++tab) {
      window.tabs()->setCurrentIndex(tab);
      QApplication::processEvents();
      const std::string where =
          "language " + std::to_string(static_cast<int>(language)) + ", tab " + std::to_string(tab);
      QTabBar* bar = window.tabs()->tabBar();
      EXPECT_TRUE(wideEnough(bar->fontMetrics(), bar->tabText(tab), bar->tabRect(tab).width()))
          << where;
      for (QWidget* w : window.findChildren<QWidget*>()) {
        if (!w->isVisible()) continue;
        auto* label = qobject_cast<QLabel*>(w);
        const bool sized = (label && !label->wordWrap() && label->pixmap().isNull()) ||
                           qobject_cast<QAbstractButton*>(w) || qobject_cast<QComboBox*>(w);
        if (!sized) continue;
        EXPECT_GE(w->width(), w->sizeHint().width())
            << where << ": " << w->metaObject()->className() << " \""
            << w->accessibleName().toStdString() << "\"";
      }
      auto* smart = Named<QTableWidget>(window, QStringLiteral("S.M.A.R.T. attributes"));
      if (!smart->isVisible()) continue;
      ASSERT_GT(smart->rowCount(), 0);
      for (int c = 1; c < smart->columnCount(); ++c) {
        const QFontMetrics header(smart->horizontalHeader()->font());
        EXPECT_TRUE(
            wideEnough(header, smart->horizontalHeaderItem(c)->text(), smart->columnWidth(c)))
            << where << ": S.M.A.R.T. column " << c;
        for (int r = 0; r < smart->rowCount(); ++r) {
          EXPECT_TRUE(
              wideEnough(smart->fontMetrics(), smart->item(r, c)->text(), smart->columnWidth(c)))
              << where << ": S.M.A.R.T. row " << r << " column " << c;
        }
      }
    }
    QTreeWidget* list = window.driveList();
    const QFontMetrics header(list->header()->font());
    for (int c = 0; c < list->columnCount(); ++c) {
      EXPECT_TRUE(wideEnough(header, list->headerItem()->text(c), list->columnWidth(c)))
          << "header of column " << c;
      for (int r = 0; r < list->topLevelItemCount(); ++r) {
        EXPECT_TRUE(
            wideEnough(list->fontMetrics(), list->topLevelItem(r)->text(c), list->columnWidth(c)))
            << "row " << r << " column " << c;
      }
    }
    auto spanned = [list] {
      int columns = 0;
      for (int c = 0; c < list->columnCount(); ++c) columns += list->columnWidth(c);
      return columns;
    };
    EXPECT_GE(spanned(), list->viewport()->width()) << "the list's columns span its width";
    const int modelColumn = list->columnWidth(2);
    window.resize(window.width() + 400, window.height());
    QApplication::processEvents();
    EXPECT_GE(spanned(), list->viewport()->width()) << "and still do in a wider window";
    EXPECT_GT(list->columnWidth(2), modelColumn) << "where every column takes a share";
  }
}

TEST_F(WindowOnSampleWorld, EnterAndEscapeNeitherCloseNorReset) {
  MainWindow window(Language::kEnglish);
  ASSERT_TRUE(window.Initialise());
  window.ShowFromTray();
  QLineEdit* edit = nullptr;
  for (int i = 1; i <= 4 && !edit; ++i) {
    QLineEdit* e = Named<QLineEdit>(window, QStringLiteral("Line %1 text").arg(i));
    if (e->isEnabled()) edit = e;
  }
  ASSERT_NE(edit, nullptr);
  edit->setFocus();
  QTest::keyClicks(edit, QStringLiteral("ok"));
  const QString text = edit->text();
  for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape}) {
    QTest::keyClick(edit, key);
    QTest::keyClick(&window, key);
    EXPECT_TRUE(window.isVisible()) << key;
    EXPECT_EQ(edit->text(), text) << key;
  }
}

TEST_F(WindowOnSampleWorld, AutostartBoxWritesAndRemovesTheEntry) {
  const fs::path entry = fs::path(world_) / "state/autostart/KuvLcdManager.desktop";
  MainWindow window(Language::kEnglish);
  ASSERT_TRUE(window.Initialise());
  QCheckBox* box = Named<QCheckBox>(window, QStringLiteral("Enable on startup"));
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(box->isChecked(), fs::exists(entry));
  const bool before = box->isChecked();
  QTest::mouseClick(box, Qt::LeftButton);
  EXPECT_EQ(fs::exists(entry), !before);
  QTest::mouseClick(box, Qt::LeftButton);
  EXPECT_EQ(fs::exists(entry), before);
}

// The offscreen platform has no notification area, as a desktop without one: the window is
// shown at start and carries the tray's commands in its "Menu" button.
TEST_F(WindowOnSampleWorld, WithoutATrayTheWindowShowsAndCarriesTheMenu) {
  MainWindow window(Language::kEnglish);
  ASSERT_TRUE(window.Initialise());
  if (window.trayIcon()) GTEST_SKIP() << "this platform has a notification area";
  EXPECT_TRUE(window.isVisible());
  QToolButton* menu = Named<QToolButton>(window, QStringLiteral("Menu"));
  ASSERT_NE(menu, nullptr);
  EXPECT_TRUE(menu->isVisible());
  QStringList texts;
  for (QAction* action : window.trayMenu()->actions()) {
    if (!action->isSeparator()) texts << action->text();
  }
  EXPECT_EQ(texts, (QStringList{"LCD Manager", "Help", "About LCD Manager", "Exit"}));
  window.close();
  EXPECT_TRUE(window.isMinimized()) << "closing minimises instead of hiding";
}

TEST_F(WindowOnSampleWorld, AboutBoxShowsNameAndVersion) {
  MainWindow window(Language::kEnglish);
  ASSERT_TRUE(window.Initialise());
  QStringList labels;
  QTimer::singleShot(200, [&] {
    if (QWidget* box = QApplication::activeModalWidget()) {
      for (QLabel* label : box->findChildren<QLabel*>()) labels << label->text();
      box->close();
    }
  });
  window.ShowAbout();
  EXPECT_TRUE(labels.contains(QStringLiteral("TAVIO LCD Manager")));
  EXPECT_TRUE(labels.filter(QStringLiteral("Version ")).size() == 1)
      << labels.join('|').toStdString();
}

TEST_F(WindowOnSampleWorld, QrTextReachesThePanelAndTheDrive) {
  MainWindow window(Language::kEnglish);
  ASSERT_TRUE(window.Initialise());
  const int row = SelectDrive(window, QStringLiteral("NTFS"));
  ASSERT_GE(row, 0);
  window.tabs()->setCurrentIndex(kTabQr);
  QPlainTextEdit* text = Named<QPlainTextEdit>(window, QStringLiteral("QR text"));
  ASSERT_NE(text, nullptr);
  text->setFocus();
  QTest::keyClicks(text, QStringLiteral("https://shelf.example/a7"));
  ASSERT_TRUE(window.updateButton()->isEnabled());
  QTest::mouseClick(window.updateButton(), Qt::LeftButton);
  EXPECT_EQ(window.session().model.table.screenConfigs[static_cast<std::size_t>(row)].lcdDataType,
            kLcdQr);
  EXPECT_TRUE(AnyContains(VolumeFiles("QR_DATA.TXT"), "shelf.example/a7"))
      << "QR_DATA.TXT on the volume carries the text";
  const std::string seen = ReadAll(Panel("bridge1"));
  const PictureResult panel =
      DecodePbm(std::span(reinterpret_cast<const std::uint8_t*>(seen.data()), seen.size()));
  ASSERT_TRUE(panel) << panel.error;
  // The preview shows, dot for dot, what a person facing the panel sees.
  QLabel* preview = Named<QLabel>(window, QStringLiteral("QR preview"));
  ASSERT_NE(preview, nullptr);
  const QImage shown = preview->pixmap().toImage();
  ASSERT_EQ(shown.width() % kPanelSide, 0);
  const int scale = shown.width() / kPanelSide;
  int differing = 0;
  for (int y = 0; y < kPanelSide; ++y) {
    for (int x = 0; x < kPanelSide; ++x) {
      const bool white = qGray(shown.pixel(x * scale, y * scale)) > 127;
      if (white != (panel.picture->at(x, y) == kWhite)) ++differing;
    }
  }
  EXPECT_EQ(differing, 0) << "dots where the preview and the panel differ";
#ifdef KUVLCD_HAVE_ZBAR
  EXPECT_EQ(testing::DecodeQrWithZbar(*panel.picture), "https://shelf.example/a7");
#endif
}

TEST_F(WindowOnSampleWorld, SmartTabShowsAttributesAndDisablesUpdate) {
  MainWindow window(Language::kEnglish);
  ASSERT_TRUE(window.Initialise());
  window.tabs()->setCurrentIndex(kTabSmart);
  EXPECT_FALSE(window.updateButton()->isEnabled());
  QTableWidget* list = Named<QTableWidget>(window, QStringLiteral("S.M.A.R.T. attributes"));
  ASSERT_NE(list, nullptr);
  EXPECT_GT(list->rowCount(), 0);
  EXPECT_NE(Named<QWidget>(window, QStringLiteral("Health")), nullptr);
}

// A tray plugged in while the program runs shows up in the list and gets its picture within
// seconds, as udev's events would bring it on a real machine.
TEST_F(WindowOnSampleWorld, APluggedTrayAppearsAndGetsItsPicture) {
  const std::string unplug = kKuvlcd + " sim unplug " + world_ + " tray-fat32 >/dev/null";
  ASSERT_EQ(std::system(unplug.c_str()), 0);
  MainWindow window(Language::kEnglish);
  ASSERT_TRUE(window.Initialise());
  const int rows = window.driveList()->topLevelItemCount();
  std::error_code ec;
  fs::remove(Panel("tray1"), ec);
  const std::string plug = kKuvlcd + " sim plug " + world_ + " tray-fat32 >/dev/null";
  ASSERT_EQ(std::system(plug.c_str()), 0);
  QElapsedTimer elapsed;
  elapsed.start();
  // 2.6 s of quiet after the change, then one scan; a sanitizer build on a loaded machine gets
  // more room than the few seconds a user sees.
  EXPECT_TRUE(QTest::qWaitFor(
      [&] {
        return window.driveList()->topLevelItemCount() == rows + 1 && fs::exists(Panel("tray1"));
      },
      20000))
      << "rows " << window.driveList()->topLevelItemCount() << " of " << rows + 1;
  std::printf("the plugged tray was listed and painted after %lld ms\n",
              static_cast<long long>(elapsed.elapsed()));
}

TEST_F(WindowOnSampleWorld, KuvlcdWatchRefusesWhileTheProgramRuns) {
  MainWindow window(Language::kEnglish);
  ASSERT_TRUE(window.Initialise());
  const int status = std::system((kKuvlcd + " watch >/dev/null 2>&1").c_str());
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 3);
}

TEST_F(WindowOnSampleWorld, HelpAndF1OpenTheHelp) {
  MainWindow window(Language::kEnglish);
  ASSERT_TRUE(window.Initialise());
  std::vector<fs::path> opened;
  window.SetBrowser([&](const fs::path& page) {
    opened.push_back(page);
    return true;
  });
  window.ShowFromTray();
  for (QAction* action : window.trayMenu()->actions()) {
    if (action->text() == QStringLiteral("Help")) action->trigger();
  }
  window.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
  QTest::keyClick(&window, Qt::Key_F1);
  ASSERT_EQ(opened.size(), 2u);
  EXPECT_EQ(opened[0].filename(), "index.html");
}

// Without a browser, Help says so and where the page is, in the window's language.
TEST_F(WindowOnSampleWorld, HelpWithoutABrowserSaysWhereThePagesAre) {
  for (Language language : {Language::kEnglish, Language::kJapanese}) {
    MainWindow window(language);
    ASSERT_TRUE(window.Initialise());
    std::optional<fs::path> offered;
    window.SetBrowser([&](const fs::path& page) {
      offered = page;
      return false;
    });
    QString said;
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
      if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
        said = box->text();
        box->close();
      }
    });
    closer.start(20);
    window.ShowHelp();
    closer.stop();
    ASSERT_TRUE(offered);
    EXPECT_EQ(said, QString::fromStdU16String(HelpNotShownMessage(offered, language)));
    EXPECT_TRUE(said.contains(QString::fromStdString(offered->string()))) << said.toStdString();
  }
}

// The sample world's ext4 data drive has reallocated past its threshold: the page says so.
TEST_F(WindowOnSampleWorld, SmartTabShowsTheFailingDriveAsBad) {
  MainWindow window(Language::kEnglish);
  ASSERT_TRUE(window.Initialise());
  ASSERT_GE(SelectDrive(window, QStringLiteral("ext4")), 0);
  window.tabs()->setCurrentIndex(kTabSmart);
  QLabel* health = Named<QLabel>(window, QStringLiteral("Health"));
  ASSERT_NE(health, nullptr);
  EXPECT_EQ(health->text(), QStringLiteral("Bad"));
  QTableWidget* list = Named<QTableWidget>(window, QStringLiteral("S.M.A.R.T. attributes"));
  bool redRow = false;
  for (int r = 0; r < list->rowCount(); ++r) {
    QTableWidgetItem* id = list->item(r, 1);
    if (id && id->text() == QStringLiteral("05")) {
      const QColor colour = id->background().color();
      redRow = colour.red() > 200 && colour.green() < 120 && colour.blue() < 120;
    }
  }
  EXPECT_TRUE(redRow) << "the reallocated sectors row is red";
}

// A picture dropped on the window becomes the bitmap page's; Update LCD on the Image Data tab
// puts it on the panel and into LCD_IMAGE.BMP on the drive.
TEST_F(WindowOnSampleWorld, DroppedBmpReachesThePanelAndTheDrive) {
  MainWindow window(Language::kEnglish);
  ASSERT_TRUE(window.Initialise());
  const int row = SelectDrive(window, QStringLiteral("NTFS"));
  ASSERT_GE(row, 0);
  BmpImage image = DefaultBmpImage();
  for (int y = 10; y < 40; ++y) image.bits[static_cast<std::size_t>(y * 12 + 2)] = 0;
  const std::vector<std::uint8_t> bytes = EncodeBmp(image);
  const std::string logo = dir_ + "/logo.bmp";
  std::ofstream(logo, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
  window.tabs()->setCurrentIndex(kTabBitmap);
  window.session().window.DropFiles({logo});
  ASSERT_TRUE(window.updateButton()->isEnabled());
  QTest::mouseClick(window.updateButton(), Qt::LeftButton);
  EXPECT_EQ(VolumeFiles("LCD_IMAGE.BMP"),
            std::vector<std::string>{std::string(bytes.begin(), bytes.end())});
  const std::string seen = ReadAll(Panel("bridge1"));
  const PictureResult panel =
      DecodePbm(std::span(reinterpret_cast<const std::uint8_t*>(seen.data()), seen.size()));
  ASSERT_TRUE(panel) << panel.error;
  EXPECT_EQ(*panel.picture, PictureFromRaster(image.bits));
}

// The service stopped under the running window: a line says so, no message box interrupts, and
// an Update LCD that cannot reach the panel leaves the drive's settings file as it was.
TEST_F(WindowOnSampleWorld, AStoppedServiceIsShownInALineAndUpdateLeavesTheFileAlone) {
  MainWindow window(Language::kEnglish);
  ASSERT_TRUE(window.Initialise());
  window.ShowFromTray();
  QLabel* status = Named<QLabel>(window, QStringLiteral("Service status"));
  ASSERT_NE(status, nullptr);
  EXPECT_FALSE(status->isVisible());
  const int row = SelectDrive(window, QStringLiteral("NTFS"));
  ASSERT_GE(row, 0);
  QTest::mouseClick(window.updateButton(), Qt::LeftButton);
  const std::optional<std::string> folder =
      DriveFolderPath(window.session().model.table.driveRecords[static_cast<std::size_t>(row)]);
  ASSERT_TRUE(folder);
  const std::string file = *folder + "/LCD_DATA.TXT";
  const std::string saved = ReadAll(file);
  ASSERT_FALSE(saved.empty());
  const std::string picture = ReadAll(Panel("bridge1"));

  int boxes = 0;
  QTimer closer;
  QObject::connect(&closer, &QTimer::timeout, [&] {
    if (QWidget* box = QApplication::activeModalWidget()) {
      ++boxes;
      box->close();
    }
  });
  closer.start(50);
  StopService();
  QLineEdit* line1 = Named<QLineEdit>(window, QStringLiteral("Line 1 text"));
  Named<QComboBox>(window, QStringLiteral("Line 1 item"))->setCurrentIndex(0);
  line1->selectAll();
  QTest::keyClicks(line1, QStringLiteral("Not sent"));
  QTest::mouseClick(window.updateButton(), Qt::LeftButton);
  QApplication::processEvents();
  EXPECT_EQ(boxes, 0);
  EXPECT_TRUE(status->isVisible());
  EXPECT_EQ(status->text(), QString::fromStdU16String(std::u16string(String(4131))));
  EXPECT_EQ(ReadAll(file), saved) << "LCD_DATA.TXT still says what the panel shows";
  EXPECT_EQ(ReadAll(Panel("bridge1")), picture);

  StartService();
  QTest::mouseClick(window.updateButton(), Qt::LeftButton);
  EXPECT_EQ(boxes, 0);
  EXPECT_EQ(status->text(), QString::fromStdU16String(std::u16string(String(4133))));
  EXPECT_NE(ReadAll(file), saved);
  EXPECT_NE(ReadAll(Panel("bridge1")), picture);
}

// A page off screen is not rebuilt at each refresh of the window; it catches up when shown.
TEST_F(WindowOnSampleWorld, PagesAreRefreshedWhenShownNotWhileHidden) {
  MainWindow window(Language::kEnglish);
  ASSERT_TRUE(window.Initialise());
  window.ShowFromTray();
  ASSERT_GE(SelectDrive(window, QStringLiteral("NTFS")), 0);
  Named<QComboBox>(window, QStringLiteral("Line 1 item"))->setCurrentIndex(0);
  QLineEdit* line1 = Named<QLineEdit>(window, QStringLiteral("Line 1 text"));
  const QString before = line1->text();

  window.hide();
  TextPageModel& text = window.session().textPage;
  SetField(window.session().model.table.workingConfig.line1, std::string_view("While hidden"));
  text.view.lines[0].text = u"While hidden";
  text.page.lineTexts[0] = u"While hidden";
  const int redraws = text.redraws;
  for (int i = 0; i < 3; ++i) window.ShowState();
  EXPECT_EQ(line1->text(), before);
  EXPECT_EQ(text.redraws, redraws) << "no preview drawn for a hidden window";

  window.ShowFromTray();
  EXPECT_EQ(line1->text(), QStringLiteral("While hidden"));
  EXPECT_EQ(text.redraws, redraws + 1);
  window.ShowState();
  EXPECT_EQ(text.redraws, redraws + 1) << "nor again while nothing changed";
}

}  // namespace
}  // namespace kuv
