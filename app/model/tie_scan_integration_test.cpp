// The program's scan against panelsvc on the sample world: HID panels are tied with few pauses,
// none once their paths are known, and every drive gets the record it would get asked alone.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "app/model/test_fakes.h"
#include "app/model/test_service.h"
#include "common/utf16.h"
#include "panelio/discovery.h"
#include "panelio/sim/sample_world.h"
#include "panelio/sim/sim_env.h"
#include "panelio/sim/sim_state.h"

namespace kuv {
namespace {

const std::string kPanelsvc = KUVLCD_BINARY_DIR "/panelsvc/panelsvc";

// The service's answers to command 1, as the scan received them.
class RecordingService : public SocketDeviceService {
 public:
  using SocketDeviceService::SocketDeviceService;
  std::int32_t GetLcdInfo(std::int32_t driveNumber, std::int32_t autoUpdateFlag,
                          DriveRecord& info) override {
    std::int32_t found = SocketDeviceService::GetLcdInfo(driveNumber, autoUpdateFlag, info);
    answers[driveNumber] = {found, info};
    return found;
  }
  std::map<std::int32_t, std::pair<std::int32_t, DriveRecord>> answers;
};

class TieScan : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::filesystem::exists(kPanelsvc)) GTEST_SKIP() << "panelsvc is not built";
    ASSERT_TRUE(sim::WriteSampleWorld(world_, {.sleepScale = 0}).ok());
    ASSERT_TRUE(service_.Start(kPanelsvc, world_, socket_));
    system_.hidPanels = 3;
    // Drive 7's adapter stays without the filter, so every scan finds the drives alike.
    hooks_.mayRegisterSataFilter = false;
  }

  std::uint64_t Pauses() {
    auto pauses = sim::ReadPauses(world_);
    EXPECT_TRUE(pauses.ok()) << pauses.status().ToString();
    return pauses.ok() ? pauses->count : ~std::uint64_t{0};
  }

  // What each drive answers asked on its own, with no hint and nothing known from other drives.
  std::vector<std::pair<std::int32_t, DriveRecord>> AloneRecords() {
    auto env = NewSimEnv(world_);
    std::vector<std::pair<std::int32_t, DriveRecord>> records;
    for (int n = 0; n < 32; ++n) {
      DriveRecord r{};
      std::int32_t found = FillLcdInfo(*env, n, &r);
      records.emplace_back(found, r);
    }
    return records;
  }

  testing::TempDir dir_;
  std::string world_ = dir_.path() + "/world";
  std::string socket_ = dir_.path() + "/service.sock";
  testing::ServiceProcess service_;
  RecordingService serviceClient_{ServiceClientOptions{socket_}};
  MemoryProfileStore profile_;
  SystemVolumeFiles files_;
  testing::FakeSystem system_;
  testing::StampRenderer renderer_;
  testing::RecordingHooks hooks_;
  LcdModel model_{ModelPorts{serviceClient_, profile_, files_, system_, renderer_, hooks_}};
};

TEST_F(TieScan, ColdScanPausesPerDriveAndWarmScanNotAtAll) {
  // Three panels, each tied to its own drive; drives 0 and 6 have none. Asked alone, the cold
  // scan would pause 5 times for every panel tried in vain: 45 pauses.
  model_.ScanDrives(true);
  const std::uint64_t cold = Pauses();
  EXPECT_EQ(cold, 8u) << "four between the rounds for drive 0, four for drive 6 and tray3";
  const DriveTable first = model_.table;

  model_.ScanDrives(false);
  EXPECT_EQ(Pauses(), cold) << "a scan with every panel's path known pauses nowhere";
  for (int k = 0; k < kSlotCount; ++k) {
    const auto i = static_cast<std::size_t>(k);
    EXPECT_EQ(model_.table.driveRecords[i].driveNumber, first.driveRecords[i].driveNumber);
    EXPECT_EQ(model_.table.driveRecords[i].connectionState, first.driveRecords[i].connectionState);
    EXPECT_EQ(FieldUtf8(model_.table.driveRecords[i].hidPath),
              FieldUtf8(first.driveRecords[i].hidPath));
  }
}

TEST_F(TieScan, EveryDriveGetsTheRecordItGetsAskedAlone) {
  for (bool warm : {false, true}) {
    SCOPED_TRACE(warm ? "warm" : "cold");
    serviceClient_.answers.clear();
    model_.ScanDrives(!warm);
    const auto alone = AloneRecords();
    ASSERT_EQ(serviceClient_.answers.size(), 32u);
    int tied = 0, untied = 0;
    for (int n = 0; n < 32; ++n) {
      const auto& [found, expected] = alone[static_cast<std::size_t>(n)];
      const auto& [scannedFound, scanned] = serviceClient_.answers[n];
      EXPECT_EQ(scannedFound, found) << n;
      EXPECT_EQ(scanned.connectionState, expected.connectionState) << n;
      EXPECT_EQ(scanned.panelModel, expected.panelModel) << n;
      EXPECT_EQ(FieldUtf8(scanned.hidPath), FieldUtf8(expected.hidPath)) << n;
      EXPECT_EQ(scanned.totalMB, expected.totalMB) << n;
      tied += scanned.connectionState >= kNotSiliconImageHost &&
              scanned.connectionState <= kSiliconImageWithoutFilter;
      untied += scanned.connectionState == kHidUntied;
    }
    EXPECT_EQ(tied, 3);
    EXPECT_EQ(untied, 2);
  }
}

}  // namespace
}  // namespace kuv
