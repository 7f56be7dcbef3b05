#include "app/shell/main_window.h"

#include <QApplication>
#include <QThreadPool>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QResizeEvent>
#include <QShortcut>
#include <QSocketNotifier>
#include <QSystemTrayIcon>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdlib>
#include <optional>
#include <vector>

#include "app/health/smart_page_widget.h"
#include "app/model/help_page.h"
#include "app/model/service_hint.h"
#include "app/model/temperature_warning.h"
#include "app/pages/bitmap_page_widget.h"
#include "app/pages/qr_page_widget.h"
#include "app/pages/qt_columns.h"
#include "app/pages/qt_strings.h"
#include "app/pages/text_page_widget.h"
#include "app/shell/help_launcher.h"

namespace kuv {
namespace {

constexpr int kColumnStrings[kListColumns] = {1505, 1504, 1503, 1502, 1501, 1507};
constexpr int kColumnWidths[kListColumns] = {90, 90, 120, 80, 80, 100};
// How long the window says that Update LCD updated the panel.
constexpr int kUpdateNoticeMs = 4000;

}  // namespace

MainWindow::MainWindow(Language language, QWidget* parent)
    : QWidget(parent), language_(language), session_(language) {
  auto tr = [language](int id) { return Text(id, language); };
  setWindowTitle(tr(100));
  setWindowIcon(ProgramIcon());

  list_ = new QTreeWidget(this);
  list_->setAccessibleName(QStringLiteral("Drives"));
  list_->setRootIsDecorated(false);
  list_->setSelectionMode(QAbstractItemView::SingleSelection);
  list_->setSelectionBehavior(QAbstractItemView::SelectRows);
  list_->setAllColumnsShowFocus(true);
  list_->setColumnCount(kListColumns);
  QStringList headers;
  for (int id : kColumnStrings) headers << tr(id);
  list_->setHeaderLabels(headers);
  for (int c = 0; c < kListColumns; ++c) list_->setColumnWidth(c, kColumnWidths[c]);

  tabs_ = new QTabWidget(this);
  update_ = new QPushButton(tr(147), this);
  update_->setToolTip(tr(1872));
  update_->setAccessibleName(tr(147));
  update_->setAutoDefault(false);
  search_ = new QPushButton(tr(146), this);
  search_->setToolTip(tr(1871));
  search_->setAccessibleName(tr(146));
  search_->setAutoDefault(false);

  autostart_ = new QCheckBox(tr(155), this);
  autostart_->setToolTip(tr(1870));
  autostart_->setAccessibleName(tr(155));
  connect(autostart_, &QCheckBox::clicked, this,
          [this](bool on) { session_.window.AutostartClicked(on); });

  menu_ = new QMenu(this);
  const auto actions = {&MainWindow::ShowFromTray, &MainWindow::ShowHelp, &MainWindow::ShowAbout,
                        &MainWindow::Exit};
  int entry = 0;
  for (auto slot : actions) {
    if (entry == 1) menu_->addSeparator();
    connect(menu_->addAction(QString()), &QAction::triggered, this, slot);
    ++entry;
  }
  // The texts are read at each opening, as the tray menu always did.
  connect(menu_, &QMenu::aboutToShow, this, [this] {
    const auto texts = session_.window.TrayMenuTexts();
    int k = 0;
    for (QAction* action : menu_->actions()) {
      if (action->isSeparator()) continue;
      action->setText(QString::fromStdU16String(texts[static_cast<std::size_t>(k++)]));
    }
  });
  emit menu_->aboutToShow();
  menuButton_ = new QToolButton(this);
  menuButton_->setText(tr(4140));
  menuButton_->setAccessibleName(QStringLiteral("Menu"));
  menuButton_->setMenu(menu_);
  menuButton_->setPopupMode(QToolButton::InstantPopup);
  menuButton_->hide();

  updateNotice_ = new QLabel(this);
  updateNotice_->setAccessibleName(QStringLiteral("Update notice"));
  updateNotice_->hide();
  updateNoticeTimer_ = new QTimer(this);
  updateNoticeTimer_->setSingleShot(true);
  connect(updateNoticeTimer_, &QTimer::timeout, updateNotice_, &QWidget::hide);

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(menuButton_);
  buttons->addWidget(autostart_);
  buttons->addStretch();
  buttons->addWidget(updateNotice_);
  buttons->addWidget(search_);
  buttons->addWidget(update_);
  serviceStatus_ = new QLabel(this);
  serviceStatus_->setAccessibleName(QStringLiteral("Service status"));
  serviceStatus_->setWordWrap(true);
  serviceStatus_->hide();

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(list_, 1);
  layout->addWidget(tabs_, 2);
  layout->addWidget(serviceStatus_);
  layout->addLayout(buttons);

  connect(list_, &QTreeWidget::itemSelectionChanged, this, [this] {
    if (showing_) return;
    const QList<QTreeWidgetItem*> items = list_->selectedItems();
    if (items.isEmpty()) return;
    session_.window.SelectRow(list_->indexOfTopLevelItem(items.first()));
  });
  connect(tabs_, &QTabWidget::currentChanged, this, [this](int index) {
    if (!showing_ && index >= 0) session_.window.ChangeTab(index);
  });
  connect(update_, &QPushButton::clicked, this, [this] { session_.window.UpdateLcdClicked(); });
  connect(search_, &QPushButton::clicked, this, [this] {
    if (!runtime_) return;
    runtime_->SearchDevice();
    AfterRuntime();
  });

  session_.window.SetView(this);
  setAcceptDrops(true);
  auto* help = new QShortcut(QKeySequence::HelpContents, this);
  connect(help, &QShortcut::activated, this, &MainWindow::ShowHelp);
  resize(660, 520);
}

MainWindow::~MainWindow() {
  session_.window.SetView(nullptr);
}

bool MainWindow::Initialise() {
  auto tr = [this](int id) { return Text(id, language_); };
  // Qt's raster engine hands every fill of 96 spans or more to the global thread pool and waits
  // for it: in a window this size that woke two pool threads on each repaint, and started them
  // anew after every idle half-minute. One pool thread, kept, is plenty.
  QThreadPool::globalInstance()->setMaxThreadCount(1);
  QThreadPool::globalInstance()->setExpiryTimeout(-1);
  // One copy drives a user's panels: kuvlcd watch and this program never run side by side.
  std::string lockError;
  ownerLock_ = PanelOwnerLock::Acquire("KuvLcdManager", lockError);
  if (!ownerLock_) {
    QMessageBox::critical(nullptr, tr(100), QString::fromStdString(lockError));
    return false;
  }
  if (QSystemTrayIcon::isSystemTrayAvailable()) {
    tray_ = new QSystemTrayIcon(ProgramIcon(true), this);
    tray_->setToolTip(tr(1001));
    tray_->show();
    connect(tray_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason r) {
      if (r == QSystemTrayIcon::DoubleClick) ShowFromTray();
    });
    tray_->setContextMenu(menu_);
  } else {
    // Without a notification area the window carries the tray's commands.
    menuButton_->show();
  }
  const InitOutcome outcome = session_.window.Initialise([this] {
    textPage_ = new TextPageWidget(session_.textPage, language_, tabs_);
    const QString title = Text(2000, language_);
    if (title.isEmpty()) return false;
    tabs_->addTab(textPage_, title);
    tabs_->setTabToolTip(0, title);
    textPage_->setAccessibleName(title);

    bitmapPage_ = new BitmapPageWidget(session_.bitmapPage, language_, tabs_);
    session_.bitmapHooks.Attach(bitmapPage_);
    const QString imageTitle = Text(123, language_);
    if (imageTitle.isEmpty()) return false;
    tabs_->addTab(bitmapPage_, imageTitle);
    bitmapPage_->setAccessibleName(imageTitle);

    qrPage_ = new QrPageWidget(session_.qrPage, language_, tabs_);
    smartPage_ = new SmartPageWidget(session_.smartPage, language_, tabs_);
    for (auto [page, id] : {std::pair<QWidget*, int>{qrPage_, 2001}, {smartPage_, 2002}}) {
      const QString pageTitle = Text(id, language_);
      if (pageTitle.isEmpty()) return false;
      tabs_->addTab(page, pageTitle);
      page->setAccessibleName(pageTitle);
    }
    session_.window.SetAvailableTabs(tabs_->count());
    for (QWidget* page : Pages()) page->installEventFilter(this);
    return true;
  });
  if (outcome == InitOutcome::kServiceUnreachable) {
    // The string says what happened; the detail says what to do about it on this system.
    const ServiceUnreachableText text = UnreachableServiceText(language_);
    QMessageBox box(QMessageBox::Critical, tr(100), QString::fromStdU16String(text.message),
                    QMessageBox::Ok);
    box.setInformativeText(QString::fromStdU16String(text.detail));
    box.exec();
    return false;
  }
  if (outcome == InitOutcome::kPagesFailed) {
    session_.window.ReportError(1060, {});
    QMessageBox::critical(nullptr, tr(100), tr(116));
    return false;
  }
  // The pages decide how much room the window needs; in some languages that is more.
  resize(size().expandedTo(sizeHint()));
  if (tray_) {
    tray_->setIcon(ProgramIcon());
    tray_->setToolTip(tr(100));
  }
  StartLiving();
  ShowState();
  // Without a notification area the window is the only way to reach the program.
  if (!tray_ || session_.model.showAtStart) ShowFromTray();
  return true;
}

