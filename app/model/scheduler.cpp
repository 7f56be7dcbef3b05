#include "app/model/scheduler.h"

#include <algorithm>
#include <ctime>

namespace kuv {

SteadyTime SystemSchedulerClock::Now() const {
  return std::chrono::duration_cast<SteadyTime>(
      std::chrono::steady_clock::now().time_since_epoch());
}

int SystemSchedulerClock::SecondOfMinute() const {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  ::localtime_r(&now, &local);
  return std::min(local.tm_sec, 59);  // a leap second counts as the minute's last
}

void Scheduler::Start() {
  SteadyTime now = clock_.Now();
  minute_ = now + kMinutePeriod;
  slotCheck_ = now + kSlotCheckPeriod;
}

void Scheduler::DeviceChanged() {
  deviceChange_ = clock_.Now() + kDeviceChangeDelay;
}

std::vector<TimerAction> Scheduler::SearchDevice() {
  if (!searchEnabled_) return {};
  searchEnabled_ = false;
  searchEnable_ = clock_.Now() + kSearchDisabledFor;
  return {TimerAction::kButtonScan};
}

void Scheduler::ScanStarted() {
  ++scansRunning_;
}

void Scheduler::ScanReported(bool byButton) {
  scansRunning_ = std::max(scansRunning_ - 1, 0);
  if (byButton) {
    searchEnabled_ = true;
    searchEnable_.reset();
  }
}

void Scheduler::PanelWaitStarted() {
  minute_.reset();
  if (!rescan_) rescan_ = clock_.Now() + kRescanPeriod;
}

void Scheduler::PrepareForSleep() {
  asleep_ = true;
  minute_.reset();
}

std::vector<TimerAction> Scheduler::Resumed() {
  asleep_ = false;
  SteadyTime now = clock_.Now();
  minute_ = now + kMinutePeriod;
  // Whatever the button's state, the drives may have changed while the machine slept.
  searchEnabled_ = false;
  searchEnable_ = now + kSearchDisabledFor;
  return {TimerAction::kResumeScan};
}

std::vector<TimerAction> Scheduler::Exit() {
  if (scansRunning_ == 0) return {TimerAction::kQuit};
  if (!exitRetry_) {
    exitTicks_ = 0;
    exitRetry_ = clock_.Now() + kExitRetryPeriod;
  }
  return {};
}

std::optional<SteadyTime> Scheduler::NextDeadline() const {
  std::optional<SteadyTime> next;
  for (const auto* timer :
       {&deviceChange_, &slotCheck_, &minute_, &rescan_, &exitRetry_, &searchEnable_}) {
    if (*timer && (!next || **timer < *next)) next = *timer;
  }
  return next;
}

// Fired at second 0, the next full minute is 60 s away. (Re-arming for 50 s there, as the
// Windows program does, ran a second refresh at second 50 of every minute: each panel sent the
// same picture again and every request made twice, for nothing the user could see.)
void Scheduler::ArmMinuteAtNextFullMinute() {
  const int second = clock_.SecondOfMinute();
  minute_ = clock_.Now() + std::chrono::seconds(60 - second);
}

void Scheduler::FireOne(std::optional<SteadyTime>& timer, std::vector<TimerAction>& out) {
  SteadyTime now = clock_.Now();
  if (&timer == &deviceChange_) {
    timer.reset();
    out.push_back(TimerAction::kDeviceScan);
  } else if (&timer == &slotCheck_) {
    timer = now + kSlotCheckPeriod;
    if (!slotCheckRunning_) {
      slotCheckRunning_ = true;
      out.push_back(TimerAction::kSlotCheck);
    }
  } else if (&timer == &minute_) {
    ArmMinuteAtNextFullMinute();
    out.push_back(TimerAction::kMinuteRefresh);
  } else if (&timer == &rescan_) {
    minute_.reset();
    out.push_back(TimerAction::kRescan);
    if (rescanCount_ < kRescanRuns - 1) {
      ++rescanCount_;
      timer = now + kRescanPeriod;
    } else {
      rescanCount_ = 0;
      timer.reset();
      // The series has ended; a panel whose clock stopped would be the visible result.
      if (!asleep_) ArmMinuteAtNextFullMinute();
    }
  } else if (&timer == &exitRetry_) {
    ++exitTicks_;
    if (scansRunning_ == 0 || exitTicks_ >= kExitTicks) {
      scansRunning_ = 0;
      timer.reset();
      out.push_back(TimerAction::kQuit);
    } else {
      timer = now + kExitRetryPeriod;
    }
  } else if (&timer == &searchEnable_) {
    timer.reset();
    searchEnabled_ = true;
    out.push_back(TimerAction::kEnableSearch);
  }
}

std::vector<TimerAction> Scheduler::Advance() {
  SteadyTime now = clock_.Now();
  std::vector<std::optional<SteadyTime>*> due;
  for (auto* timer :
       {&deviceChange_, &slotCheck_, &minute_, &rescan_, &exitRetry_, &searchEnable_}) {
    if (*timer && **timer <= now) due.push_back(timer);
  }
  std::stable_sort(due.begin(), due.end(), [](auto* a, auto* b) { return **a < **b; });
  std::vector<TimerAction> out;
  for (auto* timer : due) {
    // An earlier firing may have stopped this one (the rescan stops the minute refresh).
    if (*timer && **timer <= now) FireOne(*timer, out);
  }
  return out;
}

}  // namespace kuv
