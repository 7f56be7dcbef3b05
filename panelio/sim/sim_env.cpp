#include "panelio/sim/sim_env.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <filesystem>
#include <mutex>
#include <nlohmann/json.hpp>
#include <thread>

#include "common/utf16.h"
#include "panelio/bounded_call.h"
#include "panelio/linux/linux_env.h"
#include "panelio/sim/sim_ata.h"
#include "panelio/sim/sim_state.h"
#include "panelio/sim/world.h"
#include "panelio/unique_fd.h"
#include "panelio/upper_filters.h"

namespace kuv {
namespace {

using sim::Fault;
using sim::PanelMemory;
using sim::StateDir;
using WorldPtr = std::shared_ptr<const sim::World>;

std::string DiskTarget(int number) {
  return "disk:" + std::to_string(number);
}
std::string HidTarget(const std::string& name) {
  return "hid:" + name;
}
std::string AdapterTarget(const std::string& id) {
  return "adapter:" + id;
}

std::vector<Fault> FaultsFor(const std::vector<Fault>& all, const std::string& target) {
  std::vector<Fault> mine;
  for (const Fault& f : all)
    if (f.target == target) mine.push_back(f);
  return mine;
}

bool Unplugged(const std::vector<Fault>& faults) {
  for (const Fault& f : faults)
    if (f.kind == Fault::Kind::kUnplug && f.afterCommands <= 0) return true;
  return false;
}

bool HasFault(const std::vector<Fault>& faults, Fault::Kind kind) {
  for (const Fault& f : faults)
    if (f.kind == kind) return true;
  return false;
}

ScsiReply CheckCondition(std::uint8_t key, std::uint8_t asc) {
  ScsiReply reply;
  reply.scsiStatus = 0x02;
  reply.senseLength = 18;
  reply.sense[0] = 0x70;
  reply.sense[2] = key;
  reply.sense[7] = 10;
  reply.sense[12] = asc;
  return reply;
}

constexpr std::uint8_t kCheckPowerMode = 0xE5;

ScsiReply IllegalRequest() {
  return CheckCondition(0x05, 0x24);
}

// What one device handle has to do with the faults injected on it: hold replies back, count down
// to an unplug, and remember that it went away.
class FaultClock {
 public:
  FaultClock(StateDir state, std::string target, std::vector<Fault> faults)
      : state_(std::move(state)), target_(std::move(target)), faults_(std::move(faults)) {
    for (const Fault& f : faults_) {
      if (f.kind == Fault::Kind::kUnplug) countdown_ = f.afterCommands;
      if (f.kind == Fault::Kind::kStall) stallMs_ = std::max(stallMs_, f.ms);
    }
  }

  ~FaultClock() {
    if (countdown_ >= 0 && counted_ > 0) Persist();
  }

  // Called before every operation; an error once the device is gone. timeoutMs bounds a stall.
  Status Tick(int timeoutMs) {
    if (gone_) return PosixError(target_, ENODEV);
    if (countdown_ >= 0) {
      if (countdown_ == 0) {
        gone_ = true;
        Persist();
        return PosixError(target_ + " unplugged", ENODEV);
      }
      --countdown_;
      ++counted_;
    }
    if (stallMs_ > 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(std::min(stallMs_, timeoutMs)));
      if (stallMs_ > timeoutMs) return PosixError(target_ + " did not answer", ETIMEDOUT);
    }
    return {};
  }

  bool RefusesLine(int index) const {
    for (const Fault& f : faults_)
      if (f.kind == Fault::Kind::kRefuseLine && f.line == index) return true;
    return false;
  }

 private:
  // Writes the remaining count back so the next handle, in any process, goes on counting.
  void Persist() {
    int remaining = countdown_;
    counted_ = 0;
    state_.Locked([&]() -> Status {
      auto all = state_.Faults();
      if (!all.ok()) return all.status();
      for (Fault& f : *all)
        if (f.target == target_ && f.kind == Fault::Kind::kUnplug) f.afterCommands = remaining;
      return state_.SetFaults(*all);
    });
  }

  StateDir state_;
  std::string target_;
  std::vector<Fault> faults_;
  int countdown_ = -1;
  int counted_ = 0;
  int stallMs_ = 0;
  bool gone_ = false;
};

// A panel's memory as one handle sees it: loaded on first use, written back when a picture is
// complete and when the handle closes, so a picture costs a few file writes, not one per line.
class PanelCache {
 public:
  PanelCache(StateDir state, std::string name) : state_(std::move(state)), name_(std::move(name)) {}
  ~PanelCache() {
    if (!lines_.empty() || stops_ > 0) Flush();
  }

