#pragma once
// An HID panel's controller: answers the probe with its status (0xE0 once after a read of its own
// disk) and takes line reports, with late replies queued as hidraw queues them.

#include <memory>
#include <vector>

#include "panelio/env.h"
#include "panelio/sim/sim_state.h"
#include "panelio/sim/world.h"

namespace kuv::sim {

// An open handle on panel; world keeps the panel alive.
std::unique_ptr<HidDevice> OpenSimHid(WorldPtr world, const HidPanel& panel, StateDir state,
                                      std::vector<Fault> faults);

}  // namespace kuv::sim
