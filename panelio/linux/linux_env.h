#pragma once
// The real-device backend: SG_IO on /dev/sdX, hidapi on hidraw, libudev, mountinfo and statvfs.

#include <map>
#include <memory>
#include <string>

#include "panelio/env.h"

namespace kuv {

// Where LinuxEnv looks; tests point these at a scratch directory.
struct LinuxEnvPaths {
  std::string devDir = "/dev";  // disk N opens devDir + "/" + SdName(N)
  std::string mountInfo = "/proc/self/mountinfo";
  std::string sysDir = "/sys";  // hidraw nodes are found from their interfaces here
  std::string autostartFile = "/etc/xdg/autostart/KuvLcdManager.desktop";
  // Block devices that stand for drives beside the sd disks, by kernel name ("loop3" -> 1): tests
  // play a drive with a loop device this way. Such a drive number names that device only.
  std::map<std::string, int> extraDrives;
};

std::unique_ptr<DeviceEnv> NewLinuxEnv(LinuxEnvPaths paths = {});

}  // namespace kuv
