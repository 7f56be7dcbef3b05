// GetLcdInfo runs for every drive of each scan, and the program rescans whenever devices change:
// these time one call on the simulator for an HID drive whose hidPath the program passes back
// (no probe at all) and for a drive behind a bridge panel. The tie procedure's pauses are not
// counted: the simulated world waits 0 ms for them.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "common/drive_record.h"
#include "common/utf16.h"
#include "panelio/env.h"
#include "panelio/panelio.h"
#include "panelio/sim/sim_env.h"

namespace {

class BenchWorld {
 public:
  BenchWorld() {
    std::string pattern = (std::filesystem::temp_directory_path() / "kuv-bench-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) std::abort();
    dir_ = pattern;
    std::string dump = std::string(KUVLCD_TESTDATA_DIR) + "/smart/SAMSUNG_HD501LJ--CR100-12";
    nlohmann::json ata = {{"identify", dump + "/identify.bin"},
                          {"smartData", dump + "/data.bin"},
                          {"smartThresholds", dump + "/thresholds.bin"}};
    nlohmann::json world = {
        {"sleepScale", 0},
        {"disks",
         {{{"number", 0}, {"sizeBytes", 1ull << 30}, {"transport", "platform"}, {"ata", ata}},
          {{"number", 1},
           {"sizeBytes", 1ull << 30},
           {"transport", "bridge16"},
           {"ata", ata},
           {"usb", {{"vendor", 0x3E5B}, {"product", 0x1101}, {"intermediatePrefix", "TVQ1CR\\"}}},
           {"bridgePanel", {{"name", "bridge"}}}}}},
        {"hidPanels", {{{"name", "tray"}, {"disk", 0}}}},
    };
    std::ofstream(dir_ + "/world.json") << world.dump(2);
    env_ = kuv::NewSimEnv(dir_);
  }
  ~BenchWorld() {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  kuv::DeviceEnv& env() { return *env_; }

 private:
  std::string dir_;
  std::unique_ptr<kuv::DeviceEnv> env_;
};

void BM_GetLcdInfoKnownHidPath(benchmark::State& state) {
  BenchWorld world;
  kuv::ScopedEnvOverride use(world.env());
  kuv::DriveRecord record{};
  if (GetLcdInfo(0, &record) != 1) state.SkipWithError("the panel was not tied");
  for (auto _ : state) {
    benchmark::DoNotOptimize(GetLcdInfo(0, &record));  // hidPath from the previous call
  }
  if (kuv::FieldUtf8(record.hidPath) != "sim:hid:tray") state.SkipWithError("hidPath lost");
}
BENCHMARK(BM_GetLcdInfoKnownHidPath)->Unit(benchmark::kMicrosecond);

void BM_GetLcdInfoBridge(benchmark::State& state) {
  BenchWorld world;
  kuv::ScopedEnvOverride use(world.env());
  kuv::DriveRecord record{};
  for (auto _ : state) {
    record = kuv::DriveRecord{};
    benchmark::DoNotOptimize(GetLcdInfo(1, &record));
  }
  if (record.panelModel != 1) state.SkipWithError("the bridge panel was not found");
}
BENCHMARK(BM_GetLcdInfoBridge)->Unit(benchmark::kMicrosecond);

}  // namespace