void MainWindow::ShowState() {
  if (showing_) return;
  showing_ = true;
  MainWindowModel& window = session_.window;
  if (list_->topLevelItemCount() != static_cast<int>(window.rows.size())) list_->clear();
  bool textsChanged = false;
  for (std::size_t i = 0; i < window.rows.size(); ++i) {
    QTreeWidgetItem* item = list_->topLevelItem(static_cast<int>(i));
    if (!item) item = new QTreeWidgetItem(list_);
    for (int c = 0; c < kListColumns; ++c) {
      const QString text = QString::fromStdU16String(window.rows[i][static_cast<std::size_t>(c)]);
      if (item->text(c) == text) continue;
      item->setText(c, text);
      textsChanged = true;
    }
    item->setToolTip(0, QString::fromStdU16String(window.rowTooltips[i]));
  }
  if (textsChanged) SpreadListColumns();
  QTreeWidgetItem* selected = list_->topLevelItem(window.selectedRow);
  if (selected && list_->currentItem() != selected) list_->setCurrentItem(selected);
  const int tab = session_.model.table.currentTab;
  if (tab < tabs_->count()) tabs_->setCurrentIndex(tab);
  update_->setEnabled(window.pages.updateEnabled);
  autostart_->setChecked(window.autostartChecked);
  if (textPage_) textPage_->setEnabled(window.pages.textPageEnabled);
  if (smartPage_) smartPage_->setEnabled(window.pages.smartPageEnabled);
  for (QWidget* page : Pages()) {
    if (page) RefreshPage(page);
  }
  ShowServiceStatus();
  ShowUpdateNotice();
  showing_ = false;
  emit stateShown();
}

