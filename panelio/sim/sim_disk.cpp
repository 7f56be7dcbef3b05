#include "panelio/sim/sim_disk.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <functional>
#include <optional>
#include <set>
#include <thread>

#include "panelio/disk_helpers.h"
#include "panelio/file_io.h"
#include "panelio/sim/sim_ata.h"
#include "panelio/sim/sim_bridge_panel.h"
#include "panelio/sim/sim_faults.h"
#include "panelio/sim/sim_panel_cache.h"
#include "panelio/sim/sim_scsi.h"

namespace kuv::sim {
namespace {

constexpr std::uint8_t kCheckPowerMode = 0xE5;
constexpr std::uint8_t kCkCond = 0x20;      // byte 2 of ATA PASS-THROUGH: return the registers
constexpr std::uint8_t kAtaReady = 0x50;    // DRDY and DSC: completed, no error
constexpr std::uint8_t kDidTimeOut = 0x03;  // host status of a command the kernel gave up

class SimDisk final : public kuv::Disk {
 public:
  SimDisk(WorldPtr world, const sim::Disk& disk, StateDir state, std::vector<Fault> faults,
          UniqueFd image, std::uint64_t size, DiskAccess access)
      : world_(std::move(world)),
        disk_(disk),
        state_(state),
        clock_(state, DiskTarget(disk.number), std::move(faults)),
        image_(std::move(image)),
        size_(size),
        access_(access) {
    if (disk_.bridgePanel) panel_.emplace(state_, disk_.bridgePanel->name);
    UpdateCounters([](DiskCounters& c) { ++c.openHandles; });
  }

  ~SimDisk() override {
    panel_.reset();
    // The kernel drops a disk's page cache with its last opener (a mounted partition is one), and
    // udev answers the close of a write-opened disk with a "change" event; when none of the disk's
    // partitions is in use, it also has the kernel read the partition table again, which removes
    // and adds every partition.
    bool mounted = Mounted();
    int partitions = access_ == DiskAccess::kReadWrite && !mounted ? Partitions() : 0;
    UpdateCounters([&](DiskCounters& c) {
      if (--c.openHandles <= 0) {
        c.openHandles = 0;
        if (!mounted) c.cachedPages.clear();
      }
      if (access_ == DiskAccess::kReadWrite) ++c.changeEvents;
      c.partitionEvents += 2 * static_cast<std::uint64_t>(partitions);
    });
  }

  Result<ScsiReply> Scsi(const ScsiRequest& request) override {
    if (Status s = clock_.Tick(static_cast<int>(request.timeoutSeconds) * 1000); !s.ok()) return s;
    std::span<const std::uint8_t> cdb = request.cdb;
    if (cdb.empty() || cdb.size() > 16) return PosixError("SCSI command length", EINVAL);
    switch (cdb[0]) {
      case 0x00:  // TEST UNIT READY
        return ScsiReply{};
      case 0x3C:
        if (!disk_.bridgePanel) return IllegalRequest();
        return AnswerReadBuffer(*disk_.bridgePanel, request);
      case 0x3B:
        if (!disk_.bridgePanel) return IllegalRequest();
        return AnswerWriteBuffer(*panel_, clock_, request);
      case 0xA1:
      case 0x85:
        if (clock_.SwallowsPassThrough()) return Swallowed(request);
        return AtaPassThrough(request);
      default:
        return CheckCondition(0x05, 0x20);  // invalid operation code
    }
  }

  // A buffered read: pages the page cache already holds are answered without the drive.
  Status ReadAt(std::uint64_t byteOffset, std::span<std::uint8_t> out) override {
    if (Status s = clock_.Tick(120000); !s.ok()) return s;
    if (Status s = ReadImage(byteOffset, out); !s.ok()) return s;
    if (out.empty()) return {};
    return state_.Locked([&]() -> Status {
      bool reached = false;
      Status counted = state_.EditCounters(disk_.number, [&](DiskCounters& c) {
        for (std::uint64_t page = byteOffset / kPageBytes;
             page <= (byteOffset + out.size() - 1) / kPageBytes; ++page) {
          auto at = std::lower_bound(c.cachedPages.begin(), c.cachedPages.end(), page);
          if (at != c.cachedPages.end() && *at == page) continue;
          c.cachedPages.insert(at, page);
          reached = true;
        }
        if (reached) ++c.mediumReads;
      });
      if (!counted.ok()) return counted;
      // Only a read that reaches the medium spins a sleeping disk up.
      if (!reached) return {};
      return Reached(true, true);
    });
  }

