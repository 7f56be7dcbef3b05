#pragma once
// The program's one window: the drive list, the tab pages and the Update LCD and Search Device
// buttons, with the tray icon. It shows MainWindowModel's state and forwards events to it.

#include <QIcon>
#include <QWidget>
#include <array>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <set>

#include "app/model/device_changes.h"
#include "app/model/main_window_model.h"
#include "app/model/model_runtime.h"
#include "app/model/panel_owner_lock.h"
#include "app/model/scheduler.h"
#include "app/model/sleep_signal.h"
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

class MainWindow : public QWidget, public WindowView, public RuntimeHooks {
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
  // A background scan is queued or running.
  bool scanRunning() { return worker_.Busy(); }
  // The timers' runtime, once the window has started.
  ModelRuntime* runtime() const { return runtime_.get(); }

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
  void StartPanelWait() override;

  // RuntimeHooks
  void ShowTemperatureWarning(const std::u16string& text) override;
  void HideTemperatureWarning() override;
  void RefreshSmartPage() override;
  void SetSearchEnabled(bool enabled) override;
  void FillList() override;
  int ListRowCount() override;
  void Quit() override;
  void ServiceReachable(bool reachable) override;
  void MinutePassed() override;
  QWidget* temperatureWarning() const { return warning_; }
  // Tests stand in for the desktop's browser: it gets the help page and says whether it took it.
  void SetBrowser(std::function<bool(const std::filesystem::path&)> browser) {
    browser_ = std::move(browser);
  }

 signals:
  void stateShown();
  void scanApplied();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  // The runtime's next deadline as the one timer of the window.
  void ArmTimer();
  // After the runtime acted: show the model and wait for the next deadline.
  void AfterRuntime();
  void StartLiving();
  // The four tab pages, null before they are made.
  std::array<QWidget*, 4> Pages() const;
  // A page's controls are read from its model when it is on screen: now, or when it is shown.
  void RefreshPage(QWidget* page);
  void RefreshPageNow(QWidget* page);
  void ShowServiceStatus();
  // The drive list's columns as wide as their texts need, sharing the list's width.
  void SpreadListColumns();
  // Says for a moment that the last Update LCD updated the panel.
  void ShowUpdateNotice();

  Language language_;
  WindowSession session_;
  QTreeWidget* list_ = nullptr;
  QTabWidget* tabs_ = nullptr;
  QCheckBox* autostart_ = nullptr;
  QMenu* menu_ = nullptr;
  QToolButton* menuButton_ = nullptr;
  class QDialog* about_ = nullptr;
  std::function<bool(const std::filesystem::path&)> browser_;
  QPushButton* update_ = nullptr;
  QPushButton* search_ = nullptr;
  TextPageWidget* textPage_ = nullptr;
  BitmapPageWidget* bitmapPage_ = nullptr;
  QrPageWidget* qrPage_ = nullptr;
  SmartPageWidget* smartPage_ = nullptr;
  QSystemTrayIcon* tray_ = nullptr;
  SystemSchedulerClock clock_;
  ThreadScanWorker worker_;
  std::unique_ptr<ModelRuntime> runtime_;
  std::unique_ptr<DeviceChangeSource> devices_;
  std::unique_ptr<SleepSignal> sleep_;
  std::unique_ptr<PanelOwnerLock> ownerLock_;
  QTimer* tick_ = nullptr;
  bool panelWaitPending_ = false;
  QWidget* warning_ = nullptr;
  class QLabel* warningText_ = nullptr;
  QCheckBox* warningMute_ = nullptr;
  QLabel* serviceStatus_ = nullptr;
  std::optional<ServiceNotice> shownNotice_;
  std::set<QWidget*> stalePages_;  // changed while hidden; refreshed when next shown
  class QLabel* updateNotice_ = nullptr;
  QTimer* updateNoticeTimer_ = nullptr;
  int shownUpdates_ = 0;  // the count of the last Update LCD shown
  bool showing_ = false;
  bool ending_ = false;
};

// The program's icon; the "starting" form while the first scan runs.
QIcon ProgramIcon(bool starting = false);

}  // namespace kuv
