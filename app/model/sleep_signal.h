#pragma once
// logind's PrepareForSleep on the system bus, without Qt, for kuvlcd watch: a file descriptor for
// the event loop and a non-blocking read of what arrived.

#include <memory>
#include <string>
#include <vector>

namespace kuv {

enum class SleepEvent { kGoingToSleep, kResumed };

class SleepSignal {
 public:
  virtual ~SleepSignal() = default;
  virtual int fd() const = 0;
  // Poll events the descriptor must be watched for (they change with the bus's state).
  virtual short events() const = 0;
  // Handles what is pending without blocking; the sleep events in order.
  virtual std::vector<SleepEvent> Take() = 0;
};

// Null with error set when there is no system bus: the caller runs on without it.
std::unique_ptr<SleepSignal> OpenLogindSleepSignal(std::string& error);

}  // namespace kuv
