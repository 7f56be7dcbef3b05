#include "panelio/platform_env.h"
#include "panelio/windows/windows_env.h"

namespace kuv {

std::unique_ptr<DeviceEnv> NewPlatformEnv() {
  return NewWindowsEnv(win32::NewSystemWin32Calls());
}

}  // namespace kuv
