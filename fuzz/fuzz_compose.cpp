// Drive records arrive from the service and screen configurations from files on the drive; any
// values in them must compose a picture without reading or writing outside it.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "app/compose/fonts.h"
#include "app/compose/renderer.h"

namespace {

// Copies up to n bytes of the input into target and moves past them; the rest stays zero.
void Take(void* target, std::size_t n, const std::uint8_t*& data, std::size_t& size) {
  const std::size_t taken = std::min(n, size);
  std::memcpy(target, data, taken);
  data += taken;
  size -= taken;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::unique_ptr<kuv::Fonts> fonts = kuv::Fonts::Load(kuv::Language::kEnglish);
  static kuv::DriveTable table;
  table.driveCount = 1;
  table.selectedDrive = 0;
  table.currentTab = 0;
  // The fields the renderer reads come first, so short inputs reach them.
  kuv::DriveRecord drive = kuv::EmptyDriveRecord();
  auto* bytes = reinterpret_cast<std::uint8_t*>(&drive);
  Take(bytes + offsetof(kuv::DriveRecord, panelModel),
       offsetof(kuv::DriveRecord, hidPath) - offsetof(kuv::DriveRecord, panelModel), data, size);
  Take(bytes + offsetof(kuv::DriveRecord, health), 8, data, size);
  table.driveRecords[0] = drive;
  kuv::ScreenConfig config = kuv::InitialSlotConfig();
  Take(&config, sizeof config, data, size);
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
