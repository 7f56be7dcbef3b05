#pragma once
// LCD_DATA.TXT: the screen configuration as it travels with the drive. UTF-16LE without a
// byte-order mark, one "[KEY]value" per line, lines ending in a single LF. The Windows programs
// read and write the same file, so the writer's bytes are fixed.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "common/drive_record.h"
#include "common/drive_table.h"
#include "common/screen_config.h"

namespace kuv {

inline constexpr char kLcdDataFileName[] = "LCD_DATA.TXT";

// The error-correction level (0 to 3) and cell pitch (1 or 2) the QR control accepts, and the
// values it starts from.
inline constexpr std::int32_t kDefaultEccValue = 1;
inline constexpr std::int32_t kDefaultCellPitch = 2;

struct QrSettings {
  std::int32_t eccValue = kDefaultEccValue;
  std::int32_t cellPitch = kDefaultCellPitch;
};

// The pair as it may be written: a pitch the control does not accept gives both start values, a
// level outside 0 to 3 gives level 1.
QrSettings WritableQrSettings(std::int32_t eccValue, std::int32_t cellPitch);

// The 34 lines of the file for the drive and its configuration. eccValue and cellPitch are the
// values the QR control holds at the moment of saving, written through WritableQrSettings.
std::string EncodeLcdData(const DriveRecord& drive, const ScreenConfig& config,
                          std::int32_t eccValue, std::int32_t cellPitch);

// Applies the file's lines to config in order, so later lines win and fields the file does not
// name keep their values. Lines without "]" and unknown keys are skipped; overlong values are
// cut to their field. A leading byte-order mark and one CR before each LF are ignored. Time and
// date lines take their text from clock.
void ApplyLcdData(std::span<const std::uint8_t> fileBytes, ScreenConfig& config,
                  const ClockSnapshot& clock);

// The integer reading of a value: leading blanks, an optional sign, decimal digits up to the
// first other character; no digits gives 0, and values beyond 32 bits saturate.
std::int32_t ParseLcdInt(std::u16string_view value);

// "HH:MM" and "YYYY/MM/DD" of the clock snapshot, as the "Time" and "Date" lines show them.
std::u16string ClockTimeText(const ClockSnapshot& clock);
std::u16string ClockDateText(const ClockSnapshot& clock);

}  // namespace kuv
