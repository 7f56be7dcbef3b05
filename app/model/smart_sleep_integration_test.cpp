// The S.M.A.R.T. page and the minute refresh against panelsvc on a simulated world whose disks
// carry the sectors of real drives: the page shows each drive's classes, and an hour of automatic
// refreshes never wakes a sleeping disk, while opening the page does.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <thread>

#include "app/model/smart_page.h"
#include "app/model/test_fakes.h"
#include "app/model/test_service.h"

namespace kuv {
namespace {

const std::string kKuvlcd = KUVLCD_BINARY_DIR "/tools/kuvlcd/kuvlcd";
const std::string kPanelsvc = KUVLCD_BINARY_DIR "/panelsvc/panelsvc";
const std::string kDrives = std::string(KUVLCD_TESTDATA_DIR) + "/smart/";

// Sample-world disk number and the real drive whose sectors it answers with.
struct RealDisk {
  int number;
  const char* drive;
};
constexpr RealDisk kDisks[] = {
    {1, "ST9100821AS--3.CME"},             // bridge16: start/stop count under its threshold
    {2, "FUJITSU_MHY2120BH--0085000B"},    // platform: pending and uncorrectable sectors
    {4, "WDC_WD2500JS-75NCB3--10.02E04"},  // bridge12
    {5, "Maxtor_96147H8--BAC51KJ0--2"},    // bridge16: spin retries under their threshold
};

class SleepingWorld : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::filesystem::exists(kKuvlcd) || !std::filesystem::exists(kPanelsvc)) {
      GTEST_SKIP() << "kuvlcd or panelsvc is not built";
    }
    if (!std::filesystem::is_directory(kDrives))
      GTEST_SKIP() << "no S.M.A.R.T. samples at " << kDrives;
    ASSERT_EQ(Kuvlcd("sim init " + world_ + " --sleep-scale 0").first, 0);
    nlohmann::json world;
    std::ifstream(world_ + "/world.json") >> world;
    for (auto& disk : world["disks"]) {
      for (const RealDisk& real : kDisks) {
        if (disk["number"] != real.number) continue;
        const std::string dir = kDrives + real.drive;
        disk["ata"] = {{"identify", dir + "/identify.bin"},
                       {"smartData", dir + "/data.bin"},
                       {"smartThresholds", dir + "/thresholds.bin"}};
      }
    }
    std::ofstream(world_ + "/world.json") << world.dump(2);

    ASSERT_TRUE(service_.Start(kPanelsvc, world_, socket_));
    system_.hidPanels = 3;
    ASSERT_GE(model_.ScanDrives(true), 4);
    ASSERT_GE(model_.OccupiedSlots(), 4);
  }
  void TearDown() override { service_.Stop(); }

  std::pair<int, std::string> Kuvlcd(const std::string& arguments) {
    std::string text;
    const std::string env = "KUVLCD_SIM_WORLD=" + world_ + " KUVLCD_SOCKET=" + socket_ +
                            " XDG_CONFIG_HOME=" + dir_.path() + "/config ";
    FILE* pipe = ::popen((env + kKuvlcd + " " + arguments + " 2>/dev/null").c_str(), "r");
    if (!pipe) return {-1, text};
    char buffer[1024];
    while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) text.append(buffer, n);
    int status = ::pclose(pipe);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, text};
  }
  // "disk N: MODE, woken K times" of `kuvlcd sim power`.
  std::string Power(int disk, const std::string& mode = "") {
    auto [status, text] = Kuvlcd("sim power " + world_ + " --disk " + std::to_string(disk) +
                                 (mode.empty() ? "" : " --mode " + mode));
    EXPECT_EQ(status, 0) << text;
    return text;
  }

  testing::TempDir dir_;
  std::string world_ = dir_.path() + "/world";
  std::string socket_ = dir_.path() + "/service.sock";
  testing::ServiceProcess service_;
  SocketDeviceService service_client_{ServiceClientOptions{socket_}};
  MemoryProfileStore profile_;
  SystemVolumeFiles files_;
  testing::FakeSystem system_;
  testing::StampRenderer renderer_;
  testing::RecordingHooks hooks_;
  LcdModel model_{ModelPorts{service_client_, profile_, files_, system_, renderer_, hooks_}};
  SmartPage page_{model_, profile_, hooks_, Language::kEnglish};
};

