#pragma once
// The real-device backend of Windows: \\.\PhysicalDriveN with SCSI pass-through and the
// S.M.A.R.T. IOCTLs, SetupAPI and the configuration manager for the device tree and the adapters'
// upper filters, hidapi for HID, the volume functions, file attributes and the registry, all
// through Win32Calls.

#include <memory>

#include "panelio/env.h"
#include "panelio/windows/win32_calls.h"

namespace kuv {

// The registry key and value of the automatic start, under HKEY_LOCAL_MACHINE.
inline constexpr char16_t kRunKey[] = u"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
inline constexpr char16_t kRunValue[] = u"KuvLcdManager";

std::unique_ptr<DeviceEnv> NewWindowsEnv(std::unique_ptr<win32::Win32Calls> calls);

}  // namespace kuv
