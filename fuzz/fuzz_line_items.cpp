// Line items read a drive record from the service and a configuration loaded from the drive or
// the profile; any of their values may be hostile, and the formatted text must still fit a line.
// Input: six control bytes (file-system type, panel model, rotation, item code, smartId0,
// lineSmartIndex), the S.M.A.R.T. data sector, then UTF-16 text for the free-text line.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "app/compose/line_items.h"
#include "common/utf16.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  if (size < 6) return 0;
  kuv::DriveRecord drive = kuv::EmptyDriveRecord();
  kuv::ScreenConfig config = kuv::InitialSlotConfig();
  drive.fileSystemType = static_cast<std::int8_t>(bytes[0]);
  drive.panelModel = static_cast<std::int8_t>(bytes[1]);
  config.rotation = static_cast<std::int8_t>(bytes[2]) * 45;
  const std::int32_t code = static_cast<std::int8_t>(bytes[3]);
  config.smartId0 = static_cast<std::int8_t>(bytes[4]);
  config.lineSmartIndex1 = static_cast<std::int8_t>(bytes[5]);
  std::size_t used = 6;
  const std::size_t sector = std::min(size - used, sizeof drive.smartData);
  std::memcpy(drive.smartData, bytes + used, sector);
  used += sector;
  std::u16string text((size - used) / 2, u'\0');
  std::memcpy(text.data(), bytes + used, text.size() * 2);
  kuv::SetField(drive.volumeLabel, std::u16string_view(text));
  kuv::SetField(drive.driveLetter, std::u16string_view(text));

  const kuv::ClockSnapshot clock{0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF};
  const kuv::LineItemSource source{drive, config, clock, text};
  for (const kuv::CodePage page : {kuv::CodePage::kWindows1252, kuv::CodePage::kCp932}) {
    const std::u16string item = kuv::FormatLineItem(code, 1, text, source);
    const std::u16string limited = kuv::ApplyLineLimit(item, drive, config, page);
    if (limited.size() > kuv::kLineUnits - 1) __builtin_trap();
    if (kuv::AnsiByteLength(limited, page) > 13) __builtin_trap();
  }
  return 0;
}
