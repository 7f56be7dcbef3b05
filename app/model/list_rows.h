#pragma once
// The texts of the drive list's six columns, as the main window and `kuvlcd scan` show them.

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "common/drive_record.h"
#include "common/strings.h"

namespace kuv {

inline constexpr int kListColumns = 6;
using ListRow = std::array<std::u16string, kListColumns>;

// "Drive Name", "LCD Model", "HDD Model", "Free Space", "Capacity", "File system".
ListRow ListRowTexts(const DriveRecord& drive, Language language);

// A size in MiB as the list shows it: "%d.%02dGB" below 9999999 MiB, "%d.%02dTB" from there.
std::u16string ListSizeText(std::uint32_t mb);

// Column widths that fill a list available pixels wide: each column at least the width its texts
// need, the room left shared among them in proportion to those widths. A list too narrow for
// the texts keeps the needed widths and scrolls.
std::vector<int> SpreadColumnWidths(std::span<const int> needed, int available);

}  // namespace kuv
