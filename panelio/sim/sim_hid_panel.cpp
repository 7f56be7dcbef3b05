#include "panelio/sim/sim_hid_panel.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <deque>
#include <thread>

#include "panelio/sim/sim_faults.h"
#include "panelio/sim/sim_panel_cache.h"

namespace kuv::sim {
namespace {

class SimHid final : public HidDevice {
 public:
  SimHid(WorldPtr world, const HidPanel& panel, StateDir state, std::vector<Fault> faults)
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
      if (line >= 1 && line <= kPanelLines) index = line - 1;
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
      auto taken = state_.TakeHidFlag(panel_.name);
      if (!taken.ok()) return taken.status();
      flag = *taken;
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
  const HidPanel& panel_;
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

}  // namespace

std::unique_ptr<HidDevice> OpenSimHid(WorldPtr world, const HidPanel& panel, StateDir state,
                                      std::vector<Fault> faults) {
  return std::make_unique<SimHid>(std::move(world), panel, std::move(state), std::move(faults));
}

}  // namespace kuv::sim
