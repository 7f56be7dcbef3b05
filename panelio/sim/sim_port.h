#pragma once
// A host adapter's storage port, which plays the SATA filter driver while the adapter's upper
// filters name it.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "panelio/env.h"
#include "panelio/sim/world.h"

namespace kuv::sim {

// The adapter as the system lists storage ports.
StoragePortInfo PortInfo(const Adapter& adapter);

// An open port on adapter; env answers its upper-filter list. world keeps the adapter alive.
std::unique_ptr<StoragePort> OpenSimPort(WorldPtr world, const Adapter& adapter, DeviceEnv& env);

}  // namespace kuv::sim
