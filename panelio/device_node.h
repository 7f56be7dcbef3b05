#pragma once
// Finding a drive's place in the device tree: its disk interface by device number, and the USB
// identity of the enclosure above it.

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "panelio/env.h"

namespace kuv {

// The disk interface whose device number is driveNumber; ENOENT when no present disk has it.
Result<DiskInterface> FindDiskInterface(DeviceEnv& env, int driveNumber);

struct UsbIdentity {
  std::uint16_t vendor = 0;
  std::uint16_t product = 0;
  bool operator==(const UsbIdentity&) const = default;
};

// The vendor and product ids read from the disk's parent ids (nearest first): the parent's own id
// when it contains "VID_", else, when it contains "TVQ1CR\", the id of the node above that one.
// Compared upper-cased; the ids are the 4 hexadecimal digits after "VID_" and "PID_". nullopt when
// neither rule finds both.
std::optional<UsbIdentity> UsbIdentityFromParents(std::span<const std::string> parentIds);

// The same for a drive, through the environment.
std::optional<UsbIdentity> DriveUsbIdentity(DeviceEnv& env, int driveNumber);

}  // namespace kuv