std::array<QWidget*, 4> MainWindow::Pages() const {
  return {textPage_, bitmapPage_, qrPage_, smartPage_};
}

void MainWindow::RefreshPage(QWidget* page) {
  if (!page->isVisible()) {
    // A hidden page would rebuild its rows and preview for nobody; it catches up when shown.
    stalePages_.insert(page);
    return;
  }
  stalePages_.erase(page);
  RefreshPageNow(page);
}

void MainWindow::RefreshPageNow(QWidget* page) {
  if (page == textPage_) textPage_->Refresh();
  if (page == bitmapPage_) bitmapPage_->Refresh();
  if (page == qrPage_) qrPage_->Refresh();
  if (page == smartPage_) smartPage_->Refresh();
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::Show) {
    auto* page = static_cast<QWidget*>(watched);
    if (stalePages_.erase(page) > 0) RefreshPageNow(page);
  }
  return QWidget::eventFilter(watched, event);
}

void MainWindow::ShowServiceStatus() {
  // The status follows the requests the window itself made since the runtime last looked; a
  // service that is back brings a scan, so the timer is armed anew.
  if (runtime_) {
    runtime_->FollowService();
    ArmTimer();
  }
  const ServiceNotice notice = session_.window.serviceStatus.notice();
  // Restyling the line repaints the window; only a new notice is worth that.
  if (shownNotice_ == notice) return;
  shownNotice_ = notice;
  const QString line =
      QString::fromStdU16String(ServiceStatusLine(notice, language_, ServiceSocketPath()));
  serviceStatus_->setText(line);
  serviceStatus_->setStyleSheet(
      notice == ServiceNotice::kBack ? QString() : QStringLiteral("color: rgb(192, 0, 0);"));
  serviceStatus_->setVisible(!line.isEmpty());
  // Until the window has started, the tray says that it is starting.
  if (tray_ && runtime_)
    tray_->setToolTip(QString::fromStdU16String(ServiceTrayTip(notice, language_)));
}

void MainWindow::SpreadListColumns() {
  const std::vector<int> widths = SpreadColumnWidths(
      NeededColumnWidths(*list_, *list_->header(), kColumnWidths), list_->viewport()->width());
  for (int c = 0; c < kListColumns; ++c)
    list_->setColumnWidth(c, widths[static_cast<std::size_t>(c)]);
}

void MainWindow::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  // The layout has given the list its new width by now.
  SpreadListColumns();
}

