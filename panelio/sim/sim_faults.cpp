#include "panelio/sim/sim_faults.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <thread>

namespace kuv::sim {

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

FaultClock::FaultClock(StateDir state, std::string target, std::vector<Fault> faults)
    : state_(std::move(state)), target_(std::move(target)), faults_(std::move(faults)) {
  for (const Fault& f : faults_) {
    if (f.kind == Fault::Kind::kUnplug) countdown_ = f.afterCommands;
    if (f.kind == Fault::Kind::kStall) stallMs_ = std::max(stallMs_, f.ms);
  }
}

FaultClock::~FaultClock() {
  if (countdown_ >= 0 && counted_ > 0) Persist();
}

Status FaultClock::Tick(int timeoutMs) {
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

bool FaultClock::RefusesLine(int index) const {
  for (const Fault& f : faults_)
    if (f.kind == Fault::Kind::kRefuseLine && f.line == index) return true;
  return false;
}

bool FaultClock::SwallowsPassThrough() const {
  return HasFault(faults_, Fault::Kind::kSwallowPassThrough);
}

void FaultClock::Persist() {
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

}  // namespace kuv::sim
