#include "panelsvc/scan_ties.h"

#include <gtest/gtest.h>

#include "common/utf16.h"
#include "panelsvc/dispatch.h"

namespace kuv::svc {
namespace {

using Clock = ScanTies::Clock;
using Paths = std::vector<std::string>;

DriveRecord Tied(const std::string& path, std::int32_t state = kNotSiliconImageHost) {
  DriveRecord r{};
  r.connectionState = state;
  SetField(r.hidPath, path);
  return r;
}

TEST(ScanTies, TiesHoldWithinOneScanOfOneProcess) {
  ScanTies ties;
  const Clock::time_point t0{};
  EXPECT_EQ(ties.Before(10, 2, t0), Paths{});
  ties.After(10, 2, 1, Tied("p2"));
  EXPECT_EQ(ties.Before(10, 0, t0), Paths{"p2"});
  ties.After(10, 0, 1, Tied("", kHidUntied));
  EXPECT_EQ(ties.Before(10, 3, t0), Paths{"p2"});
  ties.After(10, 3, 1, Tied("p3", kSiliconImageWithoutFilter));
  EXPECT_EQ(ties.Before(10, 4, t0), (Paths{"p2", "p3"}));
  EXPECT_EQ(ties.Before(11, 5, t0), Paths{}) << "another process scans on its own";
  EXPECT_EQ(ties.Before(10, 2, t0), Paths{}) << "drive 2 asked again: a new scan";
}

TEST(ScanTies, OnlyAnswersThatTieADriveToAPanelCount) {
  const struct {
    const char* what;
    std::int32_t result;
    DriveRecord record;
  } notTies[] = {
      {"not found", 0, Tied("p")},
      {"untied panel", 1, Tied("p", kHidUntied)},
      {"bridge panel", 1, Tied("p", kBridgePlain)},
      {"no path", 1, Tied("")},
  };
  for (const auto& c : notTies) {
    ScanTies ties;
    ties.Before(1, 0, {});
    ties.After(1, 0, c.result, c.record);
    EXPECT_EQ(ties.Before(1, 1, {}), Paths{}) << c.what;
  }
}

TEST(ScanTies, ForgetsIdleAndSurplusScans) {
  ScanTies ties;
  const Clock::time_point t0{};
  ties.Before(1, 0, t0);
  ties.After(1, 0, 1, Tied("p0"));
  EXPECT_EQ(ties.Before(1, 1, t0 + ScanTies::kIdle - std::chrono::seconds(1)), Paths{"p0"});
  EXPECT_EQ(ties.Before(1, 2, t0 + 2 * ScanTies::kIdle), Paths{}) << "idle too long";

  ScanTies many;
  for (pid_t pid = 1; pid <= static_cast<pid_t>(ScanTies::kScans); ++pid) {
    many.Before(pid, 0, t0 + std::chrono::milliseconds(pid));
    many.After(pid, 0, 1, Tied("p" + std::to_string(pid)));
  }
  EXPECT_EQ(many.Before(2, 1, t0 + std::chrono::seconds(1)), Paths{"p2"});
  many.Before(1000, 0, t0 + std::chrono::seconds(1));  // one more scan than are kept
  EXPECT_EQ(many.Before(3, 1, t0 + std::chrono::seconds(1)), Paths{"p3"});
  EXPECT_EQ(many.Before(1, 1, t0 + std::chrono::seconds(1)), Paths{}) << "the oldest went";
}

// The dispatcher hands the scan's ties to command 1 and learns from its answer.
std::vector<std::pair<std::int32_t, Paths>> seen;

TEST(ScanTies, DispatchPassesTheScansTiesToCommandOne) {
  DeviceOps ops{};
  ops.getLcdInfo = [](std::int32_t, DriveRecord*) -> std::int32_t {
    ADD_FAILURE() << "command 1 within a scan goes to getLcdInfoInScan";
    return 0;
  };
  ops.getLcdInfoInScan = [](std::int32_t drive, DriveRecord* info,
                            std::span<const std::string> elsewhere) -> std::int32_t {
    seen.emplace_back(drive, Paths(elsewhere.begin(), elsewhere.end()));
    if (drive != 1) return 0;
    *info = Tied("hid1");
    return 1;
  };
  ScanTies ties;
  DispatchContext context{&ops};
  context.scanTies = &ties;
  const Peer peer{42, 1000, 1000};
  seen.clear();
  for (std::int32_t drive : {1, 0, 2}) {
    RequestRecord record = GetLcdInfoRequest(drive, u"", false);
    Dispatch(record, peer, context);
  }
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(seen[0].second, Paths{});
  EXPECT_EQ(seen[1].second, Paths{"hid1"});
  EXPECT_EQ(seen[2].second, Paths{"hid1"});
}

}  // namespace
}  // namespace kuv::svc
