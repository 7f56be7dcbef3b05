#pragma once
// The program's one window: the drive list, the tab pages and the Update LCD and Search Device
// buttons, with the tray icon. It shows MainWindowModel's state and forwards events to it.

#include <QIcon>
#include <QWidget>
#include <atomic>
#include <functional>
#include <memory>
#include <thread>

#include "app/model/main_window_model.h"
#include "app/shell/window_session.h"

class QCheckBox;
class QMenu;
class QPushButton;
class QTimer;
class QToolButton;
class QSystemTrayIcon;
class QTabWidget;
class QTreeWidget;

namespace kuv {

class BitmapPageWidget;
class QrPageWidget;
class SmartPageWidget;
class TextPageWidget;

class MainWindow : public QWidget, public WindowView {
  Q_OBJECT
 public:
  explicit MainWindow(Language language = SystemLanguage(), QWidget* parent = nullptr);
  ~MainWindow() override;

  // The window's initialisation; false when the program must end (its message was shown).
  bool Initialise();

  WindowSession& session() { return session_; }
  TextPageWidget* textPage() const { return textPage_; }
  BitmapPageWidget* bitmapPage() const { return bitmapPage_; }
  QSystemTrayIcon* trayIcon() const { return tray_; }
  QTreeWidget* driveList() const { return list_; }
  QTabWidget* tabs() const { return tabs_; }
  QPushButton* updateButton() const { return update_; }
  QPushButton* searchButton() const { return search_; }
  // Whether the last background scan has been applied.
  bool scanRunning() const { return scanThread_.joinable(); }

  // Shows and raises the window, as a double click on the tray icon does.
  void ShowFromTray();
  void RestoreTrayIcon();
  // The tray menu's commands.
  void ShowAbout();
  void ShowHelp();
  void Exit();
  QMenu* trayMenu() const { return menu_; }
  QCheckBox* autostartBox() const { return autostart_; }
  QToolButton* menuButton() const { return menuButton_; }

  // WindowView
  void ShowState() override;
  void ShowError(const std::u16string& message) override;
  bool AskRestart() override;
  void EndProgram() override;

 signals:
  void stateShown();
  void scanApplied();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  void StartBackgroundScan();
  void ApplyScanReport(ScanResult result);

  Language language_;
  WindowSession session_;
  QTreeWidget* list_ = nullptr;
  QTabWidget* tabs_ = nullptr;
  QCheckBox* autostart_ = nullptr;
  QMenu* menu_ = nullptr;
  QToolButton* menuButton_ = nullptr;
  QTimer* exitTimer_ = nullptr;
  int exitTicks_ = 0;
  class QDialog* about_ = nullptr;
  std::function<void()> helpOpener_;
  QPushButton* update_ = nullptr;
  QPushButton* search_ = nullptr;
  TextPageWidget* textPage_ = nullptr;
  BitmapPageWidget* bitmapPage_ = nullptr;
  QrPageWidget* qrPage_ = nullptr;
  SmartPageWidget* smartPage_ = nullptr;
  QSystemTrayIcon* tray_ = nullptr;
  std::thread scanThread_;
  bool showing_ = false;
  bool ending_ = false;
};

// The program's icon; the "starting" form while the first scan runs.
QIcon ProgramIcon(bool starting = false);

}  // namespace kuv
