#pragma once
// The simulated mounted volumes: a volume is mounted while its directory exists, its sizes come
// from the world or from statvfs of that directory, and the simulator writes only inside them and
// inside the world directory.

#include <chrono>
#include <mutex>
#include <string>
#include <vector>

#include "panelio/env.h"
#include "panelio/sim/sim_state.h"
#include "panelio/sim/world.h"

namespace kuv::sim {

// path made lexically normal ("a/./b/../c" is "a/c").
std::string Normal(const std::string& path);
// Whether the normal path is dir or lies below it.
bool Inside(const std::string& path, const std::string& dir);

// The mounted volumes of the disks that are not unplugged, ordered by drive and partition.
std::vector<VolumeInfo> MountedVolumes(const World& world, const std::vector<Fault>& faults);

// The listing of MountedVolumes taken once and reused while the world and what is mounted and
// unplugged stay as they are, for a short while, as the Linux backend reuses its own: a scan asks
// once per drive, and each listing asks every volume's sizes.
class VolumeListing {
 public:
  std::vector<VolumeInfo> List(const WorldPtr& world, const std::vector<Fault>& faults);

 private:
  std::mutex mutex_;
  WorldPtr world_;
  std::vector<bool> present_;  // per volume of the world in order: mounted and not unplugged
  std::chrono::steady_clock::time_point taken_;
  std::vector<VolumeInfo> volumes_;
};

// Total and available bytes of the volume holding each path, else of the path's own file system.
std::vector<Result<SpaceInfo>> SpacesOf(const World& world, const std::vector<std::string>& paths);

// An error unless path lies inside worldDir or one of the world's volumes, so a test world can
// never touch the machine's own files, even with a service running as root.
Status CheckInside(const World& world, const std::string& worldDir, const std::string& path);

// Whether the file system of the volume holding path keeps a hidden attribute (the Windows ones).
bool KeepsAttributes(const World& world, const std::string& path);

}  // namespace kuv::sim
