#pragma once
// The program's timers as plain rules: events go in, due deadlines come out as actions. Nothing
// here waits or runs anything; the program turns NextDeadline() into one QTimer, kuvlcd watch
// into a poll time-out, and the tests into virtual time.

#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>

namespace kuv {

using SteadyTime = std::chrono::milliseconds;  // since an arbitrary start, never going back

// The clock the rules read: a steady time for deadlines and the wall clock's second of the
// minute, which the minute refresh re-arms against.
class SchedulerClock {
 public:
  virtual ~SchedulerClock() = default;
  virtual SteadyTime Now() const = 0;
  virtual int SecondOfMinute() const = 0;
};

// The system's clocks.
class SystemSchedulerClock : public SchedulerClock {
 public:
  SteadyTime Now() const override;
  int SecondOfMinute() const override;
};

// What the owner must do when a deadline passes or an event arrives.
enum class TimerAction {
  kDeviceScan,     // start a background scan that reports as a device change
  kButtonScan,     // start a background scan that reports as the Search Device button
  kResumeScan,     // like kButtonScan, but nobody asked: disks that sleep are left alone
  kSlotCheck,      // slot count check and temperature check; call SlotCheckFinished() after
  kMinuteRefresh,  // one pass of the minute refresh
  kRescan,         // synchronous rescan and refresh while HID panels are untied
  kEnableSearch,   // enable the Search Device button again
  kQuit,           // end the program
};

inline constexpr std::chrono::milliseconds kDeviceChangeDelay{2600};
inline constexpr std::chrono::milliseconds kSlotCheckPeriod{61000};
inline constexpr std::chrono::milliseconds kMinutePeriod{60000};
inline constexpr std::chrono::milliseconds kRescanPeriod{15000};
inline constexpr std::chrono::milliseconds kExitRetryPeriod{2000};
inline constexpr std::chrono::milliseconds kSearchDisabledFor{30000};
inline constexpr int kRescanRuns = 7;
inline constexpr int kExitTicks = 5;

class Scheduler {
 public:
  explicit Scheduler(const SchedulerClock& clock) : clock_(clock) {}

  // End of initialisation: the minute refresh 60 s from now, the slot check every 61 s.
  void Start();

  // A device appeared or went: one scan 2.6 s after the last of a burst.
  void DeviceChanged();
  // Search Device: kButtonScan when the button is enabled, nothing while it is disabled.
  std::vector<TimerAction> SearchDevice();
  // A background scan was started or has reported (byButton: it reports for Search Device).
  void ScanStarted();
  void ScanReported(bool byButton);
  // A scan found fewer HID-tied drives than HID panels: the rescan series replaces the minute
  // refresh for 7 runs of 15 s.
  void PanelWaitStarted();
  void SlotCheckFinished() { slotCheckRunning_ = false; }

  // The system is about to sleep / has woken up (resume also does what Search Device does, except
  // that it wakes no sleeping disk).
  void PrepareForSleep();
  std::vector<TimerAction> Resumed();

  // Exit: kQuit at once unless a background scan runs; then up to five retries 2 s apart.
  std::vector<TimerAction> Exit();

  // The earliest armed deadline; nullopt when nothing is armed.
  std::optional<SteadyTime> NextDeadline() const;
  // Fires every timer due at the clock's now, each at most once, in deadline order.
  std::vector<TimerAction> Advance();

  bool searchEnabled() const { return searchEnabled_; }
  bool minuteArmed() const { return minute_.has_value(); }
  bool rescanRunning() const { return rescan_.has_value(); }
  int rescanCount() const { return rescanCount_; }
  int scansRunning() const { return scansRunning_; }

 private:
  void ArmMinuteAtNextFullMinute();
  void FireOne(std::optional<SteadyTime>& timer, std::vector<TimerAction>& out);

  const SchedulerClock& clock_;
  std::optional<SteadyTime> deviceChange_;  // one shot
  std::optional<SteadyTime> slotCheck_;     // repeating
  std::optional<SteadyTime> minute_;
  std::optional<SteadyTime> rescan_;
  std::optional<SteadyTime> exitRetry_;
  std::optional<SteadyTime> searchEnable_;  // one shot
  bool searchEnabled_ = true;
  bool slotCheckRunning_ = false;
  bool asleep_ = false;
  int rescanCount_ = 0;
  int scansRunning_ = 0;
  int exitTicks_ = 0;
};

}  // namespace kuv
