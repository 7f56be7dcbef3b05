#pragma once
// The S.M.A.R.T. page without its widgets: the attribute rows of the shown drive with their
// colours and check marks, the health and temperature fields, the warning and auto-update
// settings, the enable rules of the controls, and the line lists the text page offers once an
// attribute is checked. The widget shows view() and forwards every click here.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/model/lcd_model.h"
#include "common/health.h"
#include "common/strings.h"

namespace kuv {

inline constexpr int kSmartColumns = 7;  // check box, ID, name, current, worst, threshold, raw
inline constexpr std::int32_t kFirstWarningTemp = 45;
inline constexpr std::int32_t kLastWarningTemp = 65;
inline constexpr Rgb kRowGood{255, 255, 255};
inline constexpr Rgb kTemperatureBelowLimit{0, 192, 255};
inline constexpr Rgb kTemperatureAtLimit{255, 0, 0};

// The warning temperature the page shows and judges by: a stored value outside the list's 45 to 65
// (a 44 left by older versions, a zeroed record) counts as 50.
std::int32_t EffectiveWarningTemp(std::int32_t stored);

struct SmartRow {
  std::array<std::u16string, kSmartColumns> texts;  // column 0 holds only the check box
  HealthClass healthClass = kHealthGood;
  Rgb background = kRowGood;
  bool checked = false;
};

// Everything the page's controls show; a colour of nullopt is the control's default.
struct SmartPageView {
  std::vector<SmartRow> rows;
  bool checkBoxes = true;  // rows carry check boxes (not for fileSystemType 4 and 5)
  std::u16string healthText = u"-";
  std::optional<Rgb> healthColour;
  std::u16string temperatureText = u"-";
  std::optional<Rgb> temperatureColour;
  bool warningChecked = false;
  int warningIndex = 5;  // entry of the 45..65 list
  bool autoUpdate = true;

  bool healthEnabled = true;       // health value and its label
  bool temperatureEnabled = true;  // temperature value
  bool temperatureLabelEnabled = true;
  bool warningEnabled = true;      // the "Warning" check box
  bool warningListEnabled = true;  // the 45..65 list and its " °C" label
  bool listEnabled = true;         // the attribute list
};

class SmartPage {
 public:
  SmartPage(LcdModel& model, ProfileStore& profile, ShellHooks& hooks,
            Language language = SystemLanguage());

  const SmartPageView& view() const { return view_; }
  std::int32_t currentDrive() const { return currentDrive_; }
  std::int32_t pageWarningTemp() const { return pageWarningTemp_; }
  const std::vector<int>& checkedRows() const { return checkedRows_; }
  int clickedRow() const { return clickedRow_; }
  // The entries of the text page's five line lists, as last rebuilt.
  const std::vector<std::u16string>& lineItemLabels() const { return lineItemLabels_; }

  // Fills the page from the drive's record (the first slot when no slot has the number) and
  // writes the temperature into that record. Returns the overall class.
  HealthClass ShowDrive(std::int32_t driveNumber);
  // Reads the drive's S.M.A.R.T. data through the service first, as the user asked to see it,
  // then shows it. A disk that sleeps is woken for this read.
  HealthClass ReadAndShowDrive(std::int32_t driveNumber);
  void SetWarningControls(std::int32_t warningTemp, bool showWarning);
  void Enable(bool enabled);

  // The "Warning" box was clicked or the list changed to listIndex.
  void WarningChanged(bool checked, int listIndex);
  void AutoUpdateClicked(bool checked);
  // A row's check box changed; at most one row stays checked.
  void RowCheckChanged(int row, bool checked);
  void RowClicked(int row) { clickedRow_ = row; }

 private:
  int SlotOfCurrentDrive() const;
  void SetRowChecked(int row, bool checked);
  void RebuildLineLists();
  void ReformatSmartLines();
  void DeriveEnableRules();
  void ClearShownValues();

  LcdModel& model_;
  ProfileStore& profile_;
  ShellHooks& hooks_;
  Language language_;
  SmartPageView view_;
  std::int32_t currentDrive_ = -1;
  bool shownOnce_ = false;
  bool enabled_ = true;
  HealthClass pageHealth_ = kHealthGood;
  std::int32_t pageTemperature_ = 0;
  std::int32_t pageWarningTemp_ = kDefaultWarningTemp;
  std::vector<int> checkedRows_;
  int clickedRow_ = -1;
  std::vector<std::u16string> lineItemLabels_;
};

}  // namespace kuv