  // A read past the cache, held to what O_DIRECT demands of a block device: whole logical blocks
  // into a buffer aligned to them.
  Status ReadMedium(std::uint64_t lba, std::span<std::uint8_t> out) override {
    if (Status s = clock_.Tick(120000); !s.ok()) return s;
    const std::uint64_t block = disk_.logicalBlockBytes;
    if (Status s = CheckMediumRead(disk_.name, lba, out, block); !s.ok()) return s;
    if (lba > size_ / block) return PosixError("read past the end of " + disk_.name, EIO);
    if (Status s = ReadImage(lba * block, out); !s.ok()) return s;
    return state_.Locked([&]() -> Status {
      Status counted = state_.EditCounters(disk_.number, [](DiskCounters& c) { ++c.mediumReads; });
      if (!counted.ok()) return counted;
      return Reached(true, true);
    });
  }

  // An ioctl of the block layer, not a command to the drive: not counted towards an unplug.
  Result<std::uint32_t> LogicalBlockBytes() override { return disk_.logicalBlockBytes; }

  Result<std::uint64_t> SizeBytes() override {
    if (Status s = clock_.Tick(120000); !s.ok()) return s;
    return size_;
  }

  Status CheckVerify() override { return clock_.Tick(120000); }

  Status AtaCommand(const AtaTaskFile& registers, std::span<std::uint8_t> dataIn) override {
    if (Status s = clock_.Tick(120000); !s.ok()) return s;
    if (disk_.transport != Transport::kPlatform)
      return PosixError("ATA command on " + disk_.name, EIO);
    // The translation layer takes the transfer length from the sector count, as SAT bridges do.
    if (!dataIn.empty() && registers.sectorCount == 0)
      return PosixError("ATA data-in command with sector count 0 on " + disk_.name, EIO);
    std::uint8_t sector[512];
    std::span<std::uint8_t> buffer = dataIn.empty() ? std::span<std::uint8_t>() : sector;
    if (Status s = AnswerAta(disk_, registers, buffer); !s.ok()) return s;
    Touched(!dataIn.empty(), registers.command == 0xEC);
    if (!dataIn.empty())
      std::copy_n(sector, std::min<std::size_t>(dataIn.size(), 512), dataIn.begin());
    return {};
  }

 private:
  Result<ScsiReply> AtaPassThrough(const ScsiRequest& request) {
    bool twelve = request.cdb[0] == 0xA1;
    auto registers = AtaFromPassThrough(request.cdb);
    // On Linux the platform's own ATA route is ATA PASS-THROUGH (16) too; CHECK POWER MODE is the
    // one command the library sends that way directly.
    bool known = twelve ? disk_.transport == Transport::kBridge12
                        : disk_.transport == Transport::kBridge16 ||
                              (disk_.transport == Transport::kPlatform && registers &&
                               registers->command == kCheckPowerMode);
    if (!known || !registers) return CheckCondition(0x05, 0x20);
    if (registers->command == kCheckPowerMode) return PowerModeReply(request);
    bool dataIn = PassThroughReadsData(request.cdb);
    if (dataIn && (request.direction != DataDirection::kIn || request.data.size() < 512))
      return IllegalRequest();
    // A data-in command whose length field (T_LENGTH: 1 features, 2 sector count) says no data is
    // refused, as a SAT bridge refuses it.
    if (dataIn && (request.cdb[2] & 0x03) == 1 && registers->features == 0) return IllegalRequest();
    if (dataIn && (request.cdb[2] & 0x03) == 2 && registers->sectorCount == 0)
      return IllegalRequest();
    std::uint8_t sector[512];
    std::span<std::uint8_t> buffer =
        dataIn ? std::span<std::uint8_t>(sector) : std::span<std::uint8_t>();
    if (!AnswerAta(disk_, *registers, buffer).ok()) return CheckCondition(0x0B, 0x00);
    Touched(dataIn, registers->command == 0xEC);
    if (dataIn) std::copy_n(sector, 512, request.data.begin());
    ScsiReply reply;
    reply.residual = static_cast<std::uint32_t>(request.data.size() - (dataIn ? 512 : 0));
    if (disk_.ataStatusSense) {
      // The registers with every reply, status 0x50 (ready, no error), as many SAT bridges send.
      ScsiReply withRegisters = AtaRegistersReply(disk_.senseFormat, kAtaReady, 0);
      withRegisters.residual = reply.residual;
      return withRegisters;
    }
    return reply;
  }

  // A command the bridge never answers: the kernel gives it up after its time-out and reports the
  // time-out in the host status. The wait is the time-out scaled by the world's sleepScale, so a
  // test sees the command's cost in the counters without waiting it.
  Result<ScsiReply> Swallowed(const ScsiRequest& request) {
    Status counted = UpdateCounters([&](DiskCounters& c) {
      ++c.timedOutCommands;
      c.timedOutSeconds += request.timeoutSeconds;
    });
    if (!counted.ok()) return counted;
    if (world_->sleepScale > 0)
      std::this_thread::sleep_for(std::chrono::duration<double>(
          static_cast<double>(request.timeoutSeconds) * world_->sleepScale));
    ScsiReply reply;
    reply.hostStatus = kDidTimeOut;
    return reply;
  }

