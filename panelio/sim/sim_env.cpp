#include "panelio/sim/sim_env.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <mutex>
#include <thread>

#include "common/utf16.h"
#include "panelio/autostart_entry.h"
#include "panelio/file_io.h"
#include "panelio/sim/sim_disk.h"
#include "panelio/sim/sim_faults.h"
#include "panelio/sim/sim_hid_panel.h"
#include "panelio/sim/sim_port.h"
#include "panelio/sim/sim_state.h"
#include "panelio/sim/sim_volumes.h"
#include "panelio/sim/world.h"
#include "panelio/unique_fd.h"
#include "panelio/upper_filters.h"

namespace kuv {
namespace {

using sim::Fault;
using sim::StateDir;
using sim::WorldPtr;

class SimEnv final : public DeviceEnv {
 public:
  explicit SimEnv(std::string dir) : dir_(std::move(dir)), state_(dir_) {}

  Result<std::unique_ptr<Disk>> OpenDisk(int driveNumber, DiskAccess access) override {
    auto world = World();
    if (!world.ok()) return world.status();
    const sim::Disk* disk = (*world)->FindDisk(driveNumber);
    if (!disk) return PosixError("drive " + std::to_string(driveNumber), ENOENT);
    auto faults = FaultsOf(sim::DiskTarget(driveNumber));
    if (!faults.ok()) return faults.status();
    if (sim::Unplugged(*faults)) return PosixError("drive " + std::to_string(driveNumber), ENOENT);
    if (sim::HasFault(*faults, Fault::Kind::kFailOpen))
      return PosixError("open drive " + std::to_string(driveNumber), EIO);
    UniqueFd image;
    std::uint64_t size = disk->sizeBytes;
    if (!disk->image.empty()) {
      image.reset(OpenFd(disk->image, O_RDONLY));
      if (!image.valid()) return PosixError("open " + disk->image, errno);
      FileStamp stamp;
      if (size == 0 && StampOfFd(image.get(), stamp) == 0) size = stamp.size;
    }
    return sim::OpenSimDisk(*world, *disk, state_, std::move(*faults), std::move(image), size,
                            access);
  }

  Result<std::vector<DiskInterface>> ListDisks() override {
    auto world = World();
    if (!world.ok()) return world.status();
    auto all = state_.Faults();
    if (!all.ok()) return all.status();
    std::vector<DiskInterface> disks;
    for (const sim::Disk& d : (*world)->disks) {
      if (sim::Unplugged(sim::FaultsFor(*all, sim::DiskTarget(d.number)))) continue;
      disks.push_back({d.number, "sim:disk:" + std::to_string(d.number),
                       "SIM\\DISK\\" + std::to_string(d.number)});
    }
    return disks;
  }

  Result<ScsiAddress> GetScsiAddress(int driveNumber) override {
    auto disk = PresentDisk(driveNumber);
    if (!disk.ok()) return disk.status();
    return disk->second->scsiAddress;
  }

  Result<std::vector<std::string>> ParentInstanceIds(int driveNumber) override {
    auto disk = PresentDisk(driveNumber);
    if (!disk.ok()) return disk.status();
    const sim::Disk& d = *disk->second;
    std::vector<std::string> ids;
    if (d.usb) {
      if (!d.usb->intermediatePrefix.empty())
        ids.push_back(d.usb->intermediatePrefix + "SIM&LUN0\\" + std::to_string(d.number));
      char head[40];
      std::snprintf(head, sizeof head, "USB\\VID_%04X&PID_%04X\\", d.usb->vendor, d.usb->product);
      ids.push_back(head + d.usb->serial);
    } else if (!d.adapter.empty()) {
      ids.push_back(disk->first->FindAdapter(d.adapter)->instanceId);
    }
    return ids;
  }

  Result<std::string> FriendlyName(int driveNumber) override {
    auto disk = PresentDisk(driveNumber);
    if (!disk.ok()) return disk.status();
    return disk->second->friendlyName;
  }

  Result<std::optional<StoragePortInfo>> AdapterOf(int driveNumber) override {
    auto disk = PresentDisk(driveNumber);
    if (!disk.ok()) return disk.status();
    const sim::Disk& d = *disk->second;
    if (d.adapter.empty()) return std::optional<StoragePortInfo>();
    return std::optional<StoragePortInfo>(sim::PortInfo(*disk->first->FindAdapter(d.adapter)));
  }

  Result<std::vector<StoragePortInfo>> ListStoragePorts() override {
    auto world = World();
    if (!world.ok()) return world.status();
    std::vector<StoragePortInfo> ports;
    for (const sim::Adapter& a : (*world)->adapters) ports.push_back(sim::PortInfo(a));
    return ports;
  }

