#include "app/model/text_page_model.h"

#include <cstring>
#include <memory>

#include "app/compose/renderer.h"
#include "common/utf16.h"

namespace kuv {
namespace {

constexpr int kRotationStrings[] = {160, 161, 162, 163};
constexpr std::int32_t kRotations[] = {0, 90, 180, 270};
constexpr std::size_t kLine5 = 4;

std::size_t Index(int line) {
  return static_cast<std::size_t>(line - 1);
}

bool ValidLine(int line) {
  return line >= 1 && line <= kLineCount;
}

}  // namespace

int RotationIndexOf(std::int32_t degrees) {
  for (int i = 0; i < 4; ++i) {
    if (kRotations[i] == degrees) return i;
  }
  return 0;
}

std::int32_t RotationOfIndex(int index) {
  return index >= 0 && index < 4 ? kRotations[index] : 0;
}

TextPageModel::TextPageModel(DriveTable& table, Language language)
    : table_(table), language_(language) {}

void TextPageModel::Initialise() {
  if (table_.driveCount <= 0) EnableLineControls(false, LineForm::kFourLine);
  view.rotationItems.clear();
  for (int id : kRotationStrings) {
    std::u16string_view text = String(id, language_);
    if (text.empty()) break;
    view.rotationItems.emplace_back(text);
  }
  for (auto& line : view.lines) line.items = LineItemLabels(language_, smartAttribute);
}

const DriveRecord* TextPageModel::SelectedDrive() const {
  const int slot = table_.selectedDrive;
  if (table_.driveCount <= 0 || slot < 0 || slot >= kSlotCount) return nullptr;
  return &table_.driveRecords[static_cast<std::size_t>(slot)];
}

LineItemSource TextPageModel::SourceFor(const DriveRecord& drive) const {
  return LineItemSource{drive, table_.workingConfig, table_.clock, table_.userName};
}

LineForm TextPageModel::FormOf(const DriveRecord* drive) const {
  return drive && UsesBarLayout(drive->fileSystemType) ? LineForm::kBar : LineForm::kFourLine;
}

void TextPageModel::LineEdited(int line, std::u16string_view text) {
  if (!ValidLine(line)) return;
  std::u16string limited(text);
  if (const DriveRecord* drive = SelectedDrive()) {
    limited = ApplyLineLimit(text, *drive, table_.workingConfig, AnsiCodePage(language_));
  }
  SetField(table_.workingConfig.line(line), std::u16string_view(limited));
  // The field keeps 13 units; show exactly what was stored.
  limited = std::u16string(FieldView(table_.workingConfig.line(line)));
  view.lines[Index(line)].text = limited;
  page.lineTexts[Index(line)] = limited;
}

void TextPageModel::LineItemChosen(int line, int position) {
  if (!ValidLine(line)) return;
  LineControls& controls = view.lines[Index(line)];
  if (position < 0 || position >= static_cast<int>(controls.items.size())) return;
  controls.selectedItem = position;
  ScreenConfig& working = table_.workingConfig;
  working.lineType(line) = position;
  if (position >= 7) working.lineSmartIndex(line) = working.smartId((position - 7) / 2);
  std::u16string text = controls.text;
  if (const DriveRecord* drive = SelectedDrive()) {
    text = FormatLineItem(position, line, FieldView(working.line(line)), SourceFor(*drive));
  }
  page.lineTexts[Index(line)] = text;
  controls.text = text;
  LineEdited(line, text);
  AfterItemChange();
}

void TextPageModel::AfterItemChange() {
  const DriveRecord* drive = SelectedDrive();
  if (drive && UsesBarLayout(drive->fileSystemType)) {
    EnableLineControls(true, LineForm::kBar);
  } else if (drive && drive->connectionState == kBridgeLocked) {
    EnableLineControls(false, LineForm::kFourLine);
  } else {
    EnableLineControls(true, LineForm::kFourLine);
  }
}

void TextPageModel::ReverseAllClicked(bool checked) {
  ScreenConfig& working = table_.workingConfig;
  working.whiteBlackColor = checked ? 1 : 0;
  view.reverseAll = checked;
  page.reverse = checked;
  for (int i = 1; i <= kLineCount; ++i) {
    view.lines[Index(i)].reverse = checked;
    working.lineReverse(i) = checked ? 1 : 0;
  }
  RefreshTextPage();
}

void TextPageModel::LineReverseClicked(int line, bool checked) {
  if (!ValidLine(line)) return;
  view.lines[Index(line)].reverse = checked;
  for (int i = 1; i <= kLineCount; ++i) {
    table_.workingConfig.lineReverse(i) = view.lines[Index(i)].reverse ? 1 : 0;
  }
}

void TextPageModel::RotatePreviewClicked(bool checked) {
  view.rotatePreview = checked;
  table_.workingConfig.previewRotation = checked ? 1 : 0;
  view.numberLabelsEnabled = !(checked && page.rotation != 0);
}

void TextPageModel::ShowHddStatusClicked(bool checked) {
  view.showHddStatus = checked;
  if ((table_.workingConfig.showHddStatus != 0) != checked) {
    table_.workingConfig.showHddStatus = checked ? 1 : 0;
    RefreshTextPage();
  }
}

void TextPageModel::RotationChosen(int position) {
  if (position < 0 || position >= 4) return;
  view.rotationIndex = position;
  page.rotation = RotationOfIndex(position);
  table_.workingConfig.rotation = page.rotation;
  view.rotatePreviewEnabled = page.rotation != 0;
  const DriveRecord* drive = SelectedDrive();
  // Line 5 of the bar layout comes and goes with the orientation.
  if (drive && UsesBarLayout(drive->fileSystemType)) EnableLineControls(true, LineForm::kBar);
  RefreshTextPage();
}

void TextPageModel::RefreshTextPage() {
  for (int i = 1; i <= kLineCount; ++i) {
    std::u16string text = view.lines[Index(i)].text;
    LineEdited(i, text);
  }
  view.numberLabelsEnabled = !(page.rotation != 0 && view.rotatePreview);
}

void TextPageModel::EnableLineControls(bool enable, LineForm form) {
  if (!enable) {
    for (auto& line : view.lines) line.text.clear();
  }
  view.controlsEnabled = enable;
  view.rotatePreviewEnabled = enable && page.rotation != 0;
  view.numberLabelsEnabled = enable && !(page.rotation != 0 && view.rotatePreview);
  for (int i = 1; i <= kLineCount; ++i) {
    LineControls& line = view.lines[Index(i)];
    line.editEnabled = enable && table_.workingConfig.lineType(i) == 0;
    line.usable = true;
    line.visible = true;
  }
  view.rowLabel5Visible = true;
  LineControls& line5 = view.lines[kLine5];
  if (form == LineForm::kFourLine) {
    // Line 5 does not exist in the four-line layout.
    line5.visible = false;
    view.rowLabel5Visible = false;
    if (table_.workingConfig.whiteBlackColor == 0) {
      line5.reverse = false;
      table_.workingConfig.lineReverse5 = 0;
    }
    return;
  }
  const DriveRecord* drive = SelectedDrive();
  const std::int32_t rotation =
      EffectiveRotation(table_.workingConfig.rotation, drive ? drive->panelModel : 0);
  if (rotation == 90 || rotation == 270) {
    // A turned bar screen has no room for line 5.
    line5.usable = false;
    line5.editEnabled = false;
    view.rowLabel5Visible = false;
  }
}

void TextPageModel::LoadTextPage(std::int32_t driveNumber) {
  for (int slot = 0; slot < kSlotCount && slot < table_.driveCount; ++slot) {
    DriveRecord& drive = table_.driveRecords[static_cast<std::size_t>(slot)];
    if (drive.driveNumber != driveNumber) continue;
    ScreenConfig& config = table_.screenConfigs[static_cast<std::size_t>(slot)];
    ScreenConfig& working = table_.workingConfig;

    std::vector<std::u16string> items = LineItemLabels(language_, smartAttribute);
    if (IsVideoRecorderDisk(drive.fileSystemType)) items.resize(1);
    for (auto& line : view.lines) line.items = items;

    if (UsesBarLayout(drive.fileSystemType)) {
      // The bitmap settings do not apply to bar-layout drives.
      for (ScreenConfig* c : {&working, &config}) {
        c->bmpWB = 0;
        c->bmpAreaRatio = 0;
        c->bmpRotation = 0;
      }
    }

    for (int i = 1; i <= kLineCount; ++i) {
      LineControls& line = view.lines[Index(i)];
      line.text = std::u16string(FieldView(working.line(i)));
      const std::int32_t type = working.lineType(i);
      line.selectedItem = type >= 0 && type < static_cast<std::int32_t>(items.size()) ? type : -1;
    }
    for (int i = 1; i <= kLineCount; ++i) LineItemChosen(i, view.lines[Index(i)].selectedItem);

    view.reverseAll = config.whiteBlackColor != 0;
    page.reverse = view.reverseAll;
    for (int i = 1; i <= kLineCount; ++i) view.lines[Index(i)].reverse = config.lineReverse(i) != 0;
    view.showHddStatus = config.showHddStatus != 0;
    view.rotatePreview = config.previewRotation != 0;
    view.rotationIndex = RotationIndexOf(config.rotation);
    page.rotation = RotationOfIndex(view.rotationIndex);

    view.rotatePreviewEnabled = page.rotation != 0;
    const bool locked = drive.connectionState == kBridgeLocked;
    view.numberLabelsEnabled = !((page.rotation != 0 && view.rotatePreview) || locked);
    for (int i = 1; i <= kLineCount; ++i) LineEdited(i, view.lines[Index(i)].text);
    return;
  }
}

int TextPageModel::PreviewTooltip(int dx, int dy, int width, int height) const {
  const DriveRecord* drive = SelectedDrive();
  const bool barLayout = drive && UsesBarLayout(drive->fileSystemType);
  if (barLayout || (page.rotation != 0 && view.rotatePreview)) return kPreviewTip;
  if (dx >= width) return kPreviewTip;
  if (dx >= 0 && dy > 80 && dy < height) return kCapacityTip;
  if (dy > 68 && dy < 86) return kGraphTip;
  return kPreviewTip;
}

bool TextPageModel::PreviewInputs::operator==(const PreviewInputs& other) const {
  return currentTab == other.currentTab && driveCount == other.driveCount &&
         selectedDrive == other.selectedDrive && page == other.page &&
         std::memcmp(&drive, &other.drive, sizeof drive) == 0 &&
         std::memcmp(&working, &other.working, sizeof working) == 0;
}

TextPageModel::PreviewInputs TextPageModel::CurrentPreviewInputs() const {
  PreviewInputs inputs{
      table_.currentTab, table_.driveCount, table_.selectedDrive, {}, table_.workingConfig, page};
  if (const DriveRecord* drive = SelectedDrive()) inputs.drive = *drive;
  return inputs;
}

int PreviewLineMiddle(int line) {
  // A line's band is the pitch's rows from one row above its text.
  return LineTextTop(line - 1) - 1 + kLinePitch / 2;
}

std::optional<Picture> TextPageModel::Preview() {
  // Window refreshes come far more often than changes; composing with the fonts is the cost.
  if (previewInputs_ && *previewInputs_ == CurrentPreviewInputs()) return preview_;
  if (!fonts_) {
    ownedFonts_ = Fonts::Load(language_);
    fonts_ = ownedFonts_.get();
  }
  preview_ = DrawPreview(table_, page, *fonts_);
  ++redraws;
  // Taken after drawing, which settles what it derives (the capacity text, a locked drive's
  // status flag), so an unchanged page matches next time.
  previewInputs_ = CurrentPreviewInputs();
  return preview_;
}

}  // namespace kuv
