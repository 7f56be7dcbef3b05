#pragma once
// The injected faults as one simulated device handle meets them: which faults target it, whether
// it is unplugged, and the clock that holds its replies back and counts down to an unplug.

#include <string>
#include <vector>

#include "panelio/env.h"
#include "panelio/sim/sim_state.h"

namespace kuv::sim {

// The fault targets of faults.json: "disk:<number>", "hid:<name>", "adapter:<id>".
std::string DiskTarget(int number);
std::string HidTarget(const std::string& name);
std::string AdapterTarget(const std::string& id);

std::vector<Fault> FaultsFor(const std::vector<Fault>& all, const std::string& target);
// True when an unplug fault has counted down to nothing.
bool Unplugged(const std::vector<Fault>& faults);
bool HasFault(const std::vector<Fault>& faults, Fault::Kind kind);

// What one device handle has to do with the faults injected on it: hold replies back, count down
// to an unplug, and remember that it went away.
class FaultClock {
 public:
  FaultClock(StateDir state, std::string target, std::vector<Fault> faults);
  ~FaultClock();
  FaultClock(const FaultClock&) = delete;
  FaultClock& operator=(const FaultClock&) = delete;

  // Called before every operation; an error once the device is gone. timeoutMs bounds a stall.
  Status Tick(int timeoutMs);

  bool RefusesLine(int index) const;
  bool SwallowsPassThrough() const;

 private:
  // Writes the remaining count back so the next handle, in any process, goes on counting.
  void Persist();

  StateDir state_;
  std::string target_;
  std::vector<Fault> faults_;
  int countdown_ = -1;
  int counted_ = 0;
  int stallMs_ = 0;
  bool gone_ = false;
};

}  // namespace kuv::sim
