// Drive discovery: command 1 for drive numbers 0 to 31, the answers kept in the 16 slots.

#include <algorithm>
#include <array>

#include "app/model/lcd_model.h"
#include "common/utf16.h"

namespace kuv {
namespace {

using PathHints = PanelPaths;

// The last known panel path of each drive number, so a tied panel is recognised without probing:
// the listed drive's, else one remembered from before the table was filled.
PathHints BuildPathHints(const DriveTable& table, const PanelPaths& earlier) {
  PathHints hints = earlier;
  for (const auto& record : table.driveRecords) {
    if (record.driveNumber >= 0 && record.driveNumber < kDriveNumbers) {
      hints[static_cast<std::size_t>(record.driveNumber)] = FieldView(record.hidPath);
    }
  }
  return hints;
}

// Drives with a known panel path are asked first: a known path is taken without probing, and the
// service then leaves the panels they name out of the probes for the other drives. Every drive
// is still asked once, and the answers are used in drive order.
std::array<int, kDriveNumbers> RequestOrder(const PathHints& hints) {
  std::array<int, kDriveNumbers> order{};
  std::size_t next = 0;
  for (int pass = 0; pass < 2; ++pass) {
    for (int n = 0; n < kDriveNumbers; ++n) {
      if (hints[static_cast<std::size_t>(n)].empty() == (pass == 0)) continue;
      order[next++] = n;
    }
  }
  return order;
}

bool IsListed(std::int32_t connectionState) {
  return connectionState >= kBridgePlain && connectionState <= kSiliconImageWithoutFilter;
}

bool IsHidTied(std::int32_t connectionState) {
  return connectionState >= kNotSiliconImageHost && connectionState <= kSiliconImageWithoutFilter;
}

}  // namespace

const DriveRecord* LcdModel::KeepIfAsleep(bool automatic, std::int32_t driveNumber,
                                          const std::array<DriveRecord, kSlotCount>& listed,
                                          DriveRecord& info) {
  if (!automatic) return nullptr;
  const auto known =
      std::find_if(listed.begin(), listed.end(),
                   [driveNumber](const DriveRecord& r) { return r.driveNumber == driveNumber; });
  if (known == listed.end() || !PowerModeResultAsleep(ports_.service.GetPowerMode(driveNumber))) {
    return nullptr;
  }
  // Still there, only asleep: what it was is what it is.
  info = *known;
  return &*known;
}

std::int32_t LcdModel::ScanDrives(bool full, bool automatic,
                                  std::optional<std::int32_t> onlyDrive) {
  ServicePass pass(ports_.service.link);
  const std::int32_t hidPanels = onlyDrive ? 0 : ports_.system.HidLcdCount();
  PathHints hints;
  std::array<DriveRecord, kSlotCount> listed;
  const std::array<ScreenConfig, kSlotCount> configs = table.screenConfigs;
  const std::array<bool, kSlotCount> foundBefore = table.lcdDataFound;
  {
    std::lock_guard lock(tableLock);
    if (full) {
      for (auto& record : table.driveRecords) record.volumeLabel[0] = u'\0';
    }
    hints = BuildPathHints(table, earlierPanelPaths);
    listed = table.driveRecords;
  }
  std::array<DriveRecord, kDriveNumbers> infos{};
  std::array<std::int32_t, kDriveNumbers> results{};
  std::array<const DriveRecord*, kDriveNumbers> keptAsleep{};
  bool lost = false;
  for (int n : RequestOrder(hints)) {
    const auto i = static_cast<std::size_t>(n);
    if (onlyDrive && n != *onlyDrive && hints[i].empty()) continue;
    SetField(infos[i].hidPath, std::u16string_view(hints[i]));
    keptAsleep[i] = KeepIfAsleep(automatic, n, listed, infos[i]);
    results[i] = keptAsleep[i] ? 1 : ports_.service.GetLcdInfo(n, autoUpdateFlag, infos[i]);
    // The drives answered so far still take their slots; the rest keep what they held.
    if (results[i] == -1) {
      results[i] = 0;
      lost = true;
      break;
    }
  }
  int hidTied = 0;
  bool sataHost = false;
  int slot = 0;
  for (int n = 0; n < kDriveNumbers; ++n) {
    const DriveRecord& info = infos[static_cast<std::size_t>(n)];
    const DriveRecord* kept = keptAsleep[static_cast<std::size_t>(n)];
    if (results[static_cast<std::size_t>(n)] == 0) continue;
    std::int32_t state = info.connectionState;
    if (state == kSiliconImageWithoutFilter) sataHost = true;
    if (IsHidTied(state)) ++hidTied;
    // The table has 16 slots; a seventeenth drive with a panel cannot be kept.
    if (!IsListed(state) || slot >= kSlotCount) continue;
    {
      std::lock_guard lock(tableLock);
      table.driveRecords[static_cast<std::size_t>(slot)] = info;
    }
    if (kept) {
      // Its settings file is on the sleeping disk: the configuration it had comes along instead.
      const auto from = static_cast<std::size_t>(kept - listed.data());
      table.screenConfigs[static_cast<std::size_t>(slot)] = configs[from];
      table.lcdDataFound[static_cast<std::size_t>(slot)] = foundBefore[from];
    } else {
      LoadScreenConfig(slot);
    }
    if (!lost) ports_.service.StopLcdTimer(info.driveNumber);
    ++slot;
  }
  if (lost) return -1;
  if (!onlyDrive && hidTied != hidPanels && !waitingForPanels) {
    waitingForPanels = true;
    showAtStart = true;
    ports_.hooks.StartPanelWait();
  }
  {
    std::lock_guard lock(tableLock);
    for (int k = slot; k < kSlotCount; ++k) table.EmptySlot(k);
  }
  if (sataHost) {
    RunRestartQuestion();
    return 0;
  }
  return slot;
}

PanelPaths LcdModel::ListedPanelPaths() const {
  std::lock_guard lock(tableLock);
  return BuildPathHints(table, {});
}

ScanResult LcdModel::WorkerScan(bool automatic) {
  ServicePass pass(ports_.service.link);
  scanBusy = true;
  const std::int32_t hidPanels = ports_.system.HidLcdCount();
  ScanResult report;
  int hidTied = 0;
  PathHints hints;
  std::array<DriveRecord, kSlotCount> before;
  {
    std::lock_guard lock(tableLock);
    hints = BuildPathHints(table, earlierPanelPaths);
    before = table.driveRecords;
  }
  // Up to 32 exchanges, the first that finds the service gone ending the scan: the table stays
  // free for the window meanwhile.
  std::array<DriveRecord, kDriveNumbers> infos{};
  std::array<std::int32_t, kDriveNumbers> results{};
  for (int n : RequestOrder(hints)) {
    const auto i = static_cast<std::size_t>(n);
    SetField(infos[i].hidPath, std::u16string_view(hints[i]));
    // A failed exchange comes back as sent, with no state: it simply yields no drive.
    const DriveRecord* kept = KeepIfAsleep(automatic, n, before, infos[i]);
    results[i] = kept ? 1 : ports_.service.GetLcdInfo(n, autoUpdateFlag, infos[i]);
    if (pass.unreachable()) {
      // What the pass found before the service went is not the whole list: none of it is told.
      ScanResult lost;
      lost.serviceUnreachable = true;
      scanBusy = false;
      return lost;
    }
    if (kept) report.keptAsleep.push_back(n);
  }
  std::sort(report.keptAsleep.begin(), report.keptAsleep.end());
  for (int n = 0; n < kDriveNumbers; ++n) {
    const DriveRecord& info = infos[static_cast<std::size_t>(n)];
    const std::int32_t result = results[static_cast<std::size_t>(n)];
    if (result == 0 || !IsListed(info.connectionState)) continue;
    if (IsHidTied(info.connectionState)) ++hidTied;
    if (info.connectionState == kSiliconImageWithoutFilter) report.sataHostFound = true;
    if (report.count >= kSlotCount) continue;
    report.drives.push_back(info);
    ++report.count;
  }
  report.hidMismatch = hidTied != hidPanels;
  scanBusy = false;
  return report;
}

bool SameDrive(const DriveRecord& a, const DriveRecord& b) {
  return a.driveNumber == b.driveNumber && FieldView(a.serialNumber) == FieldView(b.serialNumber);
}

bool LcdModel::HandleScanReport(const ScanResult& result, bool deviceChange) {
  if (result.serviceUnreachable) return false;
  const int count = std::clamp(result.count, 0, kSlotCount);
  bool drivesChanged = count != table.driveCount;
  const std::array<ScreenConfig, kSlotCount> configs = table.screenConfigs;
  const std::array<bool, kSlotCount> foundBefore = table.lcdDataFound;
  std::array<DriveRecord, kSlotCount> listed;
  {
    std::lock_guard lock(tableLock);
    listed = table.driveRecords;
    for (int k = 0; k < count && static_cast<std::size_t>(k) < result.drives.size(); ++k) {
      DriveRecord& slot = table.driveRecords[static_cast<std::size_t>(k)];
      const DriveRecord& found = result.drives[static_cast<std::size_t>(k)];
      if (!SameDrive(slot, found)) drivesChanged = true;
      slot = found;
    }
  }
  if (deviceChange) {
    // The same count with the same drives: the configurations in the table still fit them.
    if (!drivesChanged) return false;
    // Another set of drives: every configuration is read afresh from its store below.
    for (auto& config : table.screenConfigs) config = ScreenConfig{};
    table.lcdDataFound.fill(false);
  }
  if (result.sataHostFound && !restartQuestionOpen) {
    RunRestartQuestion();
  } else if (result.hidMismatch && !waitingForPanels) {
    waitingForPanels = true;
    showAtStart = true;
    ports_.hooks.StartPanelWait();
  }
  {
    std::lock_guard lock(tableLock);
    for (int k = count; k < kSlotCount; ++k) table.EmptySlot(k);
  }
  // The settings are read before the list is filled, whose selection of row 0 then shows them
  // without reading them again.
  for (int k = 0; k < kSlotCount; ++k) {
    const auto index = static_cast<std::size_t>(k);
    const DriveRecord drive = RecordOf(k);
    if (drive.driveNumber == kEmptyDriveNumber) continue;
    const auto& kept = result.keptAsleep;
    const auto before = std::find_if(listed.begin(), listed.end(), [&drive](const DriveRecord& r) {
      return SameDrive(r, drive);
    });
    if (std::find(kept.begin(), kept.end(), drive.driveNumber) != kept.end() &&
        before != listed.end()) {
      // Its settings file is on the sleeping disk: the configuration it had comes along instead.
      const auto from = static_cast<std::size_t>(before - listed.begin());
      table.screenConfigs[index] = configs[from];
      table.lcdDataFound[index] = foundBefore[from];
    } else if (k == 0 || table.screenConfigs[index].lcdDataType != kLcdQr) {
      // Row 0 is selected next, and a selection reads its drive's settings whatever it shows.
      LoadScreenConfig(k);
    }
  }
  table.selectedDrive = -1;
  ports_.hooks.FillList();
  int occupied = OccupiedSlots();
  if (occupied != table.driveCount) {
    table.driveCount = occupied;
    ports_.hooks.FillList();
  }
  ports_.hooks.AfterScanReport();
  return true;
}

void LcdModel::RunRestartQuestion() {
  restartQuestionOpen = true;
  bool restart = ports_.hooks.AskRestart();
  // The filter is registered whatever the answer, so S.M.A.R.T. works after the next start;
  // a tool leaves the adapters' filter lists alone unless asked.
  if (ports_.hooks.MayRegisterSataFilter()) ports_.service.AddSataFilter();
  ports_.hooks.EndProgram();
  if (restart) ports_.hooks.RequestRestart();
  restartQuestionOpen = false;
}

}  // namespace kuv
