#include "app/model/list_rows.h"

#include <cstdio>

#include "app/compose/drive_name.h"
#include "common/utf16.h"

namespace kuv {
namespace {

int PanelModelString(std::int32_t panelModel) {
  switch (panelModel) {
    case 0:
      return 401;
    case 1:
      return 400;
    case 2:
      return 402;
    case 3:
      return 403;
    default:
      return 404;
  }
}

}  // namespace

std::u16string ListSizeText(std::uint32_t mb) {
  // 64-bit arithmetic: v x 100 overflows 32 bits for the multi-terabyte drives of the TB branch.
  const std::uint64_t v = mb;
  const bool terabytes = v >= 9999999;
  const std::uint64_t y = terabytes ? v * 100 / 1048576 : v * 100 / 1024;
  char text[48];
  std::snprintf(text, sizeof text, "%llu.%02llu%s", static_cast<unsigned long long>(y / 100),
                static_cast<unsigned long long>(y % 100), terabytes ? "TB" : "GB");
  return Utf8ToUtf16(text);
}

ListRow ListRowTexts(const DriveRecord& drive, Language language) {
  ListRow row;
  row[0] = ShortDriveName(drive);
  row[1] = std::u16string(String(PanelModelString(drive.panelModel), language));
  row[2] = std::u16string(FieldView(drive.friendlyName));
  if (drive.totalMB == 0 && drive.freeMB == 0) {
    row[3] = row[4] = u"-";
  } else {
    row[3] = ListSizeText(drive.freeMB);
    row[4] = ListSizeText(drive.totalMB);
  }
  row[5] = std::u16string(FieldView(drive.fileSystem));
  if (row[5].empty()) {
    switch (drive.fileSystemType) {
      case kFsXfs:
        row[5] = u"XFS";
        break;
      case kFsExt:
        row[5] = u"EXT2";
        break;
      case kFsExfat:
        row[5] = u"exFAT";
        break;
      default:
        break;
    }
  }
  return row;
}

std::vector<int> SpreadColumnWidths(std::span<const int> needed, int available) {
  std::vector<int> widths(needed.begin(), needed.end());
  std::int64_t total = 0;
  for (int w : widths) total += w;
  const std::int64_t room = available - total;
  if (room <= 0 || total <= 0) return widths;
  std::int64_t given = 0;
  for (std::size_t c = 0; c < widths.size(); ++c) {
    const std::int64_t share = room * needed[c] / total;
    widths[c] += static_cast<int>(share);
    given += share;
  }
  // What the rounding left goes to the last column, so the columns end at the list's edge.
  if (!widths.empty()) widths.back() += static_cast<int>(room - given);
  return widths;
}

}  // namespace kuv
