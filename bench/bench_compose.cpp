// Composition cost once the fonts are loaded: the minute refresh composes every drive, so one
// screen should take well under 100 microseconds.
#include <benchmark/benchmark.h>

#include <memory>

#include "app/compose/fonts.h"
#include "app/compose/renderer.h"
#include "common/utf16.h"

namespace {

const kuv::Fonts& SharedFonts() {
  static const std::unique_ptr<kuv::Fonts> fonts = kuv::Fonts::Load(kuv::Language::kEnglish);
  return *fonts;
}

kuv::DriveTable SampleTable(std::int32_t fileSystemType, std::int32_t rotation) {
  kuv::DriveTable table;
  table.driveCount = 1;
  kuv::DriveRecord& drive = table.driveRecords[0];
  drive.driveNumber = 0;
  drive.fileSystemType = fileSystemType;
  drive.panelModel = 1;
  drive.connectionState = kuv::kBridgeUnlocked;
  drive.totalMB = 2000 * 1024;
  drive.freeMB = 700 * 1024;
  drive.totalSectors = std::uint64_t{drive.totalMB} * 2048;
  drive.freeSectors = std::uint64_t{drive.freeMB} * 2048;
  kuv::ScreenConfig& config = table.screenConfigs[0];
  config.rotation = rotation;
  config.showHddStatus = 1;
  config.lineReverse2 = 1;
  const char* lines[] = {"E:DATA", "WDC WD20EZRX", "2026/12/08", "09:05", "Shelf-3"};
  for (int i = 1; i <= 5; ++i) kuv::SetField(config.line(i), std::string_view(lines[i - 1]));
  return table;
}

void Compose(benchmark::State& state, std::int32_t fileSystemType) {
  const auto rotation = static_cast<std::int32_t>(state.range(0));
  kuv::DriveTable table = SampleTable(fileSystemType, rotation);
  kuv::TextPage page;
  const kuv::Fonts& fonts = SharedFonts();
  kuv::ComposePanelRaster(table, 0, page, fonts);  // glyphs are kept after their first use
  for (auto _ : state) {
    kuv::ComposePanelRaster(table, 0, page, fonts);
    benchmark::DoNotOptimize(table.raster);
  }
}

void BM_ComposeFourLine(benchmark::State& state) {
  Compose(state, kuv::kFsNtfs);
}
void BM_ComposeBar(benchmark::State& state) {
  Compose(state, kuv::kFsFat32);
}

void BM_BuildLineRecords(benchmark::State& state) {
  kuv::Raster raster;
  raster.fill(0x5A);
  for (auto _ : state) benchmark::DoNotOptimize(kuv::BuildLineRecords(raster));
}

BENCHMARK(BM_ComposeFourLine)
    ->Arg(0)
    ->Arg(90)
    ->Arg(180)
    ->Arg(270)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_ComposeBar)
    ->Arg(0)
    ->Arg(90)
    ->Arg(180)
    ->Arg(270)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_BuildLineRecords)->Repetitions(5)->ReportAggregatesOnly(true);

}  // namespace
