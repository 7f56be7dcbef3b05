#pragma once
// The short name a drive goes by on the panel, in the drive list and in kuvlcd: on this platform
// `driveLetter` holds a whole mount point, far too long for a 13-character line or a list cell.

#include <string>
#include <string_view>

#include "common/drive_record.h"
#include "common/utf16.h"

namespace kuv {

// The mount point's last component ("/" for the root), followed after a blank by the volume
// label when there is one and it differs from that component; a Windows folder mount point
// ("E:\mounts\tray") is named the same way. A `driveLetter` that is not a mount point ("-" for no
// volume, or a drive letter "E:" or "E:\") is followed directly by the label, as the Windows
// programs show it. The full mount point stays in `driveLetter`, for a tooltip.
std::u16string ShortDriveName(std::u16string_view driveLetter, std::u16string_view volumeLabel);
std::u16string ShortDriveName(const DriveRecord& drive);

}  // namespace kuv