  Status Line(std::span<const std::uint8_t> record, int index) {
    std::array<std::uint8_t, 16> copy{};
    if (record.size() < copy.size()) return Status(EINVAL, "not a line record");
    std::copy_n(record.begin(), copy.size(), copy.begin());
    if (!seen_.TakeLine(copy, index)) return Status(EINVAL, "not a line record");
    lines_.push_back({copy, index});
    // A picture's worth of rows from this handle: show it now rather than at close.
    if (seen_.Complete()) {
      seen_.received.fill(false);
      return Flush();
    }
    return {};
  }

  Status Stop() {
    ++stops_;
    return Flush();
  }

 private:
  // Applies this handle's lines and stops to the stored memory under the lock, so two writers of
  // one panel lose nothing; rows are the last writer's, as on the panel itself.
  Status Flush() {
    Status s = state_.Locked([&]() -> Status {
      auto stored = state_.Panel(name_);
      if (!stored.ok()) return stored.status();
      PanelMemory& m = *stored;
      bool picture = false;
      for (const auto& [record, index] : lines_) {
        m.TakeLine(record, index);
        if (m.Complete()) {
          ++m.pictures;
          m.received.fill(false);
          picture = true;
        }
      }
      m.stops += stops_;
      return state_.SetPanel(name_, m, picture);
    });
    lines_.clear();
    stops_ = 0;
    return s;
  }

  StateDir state_;
  std::string name_;
  PanelMemory seen_;  // only which rows this handle sent since its last complete picture
  std::vector<std::pair<std::array<std::uint8_t, 16>, int>> lines_;
  std::uint64_t stops_ = 0;
};

class SimDisk final : public Disk {
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
    UpdateCounters([](sim::DiskCounters& c) {
      ++c.openHandles;
      return false;
    });
  }

