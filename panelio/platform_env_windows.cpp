#include <cerrno>

#include "panelio/platform_env.h"
#include "panelio/unavailable_env.h"

namespace kuv {

// Real disks and panels need the Windows device backend, which is not built yet; until then the
// simulator is the only world, and saying so beats reporting an empty machine.
std::unique_ptr<DeviceEnv> NewPlatformEnv() {
  return std::make_unique<UnavailableEnv>(
      ENODEV, "no device backend on Windows yet: set KUVLCD_SIM_WORLD to a simulated world");
}

}  // namespace kuv
