// Drive records arrive from the service and screen configurations from files on the drive; any
// bytes in them must compose a picture without reading or writing outside it.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "app/compose/fonts.h"
#include "app/compose/renderer.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::unique_ptr<kuv::Fonts> fonts = kuv::Fonts::Load(kuv::Language::kEnglish);
  if (size < sizeof(kuv::DriveRecord)) return 0;
  static kuv::DriveTable table;
  table.driveCount = 1;
  table.selectedDrive = 0;
  table.currentTab = 0;
  std::memcpy(&table.driveRecords[0], data, sizeof(kuv::DriveRecord));
  kuv::ScreenConfig config = kuv::InitialSlotConfig();
  std::memcpy(&config, data + sizeof(kuv::DriveRecord),
              std::min(size - sizeof(kuv::DriveRecord), sizeof config));
  // Line fields always end in a NUL inside them once loaded.
  for (int i = 1; i <= kuv::kLineCount; ++i) config.line(i)[kuv::kLineUnits - 1] = u'\0';
  table.screenConfigs[0] = config;
  table.workingConfig = config;
  kuv::TextPage page = kuv::TextPageFromConfig(config);
  kuv::ComposePanelRaster(table, 0, page, *fonts);
  (void)kuv::DrawPreview(table, page, *fonts);
  (void)kuv::BuildLineRecords(table.raster);
  return 0;
}
