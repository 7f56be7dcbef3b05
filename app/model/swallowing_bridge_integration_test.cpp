// A USB bridge that swallows ATA pass-through instead of refusing it, behind panelsvc: the
// one-at-a-time service spends at most one short time-out on it per request, and answers the
// other clients.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <future>

#include "app/model/test_fakes.h"
#include "app/model/test_service.h"
#include "panelio/power_mode.h"
#include "panelio/sim/sample_world.h"
#include "panelio/sim/sim_state.h"

namespace kuv {
namespace {

const std::string kPanelsvc = KUVLCD_BINARY_DIR "/panelsvc/panelsvc";
constexpr int kSwallowing = 1;  // the sample world's bridge drive on a mounted volume
constexpr int kOther = 2;

class SwallowingBridge : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::filesystem::exists(kPanelsvc)) GTEST_SKIP() << "panelsvc is not built";
    ASSERT_TRUE(sim::WriteSampleWorld(world_, {.sleepScale = 0}).ok());
    // sleepScale 0: each swallowed command returns at once, its time-out counted.
    ASSERT_TRUE(sim::AddFault(world_, {.target = "disk:" + std::to_string(kSwallowing),
                                       .kind = sim::Fault::Kind::kSwallowPassThrough})
                    .ok());
    ASSERT_TRUE(service_.Start(kPanelsvc, world_, socket_));
  }

  sim::DiskCounters Counters() {
    auto counters = sim::ReadDiskCounters(world_, kSwallowing);
    EXPECT_TRUE(counters.ok()) << counters.status().ToString();
    return counters.ok() ? *counters : sim::DiskCounters{};
  }

  testing::TempDir dir_;
  std::string world_ = dir_.path() + "/world";
  std::string socket_ = dir_.path() + "/service.sock";
  testing::ServiceProcess service_;
};

TEST_F(SwallowingBridge, EachRequestCostsAtMostOneShortTimeOutAndOthersAreAnswered) {
  SocketDeviceService first{ServiceClientOptions{socket_}};
  SocketDeviceService second{ServiceClientOptions{socket_}};
  // Two clients at once: the second waits, in the service's queue, for what the first costs.
  auto power = std::async(std::launch::async, [&] { return first.GetPowerMode(kSwallowing); });
  DriveRecord other{};
  EXPECT_EQ(second.GetLcdInfo(kOther, 1, other), 1);
  EXPECT_EQ(other.driveNumber, kOther);
  EXPECT_EQ(power.get(), kPowerModeUnknown);
  EXPECT_EQ(Counters().timedOutCommands, 1u);
  EXPECT_LE(Counters().timedOutSeconds, 15u) << "what the service was held for the other client";

  // The minute refresh's read does not follow the unanswered check with 120 s commands.
  DriveRecord smart{};
  EXPECT_EQ(first.GetSmartUnlessAsleep(kSwallowing, smart), 0);
  EXPECT_EQ(Counters().timedOutCommands, 2u);
  EXPECT_LE(Counters().timedOutSeconds, 2 * 15u);
}

}  // namespace
}  // namespace kuv
