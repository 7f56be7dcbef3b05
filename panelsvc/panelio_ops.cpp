#include <cerrno>

#include "panelio/env.h"
#include "panelio/panelio.h"
#include "panelsvc/device_ops.h"

// Panel discovery and S.M.A.R.T. retrieval come from their own part of panelio; a build without
// them still serves every other command and answers these two as failed with ENOSYS.
#pragma weak GetLcdInfo
#pragma weak GetSmartInfo

namespace kuv::svc {

namespace {

std::int32_t LcdInfoUnavailable(std::int32_t, DriveRecord*) {
  errno = ENOSYS;
  return 0;
}

std::int32_t SmartInfoUnavailable(std::int32_t, std::uint8_t*, std::uint8_t*, char16_t*) {
  errno = ENOSYS;
  return 0;
}

std::vector<std::string> VolumeMountPoints() {
  std::vector<std::string> mounts;
  auto volumes = Env().ListVolumes();
  if (!volumes.ok()) return mounts;
  for (const auto& volume : *volumes) mounts.push_back(volume.mountPoint);
  return mounts;
}

}  // namespace

const DeviceOps& PanelioOps() {
  static const DeviceOps ops{
      GetLcdInfo,   LcdSendLineData,   ModifyFilterSilHost, LcdCreateDirectory,
      LcdWriteFile, LcdDeleteFile,     StopLcdTimer,        GetSmartInfo,
      SetAutorun,   GetSizeFromSector, VolumeMountPoints,
  };
  return ops;
}

}  // namespace kuv::svc
