#include "app/model/smart_page.h"

#include <algorithm>
#include <cstdio>

#include "app/compose/line_items.h"
#include "common/utf16.h"

namespace kuv {
namespace {

constexpr std::int32_t kFirstSmartCode = 7;
constexpr std::int32_t kLastSmartCode = 14;

std::u16string Ascii(const std::string& text) {
  return std::u16string(text.begin(), text.end());
}

std::u16string Decimal(int value) {
  return Ascii(std::to_string(value));
}

bool HasCheckBoxes(std::int32_t fileSystemType) {
  return fileSystemType != kFsXfs && fileSystemType != kFsExt;
}

void FillRow(SmartRow& row, const CompactedAttribute& entry, Language language) {
  const SmartAttribute& a = entry.attribute;
  row.texts[0].clear();
  row.texts[1] = Ascii(FormatAttributeId(a.id));
  row.texts[2] = std::u16string(AttributeName(a.id, language));
  row.texts[3] = Decimal(a.current);
  row.texts[4] = Decimal(a.worst);
  row.texts[5] = Decimal(entry.threshold);
  row.texts[6] = Ascii(FormatRawValue(a.raw));
  row.healthClass = entry.healthClass;
  row.background = entry.healthClass == kHealthGood ? kRowGood : HealthColour(entry.healthClass);
}

}  // namespace

std::int32_t EffectiveWarningTemp(std::int32_t stored) {
  if (stored < kFirstWarningTemp || stored > kLastWarningTemp) return kDefaultWarningTemp;
  return stored;
}

SmartPage::SmartPage(LcdModel& model, ProfileStore& profile, ShellHooks& hooks, Language language)
    : model_(model), profile_(profile), hooks_(hooks), language_(language) {
  view_.warningIndex = pageWarningTemp_ - kFirstWarningTemp;
  view_.autoUpdate = model_.autoUpdateFlag == 1;
  lineItemLabels_ = LineItemLabels(language_, std::nullopt);
  DeriveEnableRules();
}

int SmartPage::SlotOfCurrentDrive() const {
  int slot = model_.table.SlotOfDrive(currentDrive_);
  return slot < 0 ? 0 : slot;
}

HealthClass SmartPage::ShowDrive(std::int32_t driveNumber) {
  // Check marks belong to the drive they were made on; only a refresh of the same drive keeps them.
  const bool sameDrive = shownOnce_ && driveNumber == currentDrive_;
  currentDrive_ = driveNumber;
  shownOnce_ = true;
  const int slot = SlotOfCurrentDrive();
  DriveRecord drive;
  {
    std::lock_guard lock(model_.tableLock);
    drive = model_.table.driveRecords[static_cast<std::size_t>(slot)];
  }
  const CompactedAttributeList list = CompactedAttributes(drive.smartData, drive.smartThresholds);

  view_.checkBoxes = HasCheckBoxes(drive.fileSystemType);
  if (!sameDrive || list.size() != static_cast<int>(view_.rows.size()) || !view_.checkBoxes) {
    view_.rows.assign(static_cast<std::size_t>(list.size()), SmartRow{});
    checkedRows_.clear();
  }
  for (int k = 0; k < list.size(); ++k) {
    FillRow(view_.rows[static_cast<std::size_t>(k)], list.entries[static_cast<std::size_t>(k)],
            language_);
  }

  pageHealth_ = DriveHealth(drive.smartData, drive.smartThresholds);
  pageTemperature_ = DriveTemperature(drive.smartData);
  {
    std::lock_guard lock(model_.tableLock);
    DriveRecord& record = model_.table.driveRecords[static_cast<std::size_t>(slot)];
    if (record.driveNumber == drive.driveNumber) record.temperature = pageTemperature_;
  }

  const std::int32_t remembered = model_.table.workingConfig.smartId0;
  if (view_.checkBoxes && remembered >= 0 && remembered < list.size()) {
    SetRowChecked(remembered, true);
  }
  RebuildLineLists();

  view_.autoUpdate = model_.autoUpdateFlag == 1;
  view_.healthText = std::u16string(String(HealthTextId(pageHealth_), language_));
  view_.healthColour = HealthColour(pageHealth_);
  if (pageTemperature_ != 0) {
    char text[16];
    std::snprintf(text, sizeof text, "%d", pageTemperature_);
    view_.temperatureText = Ascii(text) + u"°C";
    view_.temperatureColour =
        pageTemperature_ < pageWarningTemp_ ? kTemperatureBelowLimit : kTemperatureAtLimit;
  } else {
    view_.temperatureText = u"-";
    view_.temperatureColour.reset();
  }
  if (!enabled_) ClearShownValues();
  DeriveEnableRules();
  return pageHealth_;
}

HealthClass SmartPage::ReadAndShowDrive(std::int32_t driveNumber) {
  int slot = model_.table.SlotOfDrive(driveNumber);
  if (slot >= 0) model_.ReadSmart(slot, false);
  return ShowDrive(driveNumber);
}

void SmartPage::SetWarningControls(std::int32_t warningTemp, bool showWarning) {
  pageWarningTemp_ = EffectiveWarningTemp(warningTemp);
  view_.warningIndex = pageWarningTemp_ - kFirstWarningTemp;
  view_.warningChecked = showWarning;
  DeriveEnableRules();
}

void SmartPage::Enable(bool enabled) {
  enabled_ = enabled;
  if (!enabled) ClearShownValues();
  DeriveEnableRules();
}

// A disabled page shows no drive: no rows, "-" for health and temperature.
void SmartPage::ClearShownValues() {
  view_.rows.clear();
  checkedRows_.clear();
  view_.healthText = u"-";
  view_.healthColour.reset();
  view_.temperatureText = u"-";
  view_.temperatureColour.reset();
}

void SmartPage::DeriveEnableRules() {
  const bool temperatureShown = view_.temperatureText != u"-";
  view_.healthEnabled = enabled_;
  view_.temperatureLabelEnabled = enabled_;
  view_.listEnabled = enabled_;
  view_.temperatureEnabled = enabled_ && temperatureShown;
  view_.warningEnabled = enabled_ && temperatureShown;
  view_.warningListEnabled = view_.warningEnabled && view_.warningChecked;
}

void SmartPage::WarningChanged(bool checked, int listIndex) {
  listIndex = std::clamp(listIndex, 0, kLastWarningTemp - kFirstWarningTemp);
  pageWarningTemp_ = kFirstWarningTemp + listIndex;
  view_.warningIndex = listIndex;
  view_.warningChecked = checked;
  ShowDrive(currentDrive_);
  const int slot = SlotOfCurrentDrive();
  ScreenConfig& config = model_.table.screenConfigs[static_cast<std::size_t>(slot)];
  config.showWarningTemp = checked ? 1 : 0;
  config.warningTemp = pageWarningTemp_;
  // The working copy is what Update LCD writes back into the slot, so it must not undo this.
  if (slot == model_.table.selectedDrive) {
    model_.table.workingConfig.showWarningTemp = config.showWarningTemp;
    model_.table.workingConfig.warningTemp = config.warningTemp;
  }
  DeriveEnableRules();
  model_.SaveScreenConfig();
}

void SmartPage::AutoUpdateClicked(bool checked) {
  model_.autoUpdateFlag = checked ? 1 : 0;
  view_.autoUpdate = checked;
  profile_.WriteInt(kSettingSection, kSmartAutoUpdateValue, checked ? 1 : 0);
  profile_.Flush();
}

void SmartPage::SetRowChecked(int row, bool checked) {
  if (row < 0 || row >= static_cast<int>(view_.rows.size())) return;
  view_.rows[static_cast<std::size_t>(row)].checked = checked;
  auto at = std::find(checkedRows_.begin(), checkedRows_.end(), row);
  if (!checked) {
    if (at != checkedRows_.end()) checkedRows_.erase(at);
    return;
  }
  if (at == checkedRows_.end()) checkedRows_.push_back(row);
  while (checkedRows_.size() > 1) {
    view_.rows[static_cast<std::size_t>(checkedRows_.front())].checked = false;
    checkedRows_.erase(checkedRows_.begin());
  }
}

void SmartPage::RowCheckChanged(int row, bool checked) {
  if (!view_.checkBoxes || !enabled_) return;
  if (row < 0 || row >= static_cast<int>(view_.rows.size())) return;
  SetRowChecked(row, checked);
  const std::int32_t selected = checkedRows_.empty() ? -1 : checkedRows_.back();
  DriveTable& table = model_.table;
  const int slot = table.selectedDrive;
  if (slot >= 0 && slot < kSlotCount) {
    RebuildSmartLineItems(table.screenConfigs[static_cast<std::size_t>(slot)], table.workingConfig,
                          selected);
    ReformatSmartLines();
  } else {
    table.workingConfig.smartId0 = selected;
  }
  RebuildLineLists();
  hooks_.TextPageChanged();
}

void SmartPage::RebuildLineLists() {
  std::optional<std::u16string_view> attribute;
  if (!checkedRows_.empty()) {
    attribute = view_.rows[static_cast<std::size_t>(checkedRows_.back())].texts[1];
  }
  lineItemLabels_ = LineItemLabels(language_, attribute);
}

void SmartPage::ReformatSmartLines() {
  DriveTable& table = model_.table;
  DriveRecord drive;
  {
    std::lock_guard lock(model_.tableLock);
    drive = table.driveRecords[static_cast<std::size_t>(table.selectedDrive)];
  }
  ScreenConfig& working = table.workingConfig;
  const LineItemSource source{drive, working, table.clock, table.userName};
  for (int i = 1; i <= kLineCount; ++i) {
    const std::int32_t code = working.lineType(i);
    if (code < kFirstSmartCode || code > kLastSmartCode) continue;
    const std::u16string text = FormatLineItem(code, i, FieldView(working.line(i)), source);
    SetField(working.line(i), std::u16string_view(text));
  }
}

}  // namespace kuv
