// The minute refresh composes every bitmap screen from its drive's LCD_IMAGE.BMP before sending
// it; PreparePanelRaster should stay well under 200 µs so a tray of drives costs nothing.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "app/compose/bitmap_raster.h"
#include "app/compose/bmp_file.h"
#include "app/model/bitmap_page.h"
#include "common/utf16.h"

namespace {

// The refresh needs no service: the page only asks for a folder at Update LCD.
class IdleService : public kuv::DeviceService {
 public:
  std::int32_t GetLcdInfo(std::int32_t, std::int32_t, kuv::DriveRecord&) override { return 0; }
  std::int32_t SendLineData(std::int32_t, kuv::LineSlots) override { return 0; }
  std::int32_t AddSataFilter() override { return 0; }
  std::int32_t CreateFolder(std::u16string_view) override { return 1; }
  std::int32_t DeleteFile(std::u16string_view) override { return 1; }
  std::int32_t StopLcdTimer(std::int32_t) override { return 0; }
  std::int32_t GetSmartInfo(std::int32_t, kuv::DriveRecord&) override { return 0; }
  std::int32_t GetSizeFromSector(std::int32_t, kuv::DriveRecord&) override { return 0; }
};

class IdleRenderer : public kuv::TextRenderer {
 public:
  void RenderTextScreen(kuv::DriveTable&, int) override {}
};

kuv::BmpImage Picture() {
  kuv::BmpImage image;
  for (std::size_t i = 0; i < image.bits.size(); ++i) {
    image.bits[i] = static_cast<std::uint8_t>(i * 37);
  }
  return image;
}

void BM_ComposeBitmapRaster(benchmark::State& state) {
  const kuv::BmpImage image = Picture();
  kuv::DriveRecord drive = kuv::EmptyDriveRecord();
  drive.panelModel = 1;
  drive.fileSystemType = kuv::kFsFat32;  // with the gauge
  drive.totalSectors = 1000;
  drive.freeSectors = 500;
  kuv::ScreenConfig config = kuv::InitialSlotConfig();
  config.bmpRotation = 90;
  const kuv::Raster text{};
  for (auto _ : state) {
    benchmark::DoNotOptimize(kuv::ComposeBitmapRaster(image, drive, config, text));
  }
}
BENCHMARK(BM_ComposeBitmapRaster)->Unit(benchmark::kMicrosecond);

// The whole step as the refresh runs it: read and check the drive's file, compose, turn.
void BM_PreparePanelRaster(benchmark::State& state) {
  std::string pattern = (std::filesystem::temp_directory_path() / "kuvbench.XXXXXX").string();
  const std::string volume = ::mkdtemp(pattern.data());
  std::filesystem::create_directories(volume + "/TAVIO_LCDMANAGER");
  const std::vector<std::uint8_t> bytes = kuv::EncodeBmp(Picture());
  kuv::WriteFileBytes(volume + "/TAVIO_LCDMANAGER/LCD_IMAGE.BMP", bytes, nullptr);

  kuv::DriveTable table;
  kuv::DriveRecord& drive = table.driveRecords[0];
  drive = kuv::EmptyDriveRecord();
  drive.driveNumber = 1;
  drive.panelModel = 1;
  drive.fileSystemType = kuv::kFsNtfs;
  kuv::SetField(drive.driveLetter, std::string_view(volume));
  table.driveCount = 1;
  table.selectedDrive = 0;
  table.screenConfigs[0].lcdDataType = kuv::kLcdBitmap;
  table.screenConfigs[0].bmpAreaRatio = kuv::kAreaUpper;
  IdleService service;
  kuv::SystemVolumeFiles files;
  IdleRenderer renderer;
  kuv::BitmapPageHooks hooks;
  kuv::BitmapPage page(table, service, files, renderer, hooks, {volume + "/", volume});
  for (auto _ : state) {
    page.PreparePanelRaster(0);
    benchmark::DoNotOptimize(table.raster);
  }
  state.counters["target_us"] = 200;
  std::filesystem::remove_all(volume);
}
BENCHMARK(BM_PreparePanelRaster)->Unit(benchmark::kMicrosecond);

}  // namespace