TEST_F(SleepingWorld, ThePageShowsEachRealDrivesClasses) {
  struct Case {
    int disk;
    const char16_t* health;
    const char16_t* redId;
  };
  for (auto [disk, health, redId] :
       {Case{1, u"Bad", u"04"}, Case{2, u"Caution", nullptr}, Case{5, u"Bad", u"0A"}}) {
    page_.ReadAndShowDrive(disk);
    EXPECT_EQ(page_.view().healthText, health) << disk;
    std::vector<std::u16string> red, yellow;
    for (const SmartRow& row : page_.view().rows) {
      if (row.background == Rgb{255, 0, 0}) red.push_back(row.texts[1]);
      if (row.background == Rgb{255, 255, 0}) yellow.push_back(row.texts[1]);
    }
    if (redId) {
      EXPECT_EQ(red, std::vector<std::u16string>{redId}) << disk;
    } else {
      EXPECT_TRUE(red.empty()) << disk;
      EXPECT_EQ(yellow, (std::vector<std::u16string>{u"C5", u"C6"})) << disk;
    }
  }
}

TEST_F(SleepingWorld, AnHourOfRefreshesWakesNoSleepingDiskButOpeningThePageDoes) {
  for (int disk : {1, 2}) Power(disk, "standby");
  // Disk 4 stays awake; the XFS recorder disk is never refreshed at all.
  const int awake = model_.table.SlotOfDrive(4);
  ASSERT_GE(awake, 0);
  std::fill(std::begin(model_.table.driveRecords[awake].smartData),
            std::end(model_.table.driveRecords[awake].smartData), 0);
  const int sleeper = model_.table.SlotOfDrive(1);
  ASSERT_GE(sleeper, 0);
  const DriveRecord before = model_.table.driveRecords[sleeper];

  for (int minute = 0; minute < 60; ++minute) {
    system_.clock.minute = static_cast<std::uint16_t>(minute);
    model_.MinuteRefresh();
  }
  for (int disk : {1, 2}) {
    EXPECT_EQ(Power(disk), "disk " + std::to_string(disk) + ": standby, woken 0 times\n");
  }
  EXPECT_EQ(std::memcmp(before.smartData, model_.table.driveRecords[sleeper].smartData, 512), 0)
      << "the last values are kept";
  std::uint8_t expected[512] = {};
  std::ifstream(kDrives + "WDC_WD2500JS-75NCB3--10.02E04/data.bin", std::ios::binary)
      .read(reinterpret_cast<char*>(expected), 512);
  EXPECT_EQ(std::memcmp(model_.table.driveRecords[awake].smartData, expected, 512), 0)
      << "an active disk is still read";

  page_.ReadAndShowDrive(1);
  EXPECT_EQ(Power(1), "disk 1: active, woken 1 times\n");
  EXPECT_EQ(page_.view().healthText, u"Bad");
}

TEST_F(SleepingWorld, KuvlcdSmartShowsThePageAndThePowerMode) {
  Power(1, "standby");
  auto [status, text] = Kuvlcd("smart --drive 1 --format json --no-wake");
  ASSERT_EQ(status, 0) << text;
  nlohmann::json asleep = nlohmann::json::parse(text);
  EXPECT_EQ(asleep["powerMode"], "standby");
  EXPECT_EQ(asleep["smart"], "skipped: asleep");
  EXPECT_EQ(Power(1), "disk 1: standby, woken 0 times\n");

  std::tie(status, text) = Kuvlcd("smart --drive 1 --format json");
  ASSERT_EQ(status, 0) << text;
  nlohmann::json read = nlohmann::json::parse(text);
  EXPECT_EQ(read["powerMode"], "standby") << "the mode before the read";
  EXPECT_EQ(read["smart"], "read");
  EXPECT_EQ(read["healthText"], "Bad");
  EXPECT_EQ(read["temperatureText"], "34°C");
  int bad = 0;
  for (const auto& attribute : read["attributes"]) {
    if (attribute["class"] == 2) {
      ++bad;
      EXPECT_EQ(attribute["id"], 4);
    }
  }
  EXPECT_EQ(bad, 1);
  EXPECT_EQ(Power(1), "disk 1: active, woken 1 times\n");
  EXPECT_EQ(Kuvlcd("smart --drive 32").first, 2) << "drive numbers stop at 31";
}

}  // namespace
}  // namespace kuv