void MainWindow::ShowUpdateNotice() {
  // A failure the service line tells of wins over the confirmation.
  const ServiceNotice notice = session_.window.serviceStatus.notice();
  const bool failureShown = notice != ServiceNotice::kNone && notice != ServiceNotice::kBack;
  const MainWindowModel::UpdateReport& update = session_.window.lastUpdate;
  const bool newUpdate = update.count != shownUpdates_;
  shownUpdates_ = update.count;
  if (failureShown || (newUpdate && !update.panelUpdated)) {
    updateNoticeTimer_->stop();
    updateNotice_->hide();
    return;
  }
  if (!newUpdate) return;
  updateNotice_->setText(QString::fromStdU16String(PanelUpdatedText(language_)));
  updateNotice_->show();
  updateNoticeTimer_->start(kUpdateNoticeMs);
}

void MainWindow::ShowFromTray() {
  showNormal();
  raise();
  activateWindow();
}

void MainWindow::RestoreTrayIcon() {
  if (tray_) tray_->show();
}

void MainWindow::ShowAbout() {
  auto tr = [this](int id) { return Text(id, language_); };
  QDialog about(this);
  about.setWindowTitle(tr(100));
  auto* icon = new QLabel(&about);
  icon->setPixmap(ProgramIcon().pixmap(64, 64));
  auto* name = new QLabel(tr(100), &about);
  QFont bold = name->font();
  bold.setBold(true);
  name->setFont(bold);
  auto* version =
      new QLabel(tr(4142).replace(QStringLiteral("%s"), QStringLiteral(KUVLCD_VERSION)), &about);
  const QString homepage = QStringLiteral(KUVLCD_HOMEPAGE);
  auto* link = new QLabel(&about);
  if (homepage.isEmpty()) {
    link->setText(QStringLiteral("<a href=\"help:\">%1</a>").arg(tr(700)));
    connect(link, &QLabel::linkActivated, this, [this] { ShowHelp(); });
  } else {
    link->setText(QStringLiteral("<a href=\"%1\">%1</a>").arg(homepage));
    link->setOpenExternalLinks(true);
  }
  link->setAccessibleName(QStringLiteral("Project page"));
  auto* ok = new QDialogButtonBox(QDialogButtonBox::Ok, &about);
  connect(ok, &QDialogButtonBox::accepted, &about, &QDialog::accept);
  auto* text = new QVBoxLayout;
  text->addWidget(name);
  text->addWidget(version);
  text->addWidget(link);
  auto* row = new QHBoxLayout;
  row->addWidget(icon, 0, Qt::AlignTop);
  row->addLayout(text);
  auto* layout = new QVBoxLayout(&about);
  layout->addLayout(row);
  layout->addWidget(ok);
  about_ = &about;
  about.exec();
  about_ = nullptr;
}

void MainWindow::ShowHelp() {
  const std::optional<std::filesystem::path> page = FindHelpPage(language_);
  const bool shown = page && (browser_ ? browser_(*page) : OpenInBrowser(*page));
  if (!shown) {
    QMessageBox::information(this, Text(700, language_),
                             QString::fromStdU16String(HelpNotShownMessage(page, language_)));
  }
}

void MainWindow::Exit() {
  if (about_) about_->reject();
  // The runtime gives a running background scan at most five ticks of two seconds, then quits.
  if (!runtime_) {
    Quit();
    return;
  }
  runtime_->Exit();
  AfterRuntime();
}

void MainWindow::Quit() {
  ending_ = true;
  // A scan still waiting for a hung service cannot be joined; leave it behind.
  if (worker_.Busy()) {
    worker_.Abandon();
    std::_Exit(0);
  }
  QApplication::quit();
}

void MainWindow::StartLiving() {
  runtime_ = std::make_unique<ModelRuntime>(session_.model, clock_, worker_, *this, language_);
  tick_ = new QTimer(this);
  tick_->setSingleShot(true);
  // A coarse timer may fire before the deadline, and the early wake-up finds nothing due; the
  // deadlines are seconds apart, so keeping them exactly costs nothing.
  tick_->setTimerType(Qt::PreciseTimer);
  connect(tick_, &QTimer::timeout, this, [this] {
    runtime_->Advance();
    AfterRuntime();
  });
  auto* scans = new QSocketNotifier(worker_.fd(), QSocketNotifier::Read, this);
  connect(scans, &QSocketNotifier::activated, this, [this] {
    runtime_->CollectScans();
    AfterRuntime();
    emit scanApplied();
  });
  std::string error;
  devices_ = OpenDeviceChanges(error);
  if (devices_) {
    auto* notifier = new QSocketNotifier(devices_->fd(), QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, [this] {
      if (devices_->TakeChanges()) {
        runtime_->DeviceChanged();
        AfterRuntime();
      }
    });
  }
  // Without a system bus the program runs on; it only misses the repaint after resume.
  sleep_ = OpenLogindSleepSignal(error);
  if (sleep_) {
    auto* notifier = new QSocketNotifier(sleep_->fd(), QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, [this] {
      for (SleepEvent event : sleep_->Take()) {
        if (event == SleepEvent::kGoingToSleep) {
          runtime_->PrepareForSleep();
        } else {
          runtime_->Resumed();
        }
      }
      AfterRuntime();
    });
  }
  runtime_->Start();
  if (panelWaitPending_) runtime_->PanelWaitStarted();
  ArmTimer();
}

