// The S.M.A.R.T. page is refilled on every refresh tick and every change of the selected drive;
// this times one refill for a drive that reports all 30 attributes (target: well under 2 ms).
#include <benchmark/benchmark.h>

#include "app/model/smart_page.h"
#include "app/model/test_fakes.h"

namespace {

// A drive whose 30 entries are all used, with a mix of judged, counted and vendor attributes.
kuv::DriveRecord ThirtyAttributes() {
  static constexpr std::uint8_t kIds[30] = {1,   2,   3,   4,   5,   7,   8,   9,   10,  12,
                                            183, 184, 187, 188, 189, 190, 191, 192, 193, 194,
                                            195, 196, 197, 198, 199, 200, 220, 222, 240, 241};
  kuv::DriveRecord drive = kuv::testing::Drive(3, kuv::kBridgePlain);
  for (std::size_t k = 0; k < 30; ++k) {
    std::uint8_t* entry = drive.smartData + 2 + 12 * k;
    entry[0] = kIds[k];
    entry[3] = static_cast<std::uint8_t>(100 - k);
    entry[4] = static_cast<std::uint8_t>(90 - k);
    entry[5] = static_cast<std::uint8_t>(k == 19 ? 41 : k * 7);
    drive.smartThresholds[2 + 12 * k] = kIds[k];
    drive.smartThresholds[3 + 12 * k] = static_cast<std::uint8_t>(k % 3 == 0 ? 0 : 50 + k);
  }
  return drive;
}

void BM_SmartPageRefresh(benchmark::State& state) {
  kuv::testing::Rig rig;
  rig.model.table.driveRecords[0] = ThirtyAttributes();
  rig.model.table.driveCount = 1;
  rig.model.table.selectedDrive = 0;
  rig.model.table.workingConfig.smartId0 = 4;
  kuv::SmartPage page(rig.model, rig.profile, rig.hooks, kuv::Language::kEnglish);
  page.SetWarningControls(50, true);
  page.ShowDrive(3);
  for (auto _ : state) {
    benchmark::DoNotOptimize(page.ShowDrive(3));
    benchmark::DoNotOptimize(page.view().rows.data());
  }
  state.counters["rows"] = static_cast<double>(page.view().rows.size());
}
BENCHMARK(BM_SmartPageRefresh)->Unit(benchmark::kMicrosecond);

}  // namespace
