#pragma once
// The drive and screen options shared by the verbs that compose a screen (render, update): they
// fill a drive record and a screen configuration the way a scan and the text page would.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "common/drive_record.h"
#include "common/drive_table.h"
#include "common/screen_config.h"
#include "tools/kuvlcd/cli.h"

namespace kuv::cli {

// The item code of a line type given by name ("time") or number ("5"); nullopt for anything
// else. Only the codes the text page's lists offer are taken: 0 to 6 and the S.M.A.R.T. pair.
std::optional<std::int32_t> ParseLineType(std::string_view text);
// The name of an item code; codes past the list have none and show as their number.
std::string LineTypeName(std::int32_t code);
// The line types with their codes and what each shows, for --help and for error messages.
std::string LineTypeList();

// A rotation option in degrees, 0, 90, 180 or 270; nullopt when absent, UsageError otherwise.
std::optional<std::int32_t> RotationOption(const Args& args, const std::string& name);

// The drive record of a rendered screen.
OptionGroup DriveOptionGroup();
// What the text page sets: lines, their types, rotation, reversing, status, clock and user.
OptionGroup ScreenOptionGroup();

// A drive record from the drive options; sizes given in one unit fill in the other.
DriveRecord DriveFromOptions(const Args& args);
// The clock snapshot of --now YYYY-MM-DDTHH:MM, or of the local time.
ClockSnapshot ClockFromOptions(const Args& args);
// --user, or the name of the user running the tool.
std::u16string UserFromOptions(const Args& args);

// The screen options as given, checked: absent ones are empty.
struct ScreenOptions {
  std::optional<std::int32_t> rotation;
  bool reverse = false;
  std::optional<std::int32_t> lineReverseMask;
  std::optional<std::uint8_t> showHddStatus;
  bool rotatePreview = false;
  std::optional<std::int32_t> smartId;
  std::array<std::optional<std::string>, kLineCount> lines;
  std::array<std::optional<std::int32_t>, kLineCount> types;
};

// Throws UsageError for a value out of range or a line type that is none, before anything is
// sent or changed.
ScreenOptions ParseScreenOptions(const Args& args);

// Applies the options to config as the text page would; options not given keep what config
// holds. UsageError for an item on a line of a video recorder's disk, which takes text only. Each
// line given or whose type is given is formatted again and cut to the line's length, with a warning
// when the text given was cut or is not shown because the line shows an item.
void ApplyScreenOptions(const ScreenOptions& options, const DriveRecord& drive,
                        const ClockSnapshot& clock, std::u16string_view user, ScreenConfig& config);

// A new screen configuration from the options: a fresh slot that shows the HDD status.
ScreenConfig ScreenFromOptions(const ScreenOptions& options, const DriveRecord& drive,
                               const ClockSnapshot& clock, std::u16string_view user);

}  // namespace kuv::cli