void MainWindow::ArmTimer() {
  if (!runtime_ || !tick_) return;
  const std::optional<SteadyTime> next = runtime_->NextDeadline();
  if (!next) {
    tick_->stop();
    return;
  }
  const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(*next - clock_.Now());
  tick_->start(static_cast<int>(std::clamp<std::int64_t>(wait.count(), 0, 24 * 3600 * 1000)));
}

void MainWindow::AfterRuntime() {
  ShowState();
  ArmTimer();
}

void MainWindow::StartPanelWait() {
  if (runtime_) {
    runtime_->PanelWaitStarted();
    ArmTimer();
  } else {
    panelWaitPending_ = true;
  }
}

void MainWindow::FillList() {
  session_.window.FillList();
}

int MainWindow::ListRowCount() {
  return static_cast<int>(session_.window.rows.size());
}

void MainWindow::SetSearchEnabled(bool enabled) {
  search_->setEnabled(enabled);
}

void MainWindow::RefreshSmartPage() {
  const DriveTable& table = session_.model.table;
  if (table.driveCount > 0 && table.selectedDrive >= 0 && table.selectedDrive < kSlotCount) {
    session_.smartPage.ShowDrive(
        table.driveRecords[static_cast<std::size_t>(table.selectedDrive)].driveNumber);
  }
  if (smartPage_) RefreshPage(smartPage_);
}

void MainWindow::ServiceReachable(bool reachable) {
  session_.window.serviceStatus.Follow(reachable);
}

void MainWindow::MinutePassed() {
  session_.window.serviceStatus.MinutePassed();
}

void MainWindow::ShowTemperatureWarning(const std::u16string& text) {
  if (!warning_) {
    auto* dialog = new QDialog(this);
    dialog->setWindowTitle(Text(4141, language_));
    warningText_ = new QLabel(dialog);
    warningText_->setWordWrap(true);
    warningText_->setAccessibleName(QStringLiteral("Warning message"));
    warningMute_ = new QCheckBox(Text(1601, language_), dialog);
    warningMute_->setAccessibleName(Text(1601, language_));
    auto* ok = new QDialogButtonBox(QDialogButtonBox::Ok, dialog);
    connect(ok, &QDialogButtonBox::accepted, this, [this] {
      ApplyWarningAnswer(session_.model.table, warningMute_->isChecked());
      warning_->hide();
      ShowState();
    });
    auto* layout = new QVBoxLayout(dialog);
    layout->addWidget(warningText_);
    layout->addWidget(warningMute_);
    layout->addWidget(ok);
    warning_ = dialog;
  }
  warningText_->setText(QString::fromStdU16String(text));
  warningMute_->setChecked(false);
  warning_->show();
  warning_->raise();
}

void MainWindow::HideTemperatureWarning() {
  if (warning_) warning_->hide();
}

void MainWindow::ShowError(const std::u16string& message) {
  QMessageBox::warning(this, Text(100, language_), QString::fromStdU16String(message));
}

bool MainWindow::AskRestart() {
  return QMessageBox::question(this, Text(100, language_), Text(3010, language_)) ==
         QMessageBox::Yes;
}

void MainWindow::EndProgram() {
  ending_ = true;
  QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (ending_) {
    event->accept();
    return;
  }
  // Closing hides to the tray; without a tray it minimises, so the program stays reachable.
  event->ignore();
  if (tray_) {
    hide();
  } else {
    showMinimized();
  }
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
  if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* event) {
  std::vector<std::string> paths;
  for (const QUrl& url : event->mimeData()->urls()) {
    if (url.isLocalFile()) paths.push_back(url.toLocalFile().toStdString());
  }
  session_.window.DropFiles(paths);
  event->acceptProposedAction();
}

void MainWindow::keyPressEvent(QKeyEvent* event) {
  if (SwallowDialogKeys(event)) return;
  QWidget::keyPressEvent(event);
}

}  // namespace kuv
