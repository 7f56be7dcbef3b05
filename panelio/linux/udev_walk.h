#pragma once
// What the udev device tree tells about a block device: the USB device above it, its SCSI
// address, its name, its volumes' labels. Keyed by the kernel name ("sda", "vda").

#include <string>
#include <string_view>
#include <vector>

#include "common/code_page.h"
#include "panelio/env.h"

namespace kuv {

// Instance ids of the block device's USB ancestors, nearest first, written as Windows writes them
// ("USB\VID_3E5B&PID_1101\<serial>"), since that is the form the bridge recognition reads. Nodes
// between the disk and its USB device (SCSI host, target, USB interface) have no counterpart there
// and are left out. Error when the block device is unknown.
Result<std::vector<std::string>> UdevParentInstanceIds(std::string_view sysname);

// The vendor and model of the SCSI device under the disk, trimmed ("ATA" vendors left out, as the
// system shows those disks by model only); "" when there is none.
Result<std::string> UdevFriendlyName(std::string_view sysname);

// host:channel:target:lun of the SCSI device under the disk; error when it has none (virtio, nvme).
Result<ScsiAddress> UdevScsiAddress(std::string_view sysname);

// The name Windows gives a file system, from the mount's type and udev's probe of the volume
// (ID_FS_TYPE, ID_FS_VERSION); other file systems keep their Linux name.
std::string WindowsFileSystemName(std::string_view mountType, std::string_view probedType,
                                  std::string_view probedVersion);

// A volume label as UTF-8: udev's ID_FS_LABEL_ENC with its \xNN escapes undone (ID_FS_LABEL
// turns blanks into '_'), ID_FS_LABEL when there is no encoded form. A malformed escape is kept
// as it stands, and a NUL ends the label. Bytes that are not UTF-8 are a FAT label in the code
// page of the user's language, and are decoded from it.
std::string VolumeLabel(std::string_view encoded, std::string_view plain, CodePage codePage);

}  // namespace kuv
