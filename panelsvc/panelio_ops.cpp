#include <cerrno>

#include "panelio/discovery.h"
#include "panelio/env.h"
#include "panelio/panelio.h"
#include "panelio/power_mode.h"
#include "panelsvc/device_ops.h"

namespace kuv::svc {

namespace {

std::vector<std::string> VolumeMountPoints() {
  std::vector<std::string> mounts;
  auto volumes = Env().ListVolumes();
  if (!volumes.ok()) return mounts;
  for (const auto& volume : *volumes) mounts.push_back(volume.mountPoint);
  return mounts;
}

std::int32_t SetHiddenAt(int folderFd, const std::string& path) {
  Status status = Env().SetHiddenAt(folderFd, path);
  if (status.ok()) return 1;
  errno = status.code() > 0 ? status.code() : EIO;
  return 0;
}

}  // namespace

const DeviceOps& PanelioOps() {
  static const DeviceOps ops{
      GetLcdInfo,   LcdSendLineData, ModifyFilterSilHost, SetHiddenAt,       StopLcdTimer,
      GetSmartInfo, SetAutorun,      GetSizeFromSector,   VolumeMountPoints, GetSmartInfoUnlessAsleep,
      GetPowerMode, GetLcdInfoInScan,
  };
  return ops;
}

}  // namespace kuv::svc
