#include "app/model/scheduler.h"

#include <gtest/gtest.h>

#include <map>

#include "app/model/virtual_time.h"

namespace kuv {
namespace {

using namespace std::chrono_literals;
using testing::RunUntil;
using testing::VirtualClock;

// When each action fired, in seconds of virtual time.
using Firings = std::map<TimerAction, std::vector<double>>;

struct Timeline {
  explicit Timeline(int wallSecond = 0) : clock(wallSecond) {}
  void Until(SteadyTime until) {
    RunUntil(clock, scheduler, until, [this](TimerAction action) {
      fired[action].push_back(static_cast<double>(clock.now.count()) / 1000.0);
      if (action == TimerAction::kSlotCheck && finishSlotChecks) scheduler.SlotCheckFinished();
    });
  }
  void At(SteadyTime when) { Until(when); }
  VirtualClock clock;
  Scheduler scheduler{clock};
  Firings fired;
  bool finishSlotChecks = true;
};

TEST(Scheduler, MinuteRefreshFirstAfterSixtySecondsThenAtFullMinutes) {
  struct Case {
    int wallSecond;
    std::vector<double> expected;
  };
  const Case cases[] = {
      // 60 s after start lands on second 17; then every full minute, once.
      {17, {60, 103, 163, 223}},
      {0, {60, 120, 180}},
      {59, {60, 61, 121, 181}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.wallSecond);
    Timeline t(c.wallSecond);
    t.scheduler.Start();
    t.Until(230s);
    EXPECT_EQ(t.fired[TimerAction::kMinuteRefresh], c.expected);
  }
}

TEST(Scheduler, SlotCheckEverySixtyOneSecondsAndNeverTwiceAtOnce) {
  Timeline t;
  t.scheduler.Start();
  t.Until(200s);
  EXPECT_EQ(t.fired[TimerAction::kSlotCheck], (std::vector<double>{61, 122, 183}));

  Timeline busy;
  busy.finishSlotChecks = false;  // the first check never returns (a modal box, say)
  busy.scheduler.Start();
  busy.Until(200s);
  EXPECT_EQ(busy.fired[TimerAction::kSlotCheck], (std::vector<double>{61}));
  busy.scheduler.SlotCheckFinished();
  busy.Until(250s);
  EXPECT_EQ(busy.fired[TimerAction::kSlotCheck], (std::vector<double>{61, 244}));
}

TEST(Scheduler, ABurstOfDeviceChangesGivesOneScanAfterTheLast) {
  Timeline t;
  t.scheduler.Start();
  for (SteadyTime when : {1000ms, 1500ms, 3000ms, 4200ms}) {
    t.At(when);
    t.scheduler.DeviceChanged();
  }
  t.Until(30s);
  EXPECT_EQ(t.fired[TimerAction::kDeviceScan], (std::vector<double>{6.8}));
}

TEST(Scheduler, RescanSeriesReplacesTheMinuteRefreshForSevenRunsThenItResumes) {
  Timeline t(0);
  t.scheduler.Start();
  t.At(10s);
  t.scheduler.PanelWaitStarted();
  t.At(30s);
  t.scheduler.PanelWaitStarted();  // a second mismatch does not restart the series
  t.Until(200s);
  EXPECT_EQ(t.fired[TimerAction::kRescan], (std::vector<double>{25, 40, 55, 70, 85, 100, 115}));
  EXPECT_EQ(t.scheduler.rescanCount(), 0);
  EXPECT_FALSE(t.scheduler.rescanRunning());
  // None during the series; afterwards at the next full minute (115 s is second 55).
  EXPECT_EQ(t.fired[TimerAction::kMinuteRefresh], (std::vector<double>{120, 180}));
}

TEST(Scheduler, RescanCountCountsTheRunsOfTheSeries) {
  Timeline t;
  t.scheduler.PanelWaitStarted();
  t.Until(46s);
  EXPECT_EQ(t.fired[TimerAction::kRescan].size(), 3u);
  EXPECT_EQ(t.scheduler.rescanCount(), 3);
}

TEST(Scheduler, SearchDeviceIsDisabledUntilItsReportOrThirtySeconds) {
  Timeline t;
  t.scheduler.Start();
  EXPECT_EQ(t.scheduler.SearchDevice(), std::vector<TimerAction>{TimerAction::kButtonScan});
  EXPECT_FALSE(t.scheduler.searchEnabled());
  EXPECT_TRUE(t.scheduler.SearchDevice().empty()) << "a disabled button starts nothing";
  t.Until(29s);
  EXPECT_FALSE(t.scheduler.searchEnabled());
  t.Until(30s);
  EXPECT_TRUE(t.scheduler.searchEnabled());
  EXPECT_EQ(t.fired[TimerAction::kEnableSearch].size(), 1u);

  t.scheduler.SearchDevice();
  t.scheduler.ScanStarted();
  t.At(35s);
  t.scheduler.ScanReported(true);
  EXPECT_TRUE(t.scheduler.searchEnabled());
  t.Until(90s);
  EXPECT_EQ(t.fired[TimerAction::kEnableSearch].size(), 1u) << "the report cancels the 30 s";
}

TEST(Scheduler, ExitWaitsForARunningScanAtMostFiveTicksOfTwoSeconds) {
  struct Case {
    const char* name;
    std::optional<SteadyTime> scanEndsAt;  // nullopt: the scan hangs
    std::optional<double> quitAt;
  };
  const Case cases[] = {
      {"no scan", std::nullopt, 0},
      {"scan ends after 3 s", 3s, 4},
      {"scan hangs", std::nullopt, 10},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Timeline t;
    t.scheduler.Start();
    bool scanning = std::string_view(c.name) != "no scan";
    if (scanning) t.scheduler.ScanStarted();
    std::vector<TimerAction> now = t.scheduler.Exit();
    if (!scanning) {
      EXPECT_EQ(now, std::vector<TimerAction>{TimerAction::kQuit});
      continue;
    }
    EXPECT_TRUE(now.empty());
    if (c.scanEndsAt) {
      t.Until(*c.scanEndsAt);
      t.scheduler.ScanReported(false);
    }
    t.Until(20s);
    EXPECT_EQ(t.fired[TimerAction::kQuit], std::vector<double>{*c.quitAt});
  }
}

TEST(Scheduler, SleepStopsTheMinuteRefreshAndResumeRearmsItAndScans) {
  Timeline t(0);
  t.scheduler.Start();
  t.Until(70s);
  t.scheduler.PrepareForSleep();
  EXPECT_FALSE(t.scheduler.minuteArmed());
  t.Until(300s);
  EXPECT_EQ(t.fired[TimerAction::kMinuteRefresh], (std::vector<double>{60}));
  EXPECT_EQ(t.scheduler.Resumed(), std::vector<TimerAction>{TimerAction::kResumeScan});
  EXPECT_FALSE(t.scheduler.searchEnabled());
  t.Until(361s);
  EXPECT_EQ(t.fired[TimerAction::kMinuteRefresh], (std::vector<double>{60, 360}));
}

TEST(Scheduler, ARescanSeriesAfterAResumeGivesTheMinuteBackWhenItEnds) {
  Timeline t(0);
  t.scheduler.Start();
  t.At(70s);
  t.scheduler.PrepareForSleep();
  t.At(300s);
  t.scheduler.Resumed();
  t.At(303s);
  t.scheduler.PanelWaitStarted();  // the resume scan found a panel not yet tied to its disk
  t.Until(481s);
  EXPECT_EQ(t.fired[TimerAction::kRescan],
            (std::vector<double>{318, 333, 348, 363, 378, 393, 408}));
  // Nothing while asleep or during the series; then the next full minute after 408 s (second 48).
  EXPECT_EQ(t.fired[TimerAction::kMinuteRefresh], (std::vector<double>{60, 420, 480}));
}

TEST(Scheduler, ARescanSeriesEndingDuringSleepLeavesTheMinuteStopped) {
  Timeline t;
  t.scheduler.Start();
  t.scheduler.PanelWaitStarted();
  t.At(20s);
  t.scheduler.PrepareForSleep();
  t.Until(400s);
  EXPECT_TRUE(t.fired[TimerAction::kMinuteRefresh].empty());
  EXPECT_FALSE(t.scheduler.minuteArmed());
}

TEST(Scheduler, ALateWakeUpFiresEachTimerOnce) {
  Timeline t;
  t.scheduler.Start();
  t.clock.now = 3600s;  // the process was stopped for an hour
  std::vector<TimerAction> actions = t.scheduler.Advance();
  EXPECT_EQ(actions,
            (std::vector<TimerAction>{TimerAction::kMinuteRefresh, TimerAction::kSlotCheck}));
  EXPECT_GT(*t.scheduler.NextDeadline(), 3600s);
}

}  // namespace
}  // namespace kuv