  Result<std::optional<std::vector<std::uint8_t>>> ReadUpperFilters(
      const std::string& instanceId) override {
    auto world = World();
    if (!world.ok()) return world.status();
    const sim::Adapter* a = (*world)->FindAdapter(instanceId);
    if (!a) return PosixError("adapter " + instanceId, ENOENT);
    auto stored = state_.UpperFilters(a->id);
    if (!stored.ok()) return stored.status();
    using List = std::optional<std::vector<std::uint8_t>>;
    if (*stored)
      return List(std::vector<std::uint8_t>(stored->value().begin(), stored->value().end()));
    if (!a->upperFilters) return List();
    std::vector<std::u16string> names;
    for (const std::string& n : *a->upperFilters) names.push_back(Utf8ToUtf16(n));
    return List(EncodeMultiString(names));
  }

  Status WriteUpperFilters(const std::string& instanceId,
                           std::span<const std::uint8_t> multiString) override {
    auto world = World();
    if (!world.ok()) return world.status();
    const sim::Adapter* a = (*world)->FindAdapter(instanceId);
    if (!a) return PosixError("adapter " + instanceId, ENOENT);
    auto faults = FaultsOf(sim::AdapterTarget(a->id));
    if (!faults.ok()) return faults.status();
    if (sim::HasFault(*faults, Fault::Kind::kFailOpen))
      return PosixError("write upper filters of " + a->id, EACCES);
    return state_.Locked([&] {
      return state_.SetUpperFilters(
          a->id, {reinterpret_cast<const char*>(multiString.data()), multiString.size()});
    });
  }

  Result<std::unique_ptr<StoragePort>> OpenStoragePort(const std::string& interfacePath) override {
    auto world = World();
    if (!world.ok()) return world.status();
    for (const sim::Adapter& a : (*world)->adapters)
      if (a.portPath == interfacePath) return sim::OpenSimPort(*world, a, *this);
    return PosixError("storage port " + interfacePath, ENOENT);
  }

  Result<std::vector<HidInfo>> ListHid() override {
    auto world = World();
    if (!world.ok()) return world.status();
    auto all = state_.Faults();
    if (!all.ok()) return all.status();
    std::vector<HidInfo> list;
    for (const sim::HidPanel& h : (*world)->hidPanels) {
      if (sim::Unplugged(sim::FaultsFor(*all, sim::HidTarget(h.name)))) continue;
      // hidapi lists an interface once per top-level collection, all under the same path.
      for (int c = 0; c < h.collections; ++c)
        list.push_back({h.path, h.vendor, h.product, h.capsReadable});
    }
    return list;
  }

  Result<std::unique_ptr<HidDevice>> OpenHid(const std::string& path) override {
    auto world = World();
    if (!world.ok()) return world.status();
    const sim::HidPanel* panel = (*world)->FindHid(path);
    if (!panel) return PosixError("open " + path, ENOENT);
    auto faults = FaultsOf(sim::HidTarget(panel->name));
    if (!faults.ok()) return faults.status();
    if (sim::Unplugged(*faults)) return PosixError("open " + path, ENOENT);
    if (sim::HasFault(*faults, Fault::Kind::kFailOpen)) return PosixError("open " + path, EIO);
    return sim::OpenSimHid(*world, *panel, state_, std::move(*faults));
  }

  Result<std::vector<VolumeInfo>> ListVolumes() override {
    auto world = World();
    if (!world.ok()) return world.status();
    auto all = state_.Faults();
    if (!all.ok()) return all.status();
    return volumes_.List(*world, *all);
  }

  Result<SpaceInfo> FreeSpace(const std::string& path) override {
    return std::move(FreeSpaces({path}).front());
  }

  std::vector<Result<SpaceInfo>> FreeSpaces(const std::vector<std::string>& paths) override {
    auto world = World();
    if (!world.ok()) return std::vector<Result<SpaceInfo>>(paths.size(), world.status());
    return sim::SpacesOf(**world, paths);
  }

  Status MakeDirectory(const std::string& path) override {
    if (Status s = CheckInside(path); !s.ok()) return s;
    if (int err = MakeDir(path); err != 0) return PosixError("create " + path, err);
    return {};
  }

  Status SetHidden(const std::string& path) override {
    if (Status s = CheckInside(path); !s.ok()) return s;
    if (Status s = Exists(path); !s.ok()) return s;
    auto world = World();
    if (!world.ok()) return world.status();
    if (!sim::KeepsAttributes(**world, path)) return {};
    std::string key = sim::Normal(path);
    return state_.Locked([&]() -> Status {
      auto hidden = state_.HiddenPaths();
      if (!hidden.ok()) return hidden.status();
      if (std::find(hidden->begin(), hidden->end(), key) != hidden->end()) return {};
      hidden->push_back(key);
      return state_.SetHiddenPaths(*hidden);
    });
  }

