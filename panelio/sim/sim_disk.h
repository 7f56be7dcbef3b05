#pragma once
// A simulated disk: sector reads through a page cache, the SCSI commands a drive (and a bridge
// panel's enclosure) answers, ATA commands by the disk's transport, power modes and the udev
// events its handles cause.

#include <cstdint>
#include <memory>
#include <vector>

#include "panelio/env.h"
#include "panelio/sim/sim_state.h"
#include "panelio/sim/world.h"
#include "panelio/unique_fd.h"

namespace kuv::sim {

// A handle on disk, opened with access; image is its open image file (invalid: the drive reads as
// zeros) and size its size in bytes. world keeps the disk alive.
std::unique_ptr<kuv::Disk> OpenSimDisk(WorldPtr world, const Disk& disk, StateDir state,
                                       std::vector<Fault> faults, UniqueFd image,
                                       std::uint64_t size, DiskAccess access);

}  // namespace kuv::sim
