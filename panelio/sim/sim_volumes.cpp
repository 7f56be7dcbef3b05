#include "panelio/sim/sim_volumes.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <thread>
#include <tuple>

#include "panelio/bounded_call.h"
#include "panelio/file_io.h"
#include "panelio/sim/sim_faults.h"

namespace kuv::sim {
namespace {

Result<SpaceInfo> SpaceOfDir(const std::string& path) {
  SpaceInfo space;
  if (int err = SpaceOfPath(path, space.totalBytes, space.freeBytes); err != 0)
    return PosixError("free space of " + path, err);
  return space;
}

// Bounded as on real hardware; a volume with hangMs plays a mount whose disk does not answer.
SpaceQuery QueryOf(const Volume& v) {
  return {"sim statvfs " + v.dir, [dir = v.dir, hang = v.hangMs] {
            if (hang > 0) std::this_thread::sleep_for(std::chrono::milliseconds(hang));
            return SpaceOfDir(dir);
          }};
}

// The sizes the world declares win over the directory's own.
Result<SpaceInfo> Declared(const Volume& v, const Result<SpaceInfo>& real) {
  if (!real.ok() && real.status().code() == ETIMEDOUT) return real.status();
  if (!v.totalBytes && !real.ok()) return real.status();
  SpaceInfo space = real.ok() ? *real : SpaceInfo{};
  if (v.totalBytes) space.totalBytes = *v.totalBytes;
  if (v.freeBytes) space.freeBytes = std::min(*v.freeBytes, space.totalBytes);
  return space;
}

// The sizes of several volumes (nullptr: a path on no volume, its own file system), one bounded
// wait for them all.
std::vector<Result<SpaceInfo>> SpacesOfVolumes(const std::vector<const Volume*>& volumes,
                                               const std::vector<std::string>& paths) {
  std::vector<SpaceQuery> queries;
  for (std::size_t i = 0; i < volumes.size(); ++i) {
    if (volumes[i]) {
      queries.push_back(QueryOf(*volumes[i]));
    } else {
      queries.push_back({"sim statvfs " + paths[i], [path = paths[i]] { return SpaceOfDir(path); }});
    }
  }
  std::vector<Result<SpaceInfo>> spaces = BoundedSpaceQueries(std::move(queries));
  for (std::size_t i = 0; i < volumes.size(); ++i) {
    if (volumes[i]) spaces[i] = Declared(*volumes[i], spaces[i]);
  }
  return spaces;
}

}  // namespace

std::string Normal(const std::string& path) {
  return Utf8OfPath(PathOfUtf8(path).lexically_normal());
}

bool Inside(const std::string& path, const std::string& dir) {
  std::string d = Normal(dir);
  while (d.size() > 1 && d.back() == '/') d.pop_back();
  return path == d ||
         (path.size() > d.size() && path.compare(0, d.size(), d) == 0 && path[d.size()] == '/');
}

namespace {

constexpr std::chrono::seconds kListingReuse{2};

// The mount point as the platform spells it ("Z:\tmp\world" on Windows), as a
// real backend lists it and as the service's request policy compares it.
std::string MountPointOf(const Volume& v) {
  std::filesystem::path path = PathOfUtf8(Normal(v.dir));
  std::u8string text = path.make_preferred().u8string();
  std::string mount(reinterpret_cast<const char*>(text.data()), text.size());
  // A root ("/", "C:\") keeps its separator.
  while (mount.size() > 1 && (mount.back() == '/' || mount.back() == path.preferred_separator) &&
         !PathOfUtf8(mount).relative_path().empty())
    mount.pop_back();
  return mount;
}

bool Mounted(const Volume& v) {
  FileStamp stamp;
  return StampOf(v.dir, stamp) == 0 && stamp.directory;
}

}  // namespace

std::vector<VolumeInfo> MountedVolumes(const World& world, const std::vector<Fault>& faults) {
  std::vector<VolumeInfo> volumes;
  std::vector<const Volume*> of;  // each listed volume's own
  for (const Disk& d : world.disks) {
    if (Unplugged(FaultsFor(faults, DiskTarget(d.number)))) continue;
    for (const Volume& v : d.volumes) {
      if (!Mounted(v)) continue;
      VolumeInfo info;
      info.driveNumber = d.number;
      info.partition = v.partition;
      info.mountPoint = MountPointOf(v);
      info.label = v.label;
      info.fileSystem = v.fileSystem;
      info.readWrite = v.readWrite;
      volumes.push_back(std::move(info));
      of.push_back(&v);
    }
  }
  std::vector<Result<SpaceInfo>> spaces = SpacesOfVolumes(of, std::vector<std::string>(of.size()));
  for (std::size_t i = 0; i < volumes.size(); ++i) {
    if (!spaces[i].ok()) continue;
    volumes[i].totalBytes = spaces[i]->totalBytes;
    volumes[i].freeBytes = spaces[i]->freeBytes;
  }
  std::sort(volumes.begin(), volumes.end(), [](const VolumeInfo& a, const VolumeInfo& b) {
    return std::tie(a.driveNumber, a.partition) < std::tie(b.driveNumber, b.partition);
  });
  return volumes;
}

std::vector<VolumeInfo> VolumeListing::List(const WorldPtr& world,
                                            const std::vector<Fault>& faults) {
  std::vector<bool> present;
  for (const Disk& d : world->disks) {
    bool plugged = !Unplugged(FaultsFor(faults, DiskTarget(d.number)));
    for (const Volume& v : d.volumes) present.push_back(plugged && Mounted(v));
  }
  std::lock_guard<std::mutex> lock(mutex_);
  auto now = std::chrono::steady_clock::now();
  if (world_ != world || present_ != present || now - taken_ >= kListingReuse) {
    volumes_ = MountedVolumes(*world, faults);
    world_ = world;
    present_ = std::move(present);
    taken_ = now;
  }
  return volumes_;
}

std::vector<Result<SpaceInfo>> SpacesOf(const World& world, const std::vector<std::string>& paths) {
  std::vector<const Volume*> of;
  for (const std::string& path : paths) {
    const std::string p = Normal(path);
    const Volume* holding = nullptr;
    for (const Disk& d : world.disks)
      for (const Volume& v : d.volumes)
        if (!holding && Inside(p, v.dir)) holding = &v;
    of.push_back(holding);
  }
  return SpacesOfVolumes(of, paths);
}

Status CheckInside(const World& world, const std::string& worldDir, const std::string& path) {
  std::string p = Normal(path);
  if (p.empty() || !PathOfUtf8(p).is_absolute() || p.find("/../") != std::string::npos)
    return PosixError(path + " is outside the simulated world", EACCES);
  if (Inside(p, worldDir)) return {};
  for (const Disk& d : world.disks)
    for (const Volume& v : d.volumes)
      if (Inside(p, v.dir)) return {};
  return PosixError(path + " is outside the simulated world", EACCES);
}

bool KeepsAttributes(const World& world, const std::string& path) {
  std::string p = Normal(path);
  for (const Disk& d : world.disks)
    for (const Volume& v : d.volumes)
      if (Inside(p, v.dir))
        return v.fileSystem == "NTFS" || v.fileSystem == "FAT32" || v.fileSystem == "FAT" ||
               v.fileSystem == "exFAT";
  return false;
}

}  // namespace kuv::sim
