// Until panelio builds for Windows, the service answers device commands as on a machine where no
// drive can be opened, and lists the volumes Windows mounts for commands 5, 6 and 7, which it
// serves itself. Once panelio builds, panelio_ops.cpp takes this file's place (CMake chooses).

#include <windows.h>

#include "common/request_record.h"
#include "common/utf16.h"
#include "panelio/panelio.h"
#include "panelsvc/device_ops.h"

namespace kuv::svc {

namespace {

std::int32_t NoDrive(std::int32_t, DriveRecord*) {
  SetLastError(ERROR_FILE_NOT_FOUND);
  return 0;
}

std::uint32_t NoPanel(std::int32_t, const std::uint8_t*) {
  SetLastError(ERROR_FILE_NOT_FOUND);
  return kPanelDriveNotOpened;
}

std::int32_t NoFilterList(std::int32_t) {
  return 0;
}

std::int32_t HiddenOnItsHandle(int, const std::string&) {
  return 1;
}

std::uint32_t NoTimer(std::int32_t) {
  SetLastError(ERROR_FILE_NOT_FOUND);
  return kPanelStopRefused;
}

std::int32_t NoSmart(std::int32_t, std::uint8_t*, std::uint8_t*, char16_t*) {
  SetLastError(ERROR_FILE_NOT_FOUND);
  return 0;
}

std::int32_t NoAutorun(std::int32_t) {
  return ERROR_CALL_NOT_IMPLEMENTED;
}

std::int32_t NoPowerMode(std::int32_t) {
  SetLastError(ERROR_FILE_NOT_FOUND);
  return kPowerModeUnknown;
}

// The roots of the local disks and removable drives ("C:\"); network and optical drives hold no
// panel's files.
std::vector<std::string> LocalVolumes() {
  std::vector<std::string> roots;
  wchar_t buffer[512];
  const DWORD length = GetLogicalDriveStringsW(512, buffer);
  if (length == 0 || length > 512) return roots;
  for (const wchar_t* root = buffer; *root; root += wcslen(root) + 1) {
    const UINT type = GetDriveTypeW(root);
    if (type != DRIVE_FIXED && type != DRIVE_REMOVABLE) continue;
    roots.push_back(Utf16ToUtf8(reinterpret_cast<const char16_t*>(root)));
  }
  return roots;
}

}  // namespace

const DeviceOps& PanelioOps() {
  static const DeviceOps ops{
      NoDrive,   NoPanel, NoFilterList, HiddenOnItsHandle, NoTimer,     NoSmart,
      NoAutorun, NoDrive, LocalVolumes, NoSmart,           NoPowerMode,
  };
  return ops;
}

}  // namespace kuv::svc
