#pragma once
// The device backend of the platform the library was built for: the one place that names it.

#include <memory>

#include "panelio/env.h"

namespace kuv {

// A new environment of the platform's real devices.
std::unique_ptr<DeviceEnv> NewPlatformEnv();

}  // namespace kuv
