#include "panelio/linux/linux_env.h"
#include "panelio/platform_env.h"

namespace kuv {

std::unique_ptr<DeviceEnv> NewPlatformEnv() {
  return NewLinuxEnv();
}

}  // namespace kuv