  ~SimDisk() override {
    panel_.reset();
    // The kernel drops a disk's page cache with its last opener (a mounted partition is one), and
    // udev answers the close of a write-opened disk with a "change" event.
    bool mounted = Mounted();
    UpdateCounters([&](sim::DiskCounters& c) {
      if (--c.openHandles <= 0) {
        c.openHandles = 0;
        if (!mounted) c.cachedPages.clear();
      }
      if (access_ == DiskAccess::kReadWrite) ++c.changeEvents;
      return false;
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
        return ReadBuffer(request);
      case 0x3B:
        return WriteBuffer(request);
      case 0xA1:
      case 0x85:
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
    bool reached = false;
    Status counted = UpdateCounters([&](sim::DiskCounters& c) {
      for (std::uint64_t page = byteOffset / kPageBytes;
           page <= (byteOffset + out.size() - 1) / kPageBytes; ++page) {
        auto at = std::lower_bound(c.cachedPages.begin(), c.cachedPages.end(), page);
        if (at != c.cachedPages.end() && *at == page) continue;
        c.cachedPages.insert(at, page);
        reached = true;
      }
      if (reached) ++c.mediumReads;
      return reached;
    });
    if (!counted.ok()) return counted;
    if (!reached) return {};
    // Only a read that reaches the medium spins a sleeping disk up.
    Wake();
    return MarkActivity();
  }

  // A read past the cache, held to what O_DIRECT demands of a block device: whole logical blocks
  // into a buffer aligned to them.
  Status ReadMedium(std::uint64_t lba, std::span<std::uint8_t> out) override {
    if (Status s = clock_.Tick(120000); !s.ok()) return s;
    const std::uint64_t block = disk_.logicalBlockBytes;
    if (out.empty() || out.size() % block != 0 ||
        reinterpret_cast<std::uintptr_t>(out.data()) % block != 0)
      return PosixError("direct read of " + disk_.name + ": not whole aligned blocks", EINVAL);
    if (lba > size_ / block) return PosixError("read past the end of " + disk_.name, EIO);
    if (Status s = ReadImage(lba * block, out); !s.ok()) return s;
    if (Status s = UpdateCounters([](sim::DiskCounters& c) {
          ++c.mediumReads;
          return true;
        });
        !s.ok())
      return s;
    Wake();
    return MarkActivity();
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
    if (disk_.transport != sim::Transport::kPlatform)
      return PosixError("ATA command on " + disk_.name, EIO);
    // The translation layer takes the transfer length from the sector count, as SAT bridges do.
    if (!dataIn.empty() && registers.sectorCount == 0)
      return PosixError("ATA data-in command with sector count 0 on " + disk_.name, EIO);
    std::uint8_t sector[512];
    std::span<std::uint8_t> buffer = dataIn.empty() ? std::span<std::uint8_t>() : sector;
    if (Status s = sim::AnswerAta(disk_, registers, buffer); !s.ok()) return s;
    if (!dataIn.empty()) Wake();
    if (registers.command == 0xEC) MarkActivity();
    if (!dataIn.empty())
      std::copy_n(sector, std::min<std::size_t>(dataIn.size(), 512), dataIn.begin());
    return {};
  }

 private:
  Result<ScsiReply> ReadBuffer(const ScsiRequest& request) {
    if (!disk_.bridgePanel || request.cdb.size() < 3 || request.cdb[1] != 0x01 ||
        request.direction != DataDirection::kIn)
      return IllegalRequest();
    const sim::BridgePanel& panel = *disk_.bridgePanel;
    std::uint8_t reply[12] = {};
    std::size_t length = 0;
    switch (request.cdb[2]) {
      case 0x55:
        std::memcpy(reply, panel.idText.data(), std::min<std::size_t>(panel.idText.size(), 8));
        length = 8;
        break;
      case 0x51:
        reply[1] = panel.state;
        length = 12;
        break;
      case 0xE4:
        reply[0] = static_cast<std::uint8_t>(panel.panelWord & 0xFF);
        reply[1] = static_cast<std::uint8_t>(panel.panelWord >> 8);
        length = 8;
        break;
      default:
        return IllegalRequest();
    }
    std::size_t n = std::min(length, request.data.size());
    std::copy_n(reply, n, request.data.begin());
    ScsiReply good;
    good.residual = static_cast<std::uint32_t>(request.data.size() - n);
    return good;
  }

  Result<ScsiReply> WriteBuffer(const ScsiRequest& request) {
    if (!disk_.bridgePanel || request.cdb.size() < 6 || request.cdb[1] != 0x01 ||
        request.direction != DataDirection::kOut)
      return IllegalRequest();
    if (request.cdb[2] == 0xE7) {
      if (Status s = panel_->Stop(); !s.ok()) return s;
      return ScsiReply{};
    }
    if (request.cdb[2] != 0xE3 || request.data.size() < 16) return IllegalRequest();
    int index = request.cdb[5];
    if (index >= sim::kPanelLines || clock_.RefusesLine(index)) return CheckCondition(0x0B, 0x00);
    Status s = panel_->Line(request.data, index);
    if (s.code() == EINVAL) return IllegalRequest();
    if (!s.ok()) return s;
    return ScsiReply{};
  }

  Result<ScsiReply> AtaPassThrough(const ScsiRequest& request) {
    bool twelve = request.cdb[0] == 0xA1;
    auto registers = sim::AtaFromPassThrough(request.cdb);
    // On Linux the platform's own ATA route is ATA PASS-THROUGH (16) too; CHECK POWER MODE is the
    // one command the library sends that way directly.
    bool known = twelve ? disk_.transport == sim::Transport::kBridge12
                        : disk_.transport == sim::Transport::kBridge16 ||
                              (disk_.transport == sim::Transport::kPlatform && registers &&
                               registers->command == kCheckPowerMode);
    if (!known || !registers) return CheckCondition(0x05, 0x20);
    if (registers->command == kCheckPowerMode) return PowerModeReply();
    bool dataIn = sim::PassThroughReadsData(request.cdb);
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
    if (!sim::AnswerAta(disk_, *registers, buffer).ok()) return CheckCondition(0x0B, 0x00);
    if (dataIn) Wake();
    if (registers->command == 0xEC) MarkActivity();
    if (dataIn) std::copy_n(sector, 512, request.data.begin());
    ScsiReply reply;
    reply.residual = static_cast<std::uint32_t>(request.data.size() - (dataIn ? 512 : 0));
    if (disk_.ataStatusSense) {
      // Descriptor sense, RECOVERED ERROR, "ATA pass-through information available", with the ATA
      // status-return descriptor carrying status 0x50 (ready, no error).
      reply.scsiStatus = 0x02;
      reply.senseLength = 22;
      reply.sense[0] = 0x72;
      reply.sense[1] = 0x01;
      reply.sense[2] = 0x00;
      reply.sense[3] = 0x1D;
      reply.sense[7] = 14;
      reply.sense[8] = 0x09;
      reply.sense[9] = 12;
      reply.sense[21] = 0x50;
    }
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

  // Changes the disk's counters under the world's lock; change returns whether it changed the
  // medium's view (unused by the caller, kept so every edit reads alike).
  template <typename F>
  Status UpdateCounters(F&& change) {
    return state_.Locked([&]() -> Status {
      auto counters = state_.Counters(disk_.number);
      if (!counters.ok()) return counters.status();
      change(*counters);
      return state_.SetCounters(disk_.number, *counters);
    });
  }

  bool Mounted() const {
    struct stat st {};
    for (const sim::Volume& v : disk_.volumes)
      if (::stat(v.dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return true;
    return false;
  }

  // CHECK POWER MODE with CK_COND: the count register in an ATA Status Return descriptor. A
  // sleeping disk answers as standby, as after the reset the kernel sends it.
  Result<ScsiReply> PowerModeReply() {
    auto power = state_.Power(disk_);
    if (!power.ok()) return power.status();
    std::uint8_t count = 0x00;
    if (power->mode == sim::PowerMode::kActive) count = 0xFF;
    if (power->mode == sim::PowerMode::kIdle) count = 0x80;
    ScsiReply reply;
    reply.scsiStatus = 0x02;
    reply.senseLength = 22;
    reply.sense[0] = 0x72;
    reply.sense[1] = 0x01;  // recovered error: ATA PASS-THROUGH information available
    reply.sense[3] = 0x1D;
    reply.sense[7] = 14;
    reply.sense[8] = 0x09;
    reply.sense[9] = 0x0C;
    reply.sense[13] = count;
    reply.sense[21] = 0x50;  // device ready, no error
    return reply;
  }

  // A read of the media or of S.M.A.R.T. data spins a disk in standby or sleep up; the count lets
  // tests see reads that should never have reached a sleeping disk. Bookkeeping only: a state
  // file that cannot be kept does not fail the read.
  void Wake() {
    (void)state_.Locked([&]() -> Status {
      auto power = state_.Power(disk_);
      if (!power.ok()) return power.status();
      if (power->mode != sim::PowerMode::kStandby && power->mode != sim::PowerMode::kSleep)
        return {};
      power->mode = sim::PowerMode::kActive;
      ++power->wakeups;
      return state_.SetPower(disk_, *power);
    });
  }

  // HID panels tied to this disk see its activity: their next probe answers 0xE0.
  Status MarkActivity() {
    std::vector<std::string> tied;
    for (const sim::HidPanel& h : world_->hidPanels)
      if (h.disk && *h.disk == disk_.number) tied.push_back(h.name);
    if (tied.empty()) return {};
    return state_.Locked([&]() -> Status {
      for (const std::string& name : tied)
        if (Status s = state_.Write("hid/" + name + ".json", "{\"flagE0\":true}\n"); !s.ok())
          return s;
      return {};
    });
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

class SimHid final : public HidDevice {
 public:
  SimHid(WorldPtr world, const sim::HidPanel& panel, StateDir state, std::vector<Fault> faults)
      : world_(std::move(world)),
        panel_(panel),
        state_(state),
        clock_(state, HidTarget(panel.name), std::move(faults)),
        memory_(state, panel.name) {}

  Status Write(std::span<const std::uint8_t, 65> report) override {
    if (Status s = clock_.Tick(5000); !s.ok()) return s;
    if (report[1] == 0x41) return Probe();
    if (report[1] == 0x4C) {
      std::span<const std::uint8_t> record = report.subspan(1, 16);
      int index = -1;
      std::uint8_t line = record[3];
      line = static_cast<std::uint8_t>((line & 0xF0) >> 4 | (line & 0x0F) << 4);
      line = static_cast<std::uint8_t>((line & 0xCC) >> 2 | (line & 0x33) << 2);
      line = static_cast<std::uint8_t>((line & 0xAA) >> 1 | (line & 0x55) << 1);
      if (line >= 1 && line <= sim::kPanelLines) index = line - 1;
      if (index < 0) return PosixError("HID line report with line number 0", EINVAL);
      if (clock_.RefusesLine(index)) return PosixError("HID panel refused the report", EPIPE);
      return memory_.Line(record, index);
    }
    return {};  // other reports are taken and ignored, as by the controller
  }

  // Replies queue up as hidraw queues them; a late one is not there before its time, and is still
  // there for the next read after that.
  Result<std::size_t> Read(std::span<std::uint8_t, 65> report, int timeoutMs) override {
    if (Status s = clock_.Tick(std::max(timeoutMs, 0)); !s.ok()) {
      if (s.code() == ETIMEDOUT) return std::size_t{0};
      return s;
    }
    if (pending_.empty()) return std::size_t{0};
    auto now = std::chrono::steady_clock::now();
    if (pending_.front().readyAt > now) {
      auto deadline = now + std::chrono::milliseconds(std::max(timeoutMs, 0));
      if (pending_.front().readyAt > deadline) {
        std::this_thread::sleep_until(deadline);
        return std::size_t{0};
      }
      std::this_thread::sleep_until(pending_.front().readyAt);
    }
    std::copy(pending_.front().bytes.begin(), pending_.front().bytes.end(), report.begin());
    pending_.pop_front();
    return report.size();
  }

 private:
  // The controller answers the probe with its status: 0x60 when idle, 0xE0 once after its disk was
  // read since the previous probe.
  Status Probe() {
    bool flag = false;
    Status s = state_.Locked([&]() -> Status {
      auto text = state_.Read("hid/" + panel_.name + ".json");
      if (!text.ok()) return text.status();
      flag = *text && text->value().find("true") != std::string::npos;
      if (flag) return state_.Write("hid/" + panel_.name + ".json", "{\"flagE0\":false}\n");
      return {};
    });
    if (!s.ok()) return s;
    std::array<std::uint8_t, 65> reply{};
    reply[1] = 0x41;
    reply[2] = flag ? 0xE0 : 0x60;
    // The controller answers in order: a reply behind a late one is late as well.
    auto readyAt = std::chrono::steady_clock::now();
    if (lateLeft_ > 0) {
      --lateLeft_;
      readyAt += std::chrono::milliseconds(panel_.lateReplyMs);
    }
    if (!pending_.empty()) readyAt = std::max(readyAt, pending_.back().readyAt);
    pending_.push_back({reply, readyAt});
    return {};
  }

  WorldPtr world_;
  const sim::HidPanel& panel_;
  StateDir state_;
  FaultClock clock_;
  PanelCache memory_;
  struct Pending {
    std::array<std::uint8_t, 65> bytes;
    std::chrono::steady_clock::time_point readyAt;
  };
  std::deque<Pending> pending_;
  int lateLeft_ = panel_.lateReplies;
};

class SimPort final : public StoragePort {
 public:
  SimPort(WorldPtr world, const sim::Adapter& adapter, DeviceEnv& env)
      : world_(std::move(world)), adapter_(adapter), env_(env) {}

  // Plays the SATA filter driver: present only when the adapter's upper filters name it.
  Result<std::size_t> Miniport(std::span<const std::uint8_t> in,
                               std::span<std::uint8_t> out) override {
    auto list = env_.ReadUpperFilters(adapter_.instanceId);
    if (!list.ok()) return list.status();
    if (!*list || !HasSataFilter(**list)) return PosixError("no filter on " + adapter_.id, EIO);
    auto request = sim::ParseFilterRequest(in);
    if (!request || out.size() < sim::kFilterRequestOut)
      return PosixError("malformed filter request", EINVAL);
    const sim::Disk* disk = nullptr;
    for (const sim::Disk& d : world_->disks)
      if (d.adapter == adapter_.id && d.transport == sim::Transport::kFilter &&
          d.scsiAddress.path == request->pathId && d.scsiAddress.target == request->targetId)
        disk = &d;
    if (!disk) return PosixError("no drive at that address on " + adapter_.id, ENODEV);
    bool dataIn = request->registers.command == 0xEC || request->registers.features == 0xD0 ||
                  request->registers.features == 0xD1;
    std::uint8_t sector[512] = {};
    if (Status s =
            sim::AnswerAta(*disk, request->registers,
                           dataIn ? std::span<std::uint8_t>(sector) : std::span<std::uint8_t>());
        !s.ok())
      return s;
    std::fill(out.begin(), out.end(), 0);
    std::copy_n(in.begin(), std::min(in.size(), sim::kFilterReplyOffset), out.begin());
    std::copy_n(sector, 512, out.begin() + sim::kFilterReplyOffset);
    return sim::kFilterRequestOut;
  }

 private:
  WorldPtr world_;
  const sim::Adapter& adapter_;
  DeviceEnv& env_;
};

std::vector<std::uint8_t> Utf16Bytes(const std::string& utf8) {
  std::u16string text = Utf8ToUtf16(utf8);
  std::vector<std::uint8_t> bytes;
  for (char16_t c : text) {
    bytes.push_back(static_cast<std::uint8_t>(c & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>(c >> 8));
  }
  bytes.push_back(0);
  bytes.push_back(0);
  return bytes;
}

std::string Normal(const std::string& path) {
  return std::filesystem::path(path).lexically_normal().string();
}

bool Inside(const std::string& path, const std::string& dir) {
  std::string d = Normal(dir);
  while (d.size() > 1 && d.back() == '/') d.pop_back();
  return path == d ||
         (path.size() > d.size() && path.compare(0, d.size(), d) == 0 && path[d.size()] == '/');
}

class SimEnv final : public DeviceEnv {
 public:
  explicit SimEnv(std::string dir) : dir_(std::move(dir)), state_(dir_) {}

  Result<std::unique_ptr<Disk>> OpenDisk(int driveNumber, DiskAccess access) override {
    auto world = World();
    if (!world.ok()) return world.status();
    const sim::Disk* disk = (*world)->FindDisk(driveNumber);
    if (!disk) return PosixError("drive " + std::to_string(driveNumber), ENOENT);
    auto faults = FaultsOf(DiskTarget(driveNumber));
    if (!faults.ok()) return faults.status();
    if (Unplugged(*faults)) return PosixError("drive " + std::to_string(driveNumber), ENOENT);
    if (HasFault(*faults, Fault::Kind::kFailOpen))
      return PosixError("open drive " + std::to_string(driveNumber), EIO);
    UniqueFd image;
    std::uint64_t size = disk->sizeBytes;
    if (!disk->image.empty()) {
      image.reset(::open(disk->image.c_str(), O_RDONLY | O_CLOEXEC));
      if (!image.valid()) return PosixError("open " + disk->image, errno);
      struct stat st {};
      if (size == 0 && ::fstat(image.get(), &st) == 0)
        size = static_cast<std::uint64_t>(st.st_size);
    }
    return std::unique_ptr<Disk>(std::make_unique<SimDisk>(
        *world, *disk, state_, std::move(*faults), std::move(image), size, access));
  }

  Result<std::vector<DiskInterface>> ListDisks() override {
    auto world = World();
    if (!world.ok()) return world.status();
    auto all = state_.Faults();
    if (!all.ok()) return all.status();
    std::vector<DiskInterface> disks;
    for (const sim::Disk& d : (*world)->disks) {
      if (Unplugged(FaultsFor(*all, DiskTarget(d.number)))) continue;
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
    return std::optional<StoragePortInfo>(PortInfo(*disk->first->FindAdapter(d.adapter)));
  }

  Result<std::vector<StoragePortInfo>> ListStoragePorts() override {
    auto world = World();
    if (!world.ok()) return world.status();
    std::vector<StoragePortInfo> ports;
    for (const sim::Adapter& a : (*world)->adapters) ports.push_back(PortInfo(a));
    return ports;
  }

  Result<std::optional<std::vector<std::uint8_t>>> ReadUpperFilters(
      const std::string& instanceId) override {
    auto world = World();
    if (!world.ok()) return world.status();
    const sim::Adapter* a = (*world)->FindAdapter(instanceId);
    if (!a) return PosixError("adapter " + instanceId, ENOENT);
    auto stored = state_.Read("adapters/" + a->id + ".filters");
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
    auto faults = FaultsOf(AdapterTarget(a->id));
    if (!faults.ok()) return faults.status();
    if (HasFault(*faults, Fault::Kind::kFailOpen))
      return PosixError("write upper filters of " + a->id, EACCES);
    return state_.Locked([&] {
      return state_.Write("adapters/" + a->id + ".filters",
                          {reinterpret_cast<const char*>(multiString.data()), multiString.size()});
    });
  }

  Result<std::unique_ptr<StoragePort>> OpenStoragePort(const std::string& interfacePath) override {
    auto world = World();
    if (!world.ok()) return world.status();
    for (const sim::Adapter& a : (*world)->adapters)
      if (a.portPath == interfacePath)
        return std::unique_ptr<StoragePort>(std::make_unique<SimPort>(*world, a, *this));
    return PosixError("storage port " + interfacePath, ENOENT);
  }

  Result<std::vector<HidInfo>> ListHid() override {
    auto world = World();
    if (!world.ok()) return world.status();
    auto all = state_.Faults();
    if (!all.ok()) return all.status();
    std::vector<HidInfo> list;
    for (const sim::HidPanel& h : (*world)->hidPanels) {
      if (Unplugged(FaultsFor(*all, HidTarget(h.name)))) continue;
      list.push_back({h.path, h.vendor, h.product, h.capsReadable});
    }
    return list;
  }

  Result<std::unique_ptr<HidDevice>> OpenHid(const std::string& path) override {
    auto world = World();
    if (!world.ok()) return world.status();
    const sim::HidPanel* panel = (*world)->FindHid(path);
    if (!panel) return PosixError("open " + path, ENOENT);
    auto faults = FaultsOf(HidTarget(panel->name));
    if (!faults.ok()) return faults.status();
    if (Unplugged(*faults)) return PosixError("open " + path, ENOENT);
    if (HasFault(*faults, Fault::Kind::kFailOpen)) return PosixError("open " + path, EIO);
    return std::unique_ptr<HidDevice>(
        std::make_unique<SimHid>(*world, *panel, state_, std::move(*faults)));
  }

  Result<std::vector<VolumeInfo>> ListVolumes() override {
    auto world = World();
    if (!world.ok()) return world.status();
    auto all = state_.Faults();
    if (!all.ok()) return all.status();
    std::vector<VolumeInfo> volumes;
    for (const sim::Disk& d : (*world)->disks) {
      if (Unplugged(FaultsFor(*all, DiskTarget(d.number)))) continue;
      for (const sim::Volume& v : d.volumes) {
        struct stat st {};
        if (::stat(v.dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) continue;  // not mounted
        VolumeInfo info;
        info.driveNumber = d.number;
        info.partition = v.partition;
        info.mountPoint = Normal(v.dir);
        while (info.mountPoint.size() > 1 && info.mountPoint.back() == '/')
          info.mountPoint.pop_back();
        info.label = v.label;
        info.fileSystem = v.fileSystem;
        auto space = VolumeSpace(v);
        if (space.ok()) {
          info.totalBytes = space->totalBytes;
          info.freeBytes = space->freeBytes;
        }
        volumes.push_back(std::move(info));
      }
    }
    std::sort(volumes.begin(), volumes.end(), [](const VolumeInfo& a, const VolumeInfo& b) {
      return std::tie(a.driveNumber, a.partition) < std::tie(b.driveNumber, b.partition);
    });
    return volumes;
  }

  Result<SpaceInfo> FreeSpace(const std::string& path) override {
    auto world = World();
    if (!world.ok()) return world.status();
    std::string p = Normal(path);
    for (const sim::Disk& d : (*world)->disks)
      for (const sim::Volume& v : d.volumes)
        if (Inside(p, v.dir)) return VolumeSpace(v);
    return Statvfs(path);
  }

  Status CreateDirectory(const std::string& path) override {
    if (Status s = CheckInside(path); !s.ok()) return s;
    if (::mkdir(path.c_str(), 0755) != 0) return PosixError("create " + path, errno);
    return {};
  }

  Status SetHidden(const std::string& path) override {
    if (Status s = CheckInside(path); !s.ok()) return s;
    if (::access(path.c_str(), F_OK) != 0) return PosixError("open " + path, errno);
    auto keeps = KeepsAttributes(path);
    if (!keeps.ok()) return keeps.status();
    if (!*keeps) return {};
    std::string key = Normal(path);
    return state_.Locked([&]() -> Status {
      auto hidden = HiddenSet();
      if (!hidden.ok()) return hidden.status();
      if (std::find(hidden->begin(), hidden->end(), key) != hidden->end()) return {};
      hidden->push_back(key);
      return state_.Write("hidden.json", nlohmann::json(*hidden).dump(2) + "\n");
    });
  }

  Result<bool> IsHidden(const std::string& path) override {
    if (Status s = CheckInside(path); !s.ok()) return s;
    if (::access(path.c_str(), F_OK) != 0) return PosixError("open " + path, errno);
    auto hidden = HiddenSet();
    if (!hidden.ok()) return hidden.status();
    return std::find(hidden->begin(), hidden->end(), Normal(path)) != hidden->end();
  }

  Status AppendToFile(const std::string& path, std::span<const std::uint8_t> data) override {
    if (Status s = CheckInside(path); !s.ok()) return s;
    UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
    if (!fd.valid()) return PosixError("open " + path, errno);
    if (int err = WriteAll(fd.get(), data); err != 0) return PosixError("write " + path, err);
    return {};
  }

  Status DeleteFile(const std::string& path) override {
    if (Status s = CheckInside(path); !s.ok()) return s;
    if (::unlink(path.c_str()) != 0) return PosixError("delete " + path, errno);
    return {};
  }

  Status SetAutostart(bool on) override {
    if (!on) {
      std::string path = state_.dir() + "/autostart/KuvLcdManager.desktop";
      if (::unlink(path.c_str()) != 0 && errno != ENOENT)
        return PosixError("delete " + path, errno);
      return {};
    }
    return state_.Write("autostart/KuvLcdManager.desktop", AutostartDesktopEntry("KuvLcdManager"));
  }

  Result<bool> AutostartRegistered() override {
    auto text = state_.Read("autostart/KuvLcdManager.desktop");
    if (!text.ok()) return text.status();
    return text->has_value();
  }

  void Sleep(std::chrono::milliseconds duration) override {
    auto world = World();
    double scale = world.ok() ? (*world)->sleepScale : 0.0;
    if (scale > 0)
      std::this_thread::sleep_for(
          std::chrono::duration<double, std::milli>(static_cast<double>(duration.count()) * scale));
  }

 private:
  // The world as world.json says now. The text is compared, not the time stamp, because a test
  // may rewrite the file within one tick of the file system's clock.
  Result<WorldPtr> World() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::string path = dir_ + "/world.json";
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.valid()) {
      world_.reset();
      return PosixError("world " + path, errno);
    }
    std::string text;
    if (int err = ReadAll(fd.get(), text); err != 0) return PosixError("read " + path, err);
    if (!world_ || text != text_) {
      auto parsed = sim::ParseWorld(text, dir_);
      if (!parsed.ok()) {
        world_.reset();
        return parsed.status();
      }
      world_ = std::make_shared<const sim::World>(std::move(*parsed));
      text_ = std::move(text);
    }
    return world_;
  }

  // The world and one of its disks, present (not unplugged); the world keeps the disk alive.
  Result<std::pair<WorldPtr, const sim::Disk*>> PresentDisk(int driveNumber) {
    auto world = World();
    if (!world.ok()) return world.status();
    const sim::Disk* disk = (*world)->FindDisk(driveNumber);
    auto faults = FaultsOf(DiskTarget(driveNumber));
    if (!faults.ok()) return faults.status();
    if (!disk || Unplugged(*faults))
      return PosixError("drive " + std::to_string(driveNumber), ENOENT);
    return std::make_pair(*world, disk);
  }

  Result<std::vector<Fault>> FaultsOf(const std::string& target) {
    auto all = state_.Faults();
    if (!all.ok()) return all.status();
    return FaultsFor(*all, target);
  }

  static StoragePortInfo PortInfo(const sim::Adapter& a) {
    return {a.portPath, a.instanceId, a.hardwareIds, Utf16Bytes(a.pdoName)};
  }

  static Result<SpaceInfo> Statvfs(const std::string& path) {
    struct statvfs s {};
    if (::statvfs(path.c_str(), &s) != 0) return PosixError("statvfs " + path, errno);
    return SpaceInfo{static_cast<std::uint64_t>(s.f_blocks) * s.f_frsize,
                     static_cast<std::uint64_t>(s.f_bavail) * s.f_frsize};
  }

  // Bounded as on real hardware; a volume with hangMs plays a mount whose disk does not answer.
  static Result<SpaceInfo> VolumeSpace(const sim::Volume& v) {
    auto real = BoundedSpaceQuery("sim statvfs " + v.dir, [dir = v.dir, hang = v.hangMs] {
      if (hang > 0) std::this_thread::sleep_for(std::chrono::milliseconds(hang));
      return Statvfs(dir);
    });
    if (!real.ok() && real.status().code() == ETIMEDOUT) return real.status();
    if (!v.totalBytes && !real.ok()) return real.status();
    SpaceInfo space = real.ok() ? *real : SpaceInfo{};
    if (v.totalBytes) space.totalBytes = *v.totalBytes;
    if (v.freeBytes) space.freeBytes = std::min(*v.freeBytes, space.totalBytes);
    return space;
  }

  // The simulator writes only inside its world and its volumes, so a test world can never touch
  // the machine's own files, even with a service running as root.
  Status CheckInside(const std::string& path) {
    auto world = World();
    if (!world.ok()) return world.status();
    std::string p = Normal(path);
    if (p.empty() || p[0] != '/' || p.find("/../") != std::string::npos)
      return PosixError(path + " is outside the simulated world", EACCES);
    if (Inside(p, dir_)) return {};
    for (const sim::Disk& d : (*world)->disks)
      for (const sim::Volume& v : d.volumes)
        if (Inside(p, v.dir)) return {};
    return PosixError(path + " is outside the simulated world", EACCES);
  }

  // Windows file systems keep a hidden attribute; the others have none to set.
  Result<bool> KeepsAttributes(const std::string& path) {
    auto world = World();
    if (!world.ok()) return world.status();
    std::string p = Normal(path);
    for (const sim::Disk& d : (*world)->disks)
      for (const sim::Volume& v : d.volumes)
        if (Inside(p, v.dir))
          return v.fileSystem == "NTFS" || v.fileSystem == "FAT32" || v.fileSystem == "FAT" ||
                 v.fileSystem == "exFAT";
    return false;
  }

  Result<std::vector<std::string>> HiddenSet() {
    auto text = state_.Read("hidden.json");
    if (!text.ok()) return text.status();
    std::vector<std::string> set;
    if (!*text) return set;
    nlohmann::json root = nlohmann::json::parse(**text, nullptr, false);
    if (!root.is_array()) return Status(EINVAL, state_.dir() + "/hidden.json: malformed");
    for (const auto& item : root)
      if (item.is_string()) set.push_back(item.get<std::string>());
    return set;
  }

  std::string dir_;
  StateDir state_;
  std::mutex mutex_;
  WorldPtr world_;
  std::string text_;
};

}  // namespace

std::unique_ptr<DeviceEnv> NewSimEnv(const std::string& worldDir) {
  std::string dir = worldDir;
  if (!dir.empty() && dir[0] != '/') {
    std::error_code ec;
    auto abs = std::filesystem::absolute(dir, ec);
    if (!ec) dir = abs.string();
  }
  dir = Normal(dir);
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  return std::make_unique<SimEnv>(dir);
}

}  // namespace kuv
