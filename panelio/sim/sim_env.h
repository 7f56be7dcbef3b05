#pragma once
// The simulator backend: plays the devices of a world directory (world.json and state/, see
// README.md) at the level of command bytes and reports, so everything above DeviceEnv runs
// unchanged without a drive tray.

#include <memory>
#include <string>

#include "panelio/env.h"

namespace kuv {

// A DeviceEnv on the world in worldDir. world.json is read on first use and again whenever it
// changes; when it cannot be read, every operation fails with the reason.
std::unique_ptr<DeviceEnv> NewSimEnv(const std::string& worldDir);

}  // namespace kuv
