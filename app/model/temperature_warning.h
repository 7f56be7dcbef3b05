#pragma once
// The temperature check's rules: which drives are over their warning temperature, the message
// the warning window shows, and what its OK button changes.

#include <optional>
#include <string>

#include "common/drive_table.h"
#include "common/strings.h"

namespace kuv {

// The warning temperature a configuration stands for is the S.M.A.R.T. page's
// EffectiveWarningTemp: anything outside the page's 45 to 65 is shown and used as 50.

// The warning message (string 1602, then one paragraph per drive at or over its warning
// temperature), or nullopt when no drive is: the window is then hidden.
std::optional<std::u16string> BuildTemperatureWarning(const DriveTable& table, Language language);

// OK of the warning window: "Do not show this warning again." switches the warning off for every
// drive in use, OK without it switches it on for every drive in use.
void ApplyWarningAnswer(DriveTable& table, bool doNotShowAgain);

}  // namespace kuv
