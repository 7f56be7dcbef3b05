#include "app/model/temperature_warning.h"

#include <cstdio>

#include "app/model/smart_page.h"
#include "common/utf16.h"

namespace kuv {

std::optional<std::u16string> BuildTemperatureWarning(const DriveTable& table, Language language) {
  std::u16string text(String(1602, language));
  bool any = false;
  for (int k = 0; k < kSlotCount; ++k) {
    const auto index = static_cast<std::size_t>(k);
    const DriveRecord& drive = table.driveRecords[index];
    const ScreenConfig& config = table.screenConfigs[index];
    if (drive.driveNumber == kEmptyDriveNumber || config.showWarningTemp != 1) continue;
    // 0 is a drive that gave no temperature; the page shows it as "-", not as 0 degrees.
    if (drive.temperature == 0) continue;
    if (drive.temperature < EffectiveWarningTemp(config.warningTemp)) continue;
    char degrees[16];
    std::snprintf(degrees, sizeof degrees, "%d", static_cast<int>(drive.temperature));
    text += u"\n\n ";
    text += Utf8ToUtf16(degrees);
    text += String(1603, language);
    text += u"---";
    text += FieldView(drive.driveLetter);
    text += u" ";
    text += FieldView(drive.volumeLabel);
    text += u" [";
    text += FieldView(drive.friendlyName);
    text += u"]";
    any = true;
  }
  if (!any) return std::nullopt;
  return text;
}

void ApplyWarningAnswer(DriveTable& table, bool doNotShowAgain) {
  for (int k = 0; k < kSlotCount; ++k) {
    const auto index = static_cast<std::size_t>(k);
    if (table.driveRecords[index].driveNumber == kEmptyDriveNumber) continue;
    table.screenConfigs[index].showWarningTemp = doNotShowAgain ? 0 : 1;
  }
}

}  // namespace kuv
