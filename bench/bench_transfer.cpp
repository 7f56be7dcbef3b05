// One 96-line picture sent with LcdSendLineData to the bridge panel of a simulated drive: the
// open, 96 WRITE BUFFER commands and the panel's snapshot files.

#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <vector>

#include "panelio/env.h"
#include "panelio/panelio.h"
#include "panelio/sim/sample_world.h"
#include "panelio/sim/sim_env.h"

namespace {

std::vector<std::uint8_t> Slots() {
  std::vector<std::uint8_t> slots(96 * 64, 0);
  for (int i = 0; i < 96; ++i) {
    std::uint8_t* s = slots.data() + i * 64;
    std::uint8_t line = static_cast<std::uint8_t>(i + 1), reversed = 0;
    for (int b = 0; b < 8; ++b)
      if (line & (1 << b)) reversed = static_cast<std::uint8_t>(reversed | (0x80 >> b));
    s[0] = 0x4C;
    s[1] = 0x10;
    s[2] = 0x80;
    s[3] = reversed;
    for (int j = 0; j < 12; ++j) s[4 + j] = static_cast<std::uint8_t>((i * 12 + j) * 37);
  }
  return slots;
}

// Arg 0: the same picture again and again (the transfer alone); arg 1: two pictures in turn, so
// every send also encodes the panel's PNG snapshot.
void BM_SendPictureToSimulatedBridge(benchmark::State& state) {
  std::string dir = (std::filesystem::temp_directory_path() / "kuvbench-XXXXXX").string();
  if (!::mkdtemp(dir.data())) {
    state.SkipWithError("no temporary directory");
    return;
  }
  if (!kuv::sim::WriteSampleWorld(dir, {.sleepScale = 0}).ok()) {
    state.SkipWithError("cannot write the sample world");
    return;
  }
  auto env = kuv::NewSimEnv(dir);
  kuv::ScopedEnvOverride use(*env);
  std::vector<std::uint8_t> slots = Slots();
  std::vector<std::uint8_t> other = slots;
  for (int i = 0; i < 96; ++i) other[static_cast<std::size_t>(i * 64 + 4)] ^= 0xFF;
  bool alternate = state.range(0) == 1;
  bool flip = false;
  for (auto _ : state) {
    flip = alternate && !flip;
    std::uint32_t status = LcdSendLineData(1, flip ? other.data() : slots.data());
    if (status != kPanelOk) {
      state.SkipWithError("the simulated panel refused the picture");
      break;
    }
    benchmark::DoNotOptimize(status);
  }
  state.SetLabel(alternate ? "per picture, new snapshot each" : "per picture");
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
}
BENCHMARK(BM_SendPictureToSimulatedBridge)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

}  // namespace
