#include "panelio/power_mode.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "panelio/sim/sim_state.h"
#include "panelio/smart_test_support.h"

namespace kuv {
namespace {

using testing::AtaOf;
using testing::TempWorld;
using testing::WatchingEnv;

std::vector<std::uint8_t> DescriptorSense(std::uint8_t count, std::uint8_t status) {
  std::vector<std::uint8_t> s(22, 0);
  s[0] = 0x72;
  s[1] = 0x01;
  s[3] = 0x1D;
  s[7] = 14;
  s[8] = 0x09;
  s[9] = 0x0C;
  s[13] = count;
  s[21] = status;
  return s;
}

TEST(AtaCountFromSense, ReadsBothSenseFormatsAndNothingElse) {
  std::vector<std::uint8_t> afterOther = {
      0x72, 0x01, 0x00, 0x1D, 0, 0, 0, 18, 0x02, 0x02, 0xAA, 0xBB};  // another descriptor first
  std::vector<std::uint8_t> status = DescriptorSense(0x80, 0x50);
  afterOther.insert(afterOther.end(), status.begin() + 8, status.end());
  std::vector<std::uint8_t> truncated = DescriptorSense(0xFF, 0x50);
  truncated.resize(18);  // the descriptor's count survives, its status does not
  std::vector<std::uint8_t> lying = DescriptorSense(0xFF, 0x50);
  lying[7] = 200;  // additional length past the buffer
  lying.resize(20);
  std::vector<std::uint8_t> fixed(18, 0);
  fixed[0] = 0x70;
  fixed[4] = 0x50;
  fixed[6] = 0x80;
  fixed[12] = 0x00;
  fixed[13] = 0x1D;
  std::vector<std::uint8_t> fixedOther = fixed;
  fixedOther[12] = 0x24;  // an ordinary ILLEGAL REQUEST carries no registers
  std::vector<std::uint8_t> fixedValid = fixed;
  fixedValid[0] = 0xF0;  // libata sets VALID for the information field
  std::vector<std::uint8_t> fixedZeros = fixed;
  fixedZeros[4] = 0x00;
  fixedZeros[6] = 0x00;
  struct Case {
    const char* name;
    std::vector<std::uint8_t> sense;
    std::optional<std::uint8_t> count;
  };
  const Case cases[] = {
      {"standby", DescriptorSense(0x00, 0x50), 0x00},
      {"active", DescriptorSense(0xFF, 0x50), 0xFF},
      {"DRDY alone", DescriptorSense(0x00, 0x40), 0x00},
      {"aborted", DescriptorSense(0xFF, 0x51), std::nullopt},
      {"device fault", DescriptorSense(0xFF, 0x70), std::nullopt},
      // A completed command has DRDY set and BSY clear; anything else is no answer at all.
      {"registers never fetched", DescriptorSense(0x00, 0x00), std::nullopt},
      {"not ready", DescriptorSense(0x00, 0x10), std::nullopt},
      {"busy", DescriptorSense(0x00, 0xD0), std::nullopt},
      {"after another descriptor", afterOther, 0x80},
      {"truncated descriptor", truncated, std::nullopt},
      {"length past the buffer", lying, std::nullopt},
      {"fixed format", fixed, 0x80},
      {"fixed format, VALID set", fixedValid, 0x80},
      {"fixed, registers never fetched", fixedZeros, std::nullopt},
      {"fixed, no ATA information", fixedOther, std::nullopt},
      {"empty", {}, std::nullopt},
      {"unknown format", {0x7F, 0, 0, 0, 0, 0, 0, 0}, std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(AtaCountFromSense(c.sense), c.count) << c.name;
}

TEST(PowerModeAsleep, OnlySpunDownModes) {
  for (int count = 0; count < 256; ++count) {
    bool asleep = count == 0x00 || count == 0x01 || count == 0x40 || count == 0x41;
    EXPECT_EQ(PowerModeAsleep(static_cast<std::uint8_t>(count)), asleep) << count;
  }
  EXPECT_EQ(PowerModeName(std::nullopt), "unknown");
  EXPECT_EQ(PowerModeName(0x80), "idle");
}

class PowerWorld : public ::testing::Test {
 protected:
  void SetUp() override {
    KUV_SKIP_WITHOUT_TESTDATA();
    Write("descriptor");
  }
  // Disks 0 to 4 of every transport and mode; disk 5 answers CK_COND without fetching the
  // registers; each returns registers in the sense format given.
  void Write(const char* senseFormat) {
    auto disk = [&](int n, const char* transport, const char* mode) {
      return nlohmann::json{{"number", n},
                            {"sizeBytes", 1 << 20},
                            {"transport", transport},
                            {"powerMode", mode},
                            {"senseFormat", senseFormat},
                            {"ata", AtaOf("SAMSUNG_HD501LJ--CR100-12")}};
    };
    nlohmann::json unfetched = disk(5, "bridge16", "standby");
    unfetched["unfetchedRegisters"] = true;
    world_.Write({{"disks",
                   {disk(0, "platform", "standby"), disk(1, "bridge12", "idle"),
                    disk(2, "bridge16", "sleep"), disk(3, "none", "standby"),
                    disk(4, "platform", "active"), unfetched}}});
  }
  sim::DiskCounters Counters(int disk) {
    auto counters = sim::ReadDiskCounters(world_.dir(), disk);
    EXPECT_TRUE(counters.ok()) << counters.status().ToString();
    return counters.ok() ? *counters : sim::DiskCounters{};
  }
  std::uint64_t Wakeups(int disk) {
    auto power = sim::ReadDiskPower(world_.dir(), disk);
    EXPECT_TRUE(power.ok()) << power.status().ToString();
    return power.ok() ? power->wakeups : 99;
  }

  TempWorld world_;
  std::unique_ptr<DeviceEnv> sim_ = NewSimEnv(world_.dir());
  WatchingEnv env_{*sim_};
};

TEST_F(PowerWorld, EachTransportTellsItsModeWithoutWakingTheDisk) {
  struct Case {
    int drive;
    std::optional<std::uint8_t> count;
  };
  for (const char* format : {"descriptor", "fixed"}) {
    SCOPED_TRACE(format);
    Write(format);
    for (auto [drive, count] : {Case{0, 0x00}, Case{1, 0x80}, Case{2, 0x00}, Case{3, std::nullopt},
                                Case{4, 0xFF}, Case{5, std::nullopt}}) {
      EXPECT_EQ(ReadPowerMode(env_, drive), count) << drive;
    }
  }
  for (int drive : {0, 2, 3, 5}) EXPECT_EQ(Wakeups(drive), 0u) << drive;
  // The check runs every minute; a write-opened disk would have udev probe it again at each close.
  for (int drive : {0, 1, 2, 4}) {
    auto counters = sim::ReadDiskCounters(world_.dir(), drive);
    ASSERT_TRUE(counters.ok()) << counters.status().ToString();
    EXPECT_EQ(counters->changeEvents, 0u) << drive;
  }
}

TEST_F(PowerWorld, UnlessAsleepSkipsSleepersAndReadsTheRest) {
  AtaSector data{};
  data.fill(0xDD);
  const SmartOutputs out{.data = data.data()};
  EXPECT_EQ(SmartInfoUnlessAsleep(env_, 0, out), 2);
  EXPECT_EQ(SmartInfoUnlessAsleep(env_, 2, out), 2);
  EXPECT_EQ(data[0], 0xDD) << "nothing written for a sleeping disk";
  EXPECT_EQ(Wakeups(0), 0u);
  EXPECT_EQ(Wakeups(2), 0u);

  EXPECT_EQ(SmartInfoUnlessAsleep(env_, 1, out), 1) << "an idle disk is read";
  EXPECT_NE(data[0], 0xDD);

  // A read the user asks for wakes the disk, and the simulator counts it.
  EXPECT_EQ(ReadSmart(env_, 0, out).capable, true);
  EXPECT_EQ(Wakeups(0), 1u);
  EXPECT_EQ(ReadPowerMode(env_, 0), 0xFF) << "spun up by the read";

  ASSERT_TRUE(sim::SetDiskPowerMode(world_.dir(), 0, sim::PowerMode::kStandby).ok());
  EXPECT_EQ(SmartInfoUnlessAsleep(env_, 0, out), 2);
  EXPECT_EQ(Wakeups(0), 1u) << "the count survives a change of mode";

  // A disk that cannot report its mode is read: taken for asleep it would never be read again.
  data.fill(0xDD);
  EXPECT_EQ(SmartInfoUnlessAsleep(env_, 5, out), 1);
  EXPECT_NE(data[0], 0xDD);
}

// A bridge that swallows ATA pass-through instead of refusing it: CHECK POWER MODE costs one
// command of at most 15 s, and the S.M.A.R.T. read that would follow on the same route (120 s a
// command) is not sent.
TEST_F(PowerWorld, AnUnansweredCheckCostsOneShortTimeOutAndNoSmartRead) {
  ASSERT_TRUE(sim::AddFault(world_.dir(),
                            {.target = "disk:2", .kind = sim::Fault::Kind::kSwallowPassThrough})
                  .ok());
  Status why;
  EXPECT_EQ(ReadPowerMode(env_, 2, &why), std::nullopt);
  EXPECT_EQ(why.code(), ETIMEDOUT);
  EXPECT_EQ(Counters(2).timedOutCommands, 1u) << "no 12-byte form after an unanswered one";
  EXPECT_EQ(Counters(2).timedOutSeconds, kPowerModeTimeoutSeconds);
  EXPECT_LE(kPowerModeTimeoutSeconds, 15u);

  AtaSector data{};
  errno = 0;
  EXPECT_EQ(SmartInfoUnlessAsleep(env_, 2, {.data = data.data()}), 0);
  EXPECT_EQ(errno, ETIMEDOUT);
  EXPECT_EQ(Counters(2).timedOutCommands, 2u);
  EXPECT_EQ(Counters(2).timedOutSeconds, 2 * kPowerModeTimeoutSeconds);
}

}  // namespace
}  // namespace kuv
