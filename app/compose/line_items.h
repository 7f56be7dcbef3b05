#pragma once
// The line item catalogue: the text each item code of a line produces, the capacity text of the
// bottom row and the length rule every line text obeys.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/code_page.h"
#include "common/drive_record.h"
#include "common/drive_table.h"
#include "common/screen_config.h"
#include "common/strings.h"

namespace kuv {

// What the line items read: the drive in question, the configuration whose lineSmartIndex and
// smartId0 the S.M.A.R.T. items follow, the clock snapshot and the user name.
struct LineItemSource {
  const DriveRecord& drive;
  const ScreenConfig& config;
  const ClockSnapshot& clock;
  std::u16string_view userName;
};

// The text of item code for line (1 to 5). Code 0 and codes 15 and above give currentText
// unchanged; S.M.A.R.T. codes 7 to 14 give an empty text when the line's lineSmartIndex is -1.
std::u16string FormatLineItem(std::int32_t code, int line, std::u16string_view currentText,
                              const LineItemSource& source);

// The S.M.A.R.T. text of a "Current" (odd) or "Data" (even) item code for the drive.
std::u16string FormatSmartValue(std::int32_t code, const LineItemSource& source);

// The capacity text of the bottom row: free space first, then capacity, from MiB values.
std::u16string FormatCapacityText(std::uint32_t freeMB, std::uint32_t totalMB);

// Bytes the text takes in the code page; a character the page cannot hold counts as one byte
// ("?"), as the Windows conversion would write it.
std::size_t AnsiByteLength(std::u16string_view text, CodePage codePage);

// The screen rotation that counts for layout and line length: rotation less 90 on panel model 3,
// brought into 0 to 359 (so -90 comes back as 270).
std::int32_t EffectiveRotation(std::int32_t rotation, std::int32_t panelModel);

// The line length rule: at most 14 characters, then characters dropped from the end until the
// text fits the byte limit of the drive's layout and rotation and the 13 units a line field keeps.
// A surrogate pair counts as one character and is never split.
std::u16string ApplyLineLimit(std::u16string_view text, const DriveRecord& drive,
                              const ScreenConfig& config, CodePage codePage);

// The S.M.A.R.T. selection changed to selectedPosition (a position in the compacted attribute
// list, -1 for none): stores it as workingConfig's smartId0, moves every line of driveConfig that
// follows that attribute onto the one remaining pair (code 7 or 8) and turns every other
// S.M.A.R.T. line into free text, then copies the line codes and indexes into workingConfig.
void RebuildSmartLineItems(ScreenConfig& driveConfig, ScreenConfig& workingConfig,
                           std::int32_t selectedPosition);

// The entries of a line's item list, in code order: the seven fixed items, then the "Current" and
// "Data" pair of the selected attribute when there is one (its text replaces the %s).
std::vector<std::u16string> LineItemLabels(Language language,
                                           std::optional<std::u16string_view> smartAttribute);

}  // namespace kuv