  Result<bool> IsHidden(const std::string& path) override {
    if (Status s = CheckInside(path); !s.ok()) return s;
    if (Status s = Exists(path); !s.ok()) return s;
    auto hidden = state_.HiddenPaths();
    if (!hidden.ok()) return hidden.status();
    return std::find(hidden->begin(), hidden->end(), sim::Normal(path)) != hidden->end();
  }

  Status AppendToFile(const std::string& path, std::span<const std::uint8_t> data) override {
    if (Status s = CheckInside(path); !s.ok()) return s;
    UniqueFd fd(OpenFd(path, O_WRONLY | O_CREAT | O_APPEND));
    if (!fd.valid()) return PosixError("open " + path, errno);
    if (int err = WriteAll(fd.get(), data); err != 0) return PosixError("write " + path, err);
    return {};
  }

  Status RemoveFile(const std::string& path) override {
    if (Status s = CheckInside(path); !s.ok()) return s;
    if (int err = RemoveFileAt(path); err != 0) return PosixError("delete " + path, err);
    return {};
  }

  Status SetAutostart(bool on) override {
    if (!on) return state_.SetAutostartEntry(std::nullopt);
    return state_.SetAutostartEntry(AutostartDesktopEntry("KuvLcdManager"));
  }

  Result<bool> AutostartRegistered() override {
    auto text = state_.AutostartEntry();
    if (!text.ok()) return text.status();
    return text->has_value();
  }

  void Sleep(std::chrono::milliseconds duration) override {
    // Counted so tests and benchmarks can tell the waits a scan asks for whatever their length.
    (void)state_.Locked([&] { return state_.CountPause(duration); });
    auto world = World();
    double scale = world.ok() ? (*world)->sleepScale : 0.0;
    if (scale > 0)
      std::this_thread::sleep_for(
          std::chrono::duration<double, std::milli>(static_cast<double>(duration.count()) * scale));
  }

 private:
  // The world as world.json says now: read again when its stamp says it may have changed.
  Result<WorldPtr> World() {
    std::lock_guard<std::mutex> lock(mutex_);
    auto changed = worldFile_.Refresh();
    if (!changed.ok()) {
      world_.reset();
      return changed.status();
    }
    if (!worldFile_.text()) {
      world_.reset();
      return PosixError("world " + worldFile_.path(), ENOENT);
    }
    if (*changed || !world_) {
      auto parsed = sim::ParseWorld(*worldFile_.text(), dir_);
      if (!parsed.ok()) {
        world_.reset();
        return parsed.status();
      }
      world_ = std::make_shared<const sim::World>(std::move(*parsed));
    }
    return world_;
  }

  // The world and one of its disks, present (not unplugged); the world keeps the disk alive.
  Result<std::pair<WorldPtr, const sim::Disk*>> PresentDisk(int driveNumber) {
    auto world = World();
    if (!world.ok()) return world.status();
    const sim::Disk* disk = (*world)->FindDisk(driveNumber);
    auto faults = FaultsOf(sim::DiskTarget(driveNumber));
    if (!faults.ok()) return faults.status();
    if (!disk || sim::Unplugged(*faults))
      return PosixError("drive " + std::to_string(driveNumber), ENOENT);
    return std::make_pair(*world, disk);
  }

  Result<std::vector<Fault>> FaultsOf(const std::string& target) {
    auto all = state_.Faults();
    if (!all.ok()) return all.status();
    return sim::FaultsFor(*all, target);
  }

  static Status Exists(const std::string& path) {
    FileStamp stamp;
    if (int err = StampOf(path, stamp); err != 0) return PosixError("open " + path, err);
    return {};
  }

  Status CheckInside(const std::string& path) {
    auto world = World();
    if (!world.ok()) return world.status();
    return sim::CheckInside(**world, dir_, path);
  }

  std::string dir_;
  StateDir state_;
  std::mutex mutex_;
  sim::StampedFile worldFile_{dir_ + "/world.json"};
  WorldPtr world_;
  sim::VolumeListing volumes_;
};

}  // namespace

std::unique_ptr<DeviceEnv> NewSimEnv(const std::string& worldDir) {
  std::string dir = worldDir;
  if (!dir.empty() && !PathOfUtf8(dir).is_absolute()) {
    std::error_code ec;
    auto abs = std::filesystem::absolute(PathOfUtf8(dir), ec);
    if (!ec) dir = Utf8OfPath(abs);
  }
  dir = sim::Normal(dir);
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  return std::make_unique<SimEnv>(dir);
}

}  // namespace kuv
