#pragma once
// Virtual time for the timer tests: a clock that moves only when told, and a loop that plays the
// scheduler's deadlines up to a moment as the program's event loop would.

#include <functional>

#include "app/model/scheduler.h"

namespace kuv::testing {

class VirtualClock : public SchedulerClock {
 public:
  // wallSecond: the wall clock's second of the minute at steady time 0.
  explicit VirtualClock(int wallSecond = 0) : wallSecond_(wallSecond) {}
  SteadyTime Now() const override { return now; }
  int SecondOfMinute() const override {
    return static_cast<int>((wallSecond_ * 1000 + now.count()) / 1000 % 60);
  }
  SteadyTime now{0};

 private:
  int wallSecond_;
};

// Moves the clock deadline by deadline up to until, handing each batch of actions to run.
inline void RunUntil(VirtualClock& clock, Scheduler& scheduler, SteadyTime until,
                     const std::function<void(TimerAction)>& run) {
  while (auto next = scheduler.NextDeadline()) {
    if (*next > until) break;
    clock.now = std::max(clock.now, *next);
    for (TimerAction action : scheduler.Advance()) run(action);
  }
  clock.now = std::max(clock.now, until);
}

}  // namespace kuv::testing
