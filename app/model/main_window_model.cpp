#include "app/model/main_window_model.h"

#include <algorithm>
#include <cstdio>

#include "common/utf16.h"

namespace kuv {
namespace {

constexpr int kPanelUpdatedString = 4143;

}  // namespace

void MainWindowModel::Attach(LcdModel& model, TextPageModel& textPage) {
  model_ = &model;
  text_ = &textPage;
}

void MainWindowModel::Changed() {
  if (view_) view_->ShowState();
}

const DriveRecord* MainWindowModel::Selected() const {
  const DriveTable& table = model_->table;
  const int slot = table.selectedDrive;
  if (table.driveCount <= 0 || slot < 0 || slot >= kSlotCount) return nullptr;
  return &table.driveRecords[static_cast<std::size_t>(slot)];
}

ListRow MainWindowModel::RowOf(const DriveRecord& drive) const {
  return ListRowTexts(drive, language_);
}

InitOutcome MainWindowModel::Initialise(const std::function<bool()>& createPages) {
  DriveTable& table = model_->table;
  table.currentTab = kTabText;
  model_->TakeClockSnapshot();
  const std::int32_t count = model_->ScanDrives(true);
  table.driveCount = count;
  if (count == -1) return InitOutcome::kServiceUnreachable;

  if (createPages && !createPages()) return InitOutcome::kPagesFailed;
  text_->Initialise();
  // Without a drive no selection brings the QR page its settings: it starts from the defaults.
  if (qr_ && table.driveCount <= 0) qr_->Start();

  // Filling the list selects row 0, which shows its configuration on every page.
  FillList();
  if (static_cast<int>(rows.size()) != table.driveCount) RefreshRowTexts();
  model_->StartupRefresh();
  model_->LoadSettings();
  autostartChecked = model_->system().AutostartRegistered();
  if (Selected()) TabOfDataType(table.workingConfig.lcdDataType);
  RefreshPageState();
  Changed();
  return InitOutcome::kRunning;
}

void MainWindowModel::FillList() {
  const DriveTable& table = model_->table;
  rows.clear();
  rowTooltips.clear();
  const int count = std::min(table.driveCount, kSlotCount);
  for (int i = 0; i < count; ++i) {
    const DriveRecord& drive = table.driveRecords[static_cast<std::size_t>(i)];
    if (drive.driveNumber == kEmptyDriveNumber) break;
    rows.push_back(RowOf(drive));
    rowTooltips.emplace_back(FieldView(drive.driveLetter));
    model_->table.screenConfigs[static_cast<std::size_t>(i)].listRow = i;
  }
  selectedRow = -1;
  // The list is filled after a scan has loaded every drive's settings: its first row shows them
  // without reading the files again.
  if (!rows.empty()) ShowRow(0, false);
  Changed();
}

void MainWindowModel::RefreshRowTexts() {
  const DriveTable& table = model_->table;
  for (std::size_t i = 0; i < rows.size() && i < kSlotCount; ++i) {
    rows[i] = RowOf(table.driveRecords[i]);
    rowTooltips[i] = std::u16string(FieldView(table.driveRecords[i].driveLetter));
  }
  selectedRow = table.selectedDrive < static_cast<int>(rows.size()) ? table.selectedDrive : -1;
  Changed();
}

void MainWindowModel::SelectRow(int row) {
  ShowRow(row, true);
}

void MainWindowModel::ShowRow(int row, bool reload) {
  DriveTable& table = model_->table;
  if (row < 0 || row >= static_cast<int>(rows.size()) || row >= kSlotCount) return;
  selectedRow = row;
  model_->SelectDrive(row, reload);
  text_->LoadTextPage(table.driveRecords[static_cast<std::size_t>(row)].driveNumber);

  const DriveRecord drive = table.driveRecords[static_cast<std::size_t>(row)];
  if (table.currentTab != kTabSmart) {
    TabOfDataType(table.screenConfigs[static_cast<std::size_t>(row)].lcdDataType);
  }
  RefreshPageState();

  const bool recorderDisk = IsVideoRecorderDisk(drive.fileSystemType);
  if (!recorderDisk && drive.connectionState == kBridgeLocked) {
    pages.updateEnabled = false;
    pages.textPageEnabled = pages.qrPageEnabled = pages.bitmapPageEnabled = false;
  } else if (!recorderDisk) {
    pages.updateEnabled = true;
    pages.qrPageEnabled = true;
    pages.textPageEnabled = true;
    pages.bitmapPageEnabled = true;
    pages.bitmapSettingsEnabled = true;
    text_->EnableLineControls(
        true, UsesBarLayout(drive.fileSystemType) ? LineForm::kBar : LineForm::kFourLine);
  } else {
    pages.updateEnabled = table.currentTab != kTabQr;
    pages.qrPageEnabled = false;
    pages.textPageEnabled = true;
    pages.bitmapPageEnabled = true;
    pages.bitmapSettingsEnabled = false;
    text_->EnableLineControls(true, LineForm::kBar);
  }
  pages.smartPageEnabled = true;
  ShowBitmapSettings();
  ShowOnOtherPages(row);
  // Update LCD never acts from the S.M.A.R.T. tab, and never on a drive whose file system is
  // unknown: there is nothing there to save to.
  if (table.currentTab == kTabSmart || drive.fileSystemType == kFsUnknown) {
    pages.updateEnabled = false;
  }
  if (drive.fileSystemType == kFsUnknown) {
    pages.textPageEnabled = pages.qrPageEnabled = pages.bitmapPageEnabled = false;
    if (bitmap_) bitmap_->EnablePage(false);
  }
  Changed();
}

// The S.M.A.R.T. page shows the drive with its warning settings; the QR page its QR settings.
void MainWindowModel::ShowOnOtherPages(int row) {
  DriveTable& table = model_->table;
  const auto slot = static_cast<std::size_t>(row);
  const std::int32_t driveNumber = table.driveRecords[slot].driveNumber;
  if (smart_) {
    smart_->SetWarningControls(table.screenConfigs[slot].warningTemp,
                               table.screenConfigs[slot].showWarningTemp != 0);
    smart_->Enable(pages.smartPageEnabled);
    if (table.currentTab == kTabSmart) {
      smart_->ReadAndShowDrive(driveNumber);
    } else {
      smart_->ShowDrive(driveNumber);
    }
  }
  if (qr_) {
    if (pages.qrPageEnabled) qr_->LoadFromDrive(driveNumber);
    qr_->EnablePage(pages.qrPageEnabled);
  }
  // The S.M.A.R.T. page has just checked the drive's remembered attribute: a line showing one of
  // its items must find that item in its list.
  ShowSmartLineLists();
}

void MainWindowModel::ShowBitmapSettings() {
  if (!bitmap_) return;
  bitmap_->EnablePage(pages.bitmapPageEnabled);
  bitmap_->LoadFromConfiguration();
  if (!pages.bitmapSettingsEnabled) bitmap_->EnableImageSettings(false);
  bitmap_->DrawBitmapPreview();
}

void MainWindowModel::DropFiles(const std::vector<std::string>& paths) {
  if (!bitmap_ || !pages.bitmapPageEnabled) return;
  bitmap_->DropFiles(paths);
  Changed();
}

void MainWindowModel::TabOfDataType(std::int32_t lcdDataType) {
  const int tab = TabForLcdDataType(lcdDataType);
  model_->table.currentTab = tab < availableTabs_ ? tab : kTabText;
}

void MainWindowModel::ChangeTab(int tab) {
  if (tab < 0 || tab >= std::min(kTabCount, availableTabs_)) return;
  model_->table.currentTab = tab;
  RefreshPageState();
  if (tab == kTabBitmap && bitmap_) bitmap_->DrawBitmapPreview();
  // Opening the S.M.A.R.T. page is asking to see the values: read them, even from a sleeping disk.
  if (tab == kTabSmart && smart_ && Selected()) smart_->ReadAndShowDrive(Selected()->driveNumber);
  Changed();
}

void MainWindowModel::RefreshPageState() {
  const DriveTable& table = model_->table;
  const DriveRecord* drive = Selected();
  if (table.driveCount <= 0 || !drive || drive->fileSystemType == kFsUnknown) {
    pages.updateEnabled = false;
    pages.textPageEnabled = pages.qrPageEnabled = pages.smartPageEnabled = false;
    pages.bitmapPageEnabled = false;
    if (bitmap_) bitmap_->EnablePage(false);
    return;
  }
  const int tab = table.currentTab;
  if (UsesBarLayout(drive->fileSystemType)) {
    pages.textPageEnabled = true;
    text_->EnableLineControls(true, LineForm::kBar);
    if (tab == kTabQr) {
      const bool usable = !IsVideoRecorderDisk(drive->fileSystemType);
      pages.updateEnabled = usable;
      pages.qrPageEnabled = usable;
    } else {
      pages.updateEnabled = tab != kTabSmart;
    }
  } else if (drive->connectionState == kBridgeLocked) {
    pages.updateEnabled = false;
    pages.textPageEnabled = false;
  } else {
    pages.updateEnabled = tab != kTabSmart;
    if (tab == kTabText) {
      pages.textPageEnabled = true;
      text_->EnableLineControls(true, LineForm::kFourLine);
    }
  }
  if (tab == kTabQr && qr_) {
    qr_->EnablePage(pages.qrPageEnabled);
    const std::size_t slot = static_cast<std::size_t>(table.selectedDrive);
    if (table.screenConfigs[slot].lcdDataType == kLcdQr) qr_->LoadRaster(model_->table.raster);
  }
}

void MainWindowModel::UpdateLcdClicked() {
  if (!pages.updateEnabled) return;
  const SaveOutcome outcome = model_->UpdateLcd();
  serviceStatus.UpdateFinished(outcome);
  lastUpdate = {lastUpdate.count + 1, ConfirmsPanelUpdate(outcome)};
  Changed();
}

bool ConfirmsPanelUpdate(const SaveOutcome& outcome) {
  return outcome.saved && outcome.lcdDataError == 0 && !outcome.profileError &&
         !outcome.serviceUnreachable && !outcome.panelNotUpdated && !outcome.panelRefused;
}

std::u16string PanelUpdatedText(Language language) {
  return std::u16string(String(kPanelUpdatedString, language));
}

void MainWindowModel::AutostartClicked(bool checked) {
  autostartChecked = checked;
  model_->service().SetAutorun(checked);
  Changed();
}

std::vector<std::u16string> MainWindowModel::TrayMenuTexts() const {
  std::vector<std::u16string> texts;
  for (int id : {600, 601, 602, 603}) texts.emplace_back(String(id, language_));
  return texts;
}

void MainWindowModel::RedrawPreview() {
  text_->RefreshTextPage();
}

// The line lists as the S.M.A.R.T. page last built them around its checked attribute.
void MainWindowModel::ShowSmartLineLists() {
  if (!smart_ || smart_->lineItemLabels().empty()) return;
  const DriveTable& table = model_->table;
  const DriveRecord* drive = Selected();
  for (auto& line : text_->view.lines) {
    line.items = smart_->lineItemLabels();
    if (drive && IsVideoRecorderDisk(drive->fileSystemType)) line.items.resize(1);
  }
  for (int i = 1; i <= kLineCount; ++i) {
    const std::int32_t type = table.workingConfig.lineType(i);
    auto& line = text_->view.lines[static_cast<std::size_t>(i - 1)];
    line.selectedItem = type >= 0 && type < static_cast<int>(line.items.size()) ? type : -1;
  }
}

void MainWindowModel::TextPageChanged() {
  const DriveTable& table = model_->table;
  ShowSmartLineLists();
  if (table.driveCount > 0 && table.selectedDrive >= 0) {
    for (int i = 1; i <= kLineCount; ++i) {
      text_->view.lines[static_cast<std::size_t>(i - 1)].text =
          std::u16string(FieldView(table.workingConfig.line(i)));
    }
    text_->RefreshTextPage();
  }
  Changed();
}

void MainWindowModel::StartPanelWait() {
  if (view_) view_->StartPanelWait();
}

void MainWindowModel::AfterScanReport() {
  if (view_) view_->AfterScanReport();
  Changed();
}

bool MainWindowModel::AskRestart() {
  return view_ && view_->AskRestart();
}

void MainWindowModel::EndProgram() {
  if (view_) view_->EndProgram();
}

void MainWindowModel::RequestRestart() {
  if (view_) view_->RequestRestart();
}

void MainWindowModel::ReportError(int number, const std::string& systemText) {
  char text[32];
  std::snprintf(text, sizeof text, "%d", number);
  std::u16string message(String(201, language_));
  const std::size_t at = message.find(u"%d");
  if (at != std::u16string::npos) message.replace(at, 2, Utf8ToUtf16(text));
  if (!systemText.empty()) message += u"\n" + Utf8ToUtf16(systemText);
  if (view_) view_->ShowError(message);
}

}  // namespace kuv