  static constexpr std::uint64_t kPageBytes = 4096;

  Status ReadImage(std::uint64_t byteOffset, std::span<std::uint8_t> out) {
    if (byteOffset > size_ || out.size() > size_ - byteOffset)
      return PosixError("read past the end of " + disk_.name, EIO);
    std::fill(out.begin(), out.end(), 0);
    // A sparse tail past the image's end reads as the zeros already in out.
    if (image_.valid() && PreadFull(image_.get(), out, byteOffset) < 0)
      return PosixError("read " + disk_.image, errno);
    return {};
  }

  // Changes the disk's counters under the world's lock.
  Status UpdateCounters(const std::function<void(DiskCounters&)>& change) {
    return state_.Locked([&] { return state_.EditCounters(disk_.number, change); });
  }

  // The partitions the kernel knows on the disk: the entries of the image's MBR and the world's
  // volumes.
  int Partitions() const {
    std::set<int> numbers;
    for (const Volume& v : disk_.volumes)
      if (v.partition >= 1) numbers.insert(v.partition);
    std::array<std::uint8_t, 512> mbr{};
    if (image_.valid() && PreadFull(image_.get(), mbr, 0) == 512 && mbr[510] == 0x55 &&
        mbr[511] == 0xAA) {
      for (int i = 0; i < 4; ++i)
        if (mbr[446 + 16 * static_cast<std::size_t>(i) + 4] != 0) numbers.insert(i + 1);
    }
    return static_cast<int>(numbers.size());
  }

  bool Mounted() const {
    FileStamp stamp;
    for (const Volume& v : disk_.volumes)
      if (StampOf(v.dir, stamp) == 0 && stamp.directory) return true;
    return false;
  }

  // CHECK POWER MODE: the count register comes back only when the command asks for the registers
  // (CK_COND); a plain success carries nothing. A sleeping disk answers as standby, as after the
  // reset the kernel sends it.
  Result<ScsiReply> PowerModeReply(const ScsiRequest& request) {
    Result<DiskPower> power = Status(EIO, "unread");
    Status s = state_.Locked([&]() -> Status {
      power = state_.Power(disk_);
      return power.status();
    });
    if (!s.ok()) return s;
    std::uint8_t count = 0x00;
    if (power->mode == PowerMode::kActive) count = 0xFF;
    if (power->mode == PowerMode::kIdle) count = 0x80;
    if (!(request.cdb[2] & kCkCond)) return ScsiReply{};
    if (disk_.unfetchedRegisters) return AtaRegistersReply(disk_.senseFormat, 0, 0);
    return AtaRegistersReply(disk_.senseFormat, kAtaReady, count);
  }

  // What the drive's doing work causes, with the world's lock held: a read of the media or of
  // S.M.A.R.T. data (wake) spins a disk in standby or sleep up, and HID panels tied to the disk
  // see any of its activity (mark): their next probe answers 0xE0. The wake-up count lets tests
  // see reads that should never have reached a sleeping disk.
  Status Reached(bool wake, bool mark) {
    if (wake) {
      // Bookkeeping only: a power state that cannot be kept does not fail the read.
      auto power = state_.Power(disk_);
      if (power.ok() && (power->mode == PowerMode::kStandby || power->mode == PowerMode::kSleep)) {
        power->mode = PowerMode::kActive;
        ++power->wakeups;
        (void)state_.SetPower(disk_, *power);
      }
    }
    if (!mark) return {};
    for (const HidPanel& h : world_->hidPanels)
      if (h.disk && *h.disk == disk_.number)
        if (Status s = state_.RaiseHidFlag(h.name); !s.ok()) return s;
    return {};
  }

  // As Reached, taking the lock, for a command whose answer does not depend on it.
  void Touched(bool wake, bool mark) {
    if (wake || mark) (void)state_.Locked([&] { return Reached(wake, mark); });
  }

  WorldPtr world_;
  const sim::Disk& disk_;
  StateDir state_;
  FaultClock clock_;
  UniqueFd image_;
  std::uint64_t size_;
  DiskAccess access_;
  std::optional<PanelCache> panel_;
};

}  // namespace

std::unique_ptr<kuv::Disk> OpenSimDisk(WorldPtr world, const sim::Disk& disk, StateDir state,
                                       std::vector<Fault> faults, UniqueFd image,
                                       std::uint64_t size, DiskAccess access) {
  return std::make_unique<SimDisk>(std::move(world), disk, std::move(state), std::move(faults),
                                   std::move(image), size, access);
}

}  // namespace kuv::sim
