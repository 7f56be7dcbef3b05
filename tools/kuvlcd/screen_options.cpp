#include "tools/kuvlcd/screen_options.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <iterator>
#include <vector>

#include "app/compose/line_items.h"
#include "common/strings.h"
#include "app/model/user_folders.h"
#include "common/utf16.h"

namespace kuv::cli {
namespace {

struct LineType {
  const char* name;
  const char* shows;
};

// In item code order: the position of a type here is its code.
constexpr LineType kLineTypes[] = {
    {"text", "the line's own text (--line1 .. --line5)"},
    {"name", "mount point followed by the volume label"},
    {"volume", "volume label"},
    {"model", "the disk's model name"},
    {"date", "date, YYYY/MM/DD"},
    {"time", "time, HH:MM"},
    {"user", "user name"},
    {"smart-current", "current value of the attribute of --smart-id"},
    {"smart-data", "raw value of the attribute of --smart-id, in hexadecimal"},
};
constexpr std::int32_t kLineTypeCount = static_cast<std::int32_t>(std::size(kLineTypes));

// Codes 7 to 14 are the S.M.A.R.T. pairs; the line follows the attribute its pair was made for.
std::int32_t SmartIndexFor(const ScreenConfig& config, std::int32_t code) {
  if (code < 7 || code > 14) return -1;
  return config.smartId((code - 7) / 2);
}

bool ShowsItsOwnText(std::int32_t code) {
  return code == 0 || code > 14;
}

}  // namespace

std::optional<std::int32_t> ParseLineType(std::string_view text) {
  for (std::int32_t code = 0; code < kLineTypeCount; ++code) {
    if (text == kLineTypes[code].name) return code;
  }
  std::int32_t code = -1;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), code);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  if (code < 0 || code >= kLineTypeCount) return std::nullopt;
  return code;
}

std::string LineTypeName(std::int32_t code) {
  if (code >= 0 && code < kLineTypeCount) return kLineTypes[code].name;
  return std::to_string(code);
}

std::string LineTypeList() {
  std::string out;
  for (std::int32_t code = 0; code < kLineTypeCount; ++code) {
    std::string label = std::string(kLineTypes[code].name) + " (" + std::to_string(code) + ")";
    label.resize(std::max<std::size_t>(label.size() + 2, 20), ' ');
    out += "  " + label + kLineTypes[code].shows + "\n";
  }
  return out;
}

std::optional<std::int32_t> RotationOption(const Args& args, const std::string& name) {
  if (!args.Has(name)) return std::nullopt;
  const std::int64_t rotation = IntInRange(args, name, 0, 0, 270);
  if (rotation % 90 != 0) throw UsageError("--" + name + " must be 0, 90, 180 or 270");
  return static_cast<std::int32_t>(rotation);
}

OptionGroup DriveOptionGroup() {
  return {"Drive record",
          {{"fs-type", "N",
            "file-system type: 0 unknown, 1 NTFS, 2 FAT32, 3 FAT, 4 XFS, 5 EXT, "
            "6 exFAT, 7 other mounted read-write (1)"},
           {"file-system", "TEXT", "file-system name the list shows (-)"},
           {"panel-model", "N", "0 HID panel, 1 to 4 bridge panel models (1)"},
           {"connection-state", "N", "0 to 8; 2 is a locked encrypted disk (1)"},
           {"health", "N", "0 good, 1 caution, 2 bad (0)"},
           {"temperature", "C", "drive temperature in degrees Celsius (0)"},
           {"total-mb", "MB", "capacity in MiB"},
           {"free-mb", "MB", "free space in MiB"},
           {"total-sectors", "N", "capacity in 512-byte sectors"},
           {"free-sectors", "N", "free space in 512-byte sectors"},
           {"drive-letter", "TEXT", "mount point (-)"},
           {"volume-label", "TEXT", "volume label"},
           {"friendly-name", "TEXT", "the disk's model name (Disk Drive)"},
           {"smart-data", "FILE", "a 512-byte S.M.A.R.T. data sector"}}};
}

OptionGroup ScreenOptionGroup() {
  OptionGroup group{"Text screen", {}};
  for (int i = 1; i <= kLineCount; ++i) {
    group.options.push_back({"line" + std::to_string(i), "TEXT",
                             "text of line " + std::to_string(i) + " (type text only)"});
  }
  for (int i = 1; i <= kLineCount; ++i) {
    group.options.push_back({"type" + std::to_string(i), "TYPE",
                             "what line " + std::to_string(i) + " shows, by name or number"});
  }
  const std::vector<Option> rest = {
      {"rotation", "DEG", "screen rotation: 0, 90, 180 or 270"},
      {"reverse", "", "white on black, every line reversed unless --line-reverse says which"},
      {"line-reverse", "MASK", "lines to reverse: bit 0 line 1 ... bit 4 line 5"},
      {"show-status", "0|1", "show the capacity graph and health icon"},
      {"smart-id", "N", "position of the attribute the S.M.A.R.T. items show, -1 for none"},
      {"rotate-preview", "", "turn the preview with the screen"},
      {"now", "YYYY-MM-DDTHH:MM", "the clock the date and time items show (now)"},
      {"user", "NAME", "the user name item (the user running kuvlcd)"}};
  group.options.insert(group.options.end(), rest.begin(), rest.end());
  return group;
}

DriveRecord DriveFromOptions(const Args& args) {
  DriveRecord drive = EmptyDriveRecord();
  drive.driveNumber = 0;
  drive.fileSystemType =
      static_cast<std::int32_t>(IntInRange(args, "fs-type", kFsNtfs, 0, kFsOtherReadWrite));
  drive.panelModel = static_cast<std::int32_t>(IntInRange(args, "panel-model", 1, 0, 4));
  drive.connectionState =
      static_cast<std::int32_t>(IntInRange(args, "connection-state", kBridgePlain, 0, 8));
  drive.health = static_cast<std::int32_t>(IntInRange(args, "health", 0, -1000, 1000));
  drive.temperature = static_cast<std::int32_t>(IntInRange(args, "temperature", 0, -273, 1000));
  constexpr std::int64_t kMaxMB = 0xFFFFFFFF;
  constexpr std::int64_t kMaxSectors = INT64_MAX;
  const bool hasMB = args.Has("total-mb") || args.Has("free-mb");
  const bool hasSectors = args.Has("total-sectors") || args.Has("free-sectors");
  drive.totalMB = static_cast<std::uint32_t>(IntInRange(args, "total-mb", 0, 0, kMaxMB));
  drive.freeMB = static_cast<std::uint32_t>(IntInRange(args, "free-mb", 0, 0, kMaxMB));
  drive.totalSectors =
      static_cast<std::uint64_t>(IntInRange(args, "total-sectors", 0, 0, kMaxSectors));
  drive.freeSectors =
      static_cast<std::uint64_t>(IntInRange(args, "free-sectors", 0, 0, kMaxSectors));
  if (hasMB && !hasSectors) {
    drive.totalSectors = std::uint64_t{drive.totalMB} * 2048;
    drive.freeSectors = std::uint64_t{drive.freeMB} * 2048;
  } else if (hasSectors && !hasMB) {
    drive.totalMB =
        static_cast<std::uint32_t>(std::min<std::uint64_t>(drive.totalSectors / 2048, kMaxMB));
    drive.freeMB =
        static_cast<std::uint32_t>(std::min<std::uint64_t>(drive.freeSectors / 2048, kMaxMB));
  }
  SetField(drive.driveLetter, std::string_view(args.GetOr("drive-letter", "-")));
  SetField(drive.volumeLabel, std::string_view(args.GetOr("volume-label", "")));
  SetField(drive.friendlyName, std::string_view(args.GetOr("friendly-name", "Disk Drive")));
  SetField(drive.fileSystem, std::string_view(args.GetOr("file-system", "-")));
  if (auto path = args.Get("smart-data")) {
    std::ifstream in(*path, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in.eof() && !in) throw std::runtime_error(*path + ": cannot be read");
    if (bytes.size() != kSmartSectorSize) {
      throw UsageError("--smart-data must name a 512-byte S.M.A.R.T. data sector");
    }
    std::copy(bytes.begin(), bytes.end(), drive.smartData);
  }
  return drive;
}

ClockSnapshot ClockFromOptions(const Args& args) {
  if (auto now = args.Get("now")) {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0;
    char tail = 0;
    if (std::sscanf(now->c_str(), "%4d-%2d-%2dT%2d:%2d%c", &year, &month, &day, &hour, &minute,
                    &tail) != 5 ||
        month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || year < 1 ||
        hour < 0 || minute < 0) {
      throw UsageError("--now must be YYYY-MM-DDTHH:MM");
    }
    return {static_cast<std::uint16_t>(hour),
            static_cast<std::uint16_t>(minute),
            0,
            static_cast<std::uint16_t>(year),
            static_cast<std::uint16_t>(month),
            static_cast<std::uint16_t>(day)};
  }
  const std::time_t t = std::time(nullptr);
  std::tm local{};
  localtime_r(&t, &local);
  return {static_cast<std::uint16_t>(local.tm_hour),
          static_cast<std::uint16_t>(local.tm_min),
          static_cast<std::uint16_t>(local.tm_sec),
          static_cast<std::uint16_t>(local.tm_year + 1900),
          static_cast<std::uint16_t>(local.tm_mon + 1),
          static_cast<std::uint16_t>(local.tm_mday)};
}

std::u16string UserFromOptions(const Args& args) {
  if (auto user = args.Get("user")) return Utf8ToUtf16(*user);
  if (const std::string name = LoginName(); !name.empty()) return Utf8ToUtf16(name);
  return std::u16string(String(190));
}

ScreenOptions ParseScreenOptions(const Args& args) {
  ScreenOptions options;
  options.rotation = RotationOption(args, "rotation");
  options.reverse = args.Has("reverse");
  // --reverse reverses every line unless --line-reverse says which, as the page's reverse box.
  if (args.Has("line-reverse") || options.reverse) {
    options.lineReverseMask =
        static_cast<std::int32_t>(IntInRange(args, "line-reverse", 31, 0, 31));
  }
  if (args.Has("show-status")) {
    options.showHddStatus = static_cast<std::uint8_t>(IntInRange(args, "show-status", 1, 0, 1));
  }
  options.rotatePreview = args.Has("rotate-preview");
  if (args.Has("smart-id")) {
    options.smartId = static_cast<std::int32_t>(IntInRange(args, "smart-id", -1, -1, 29));
  }
  for (int i = 1; i <= kLineCount; ++i) {
    const auto index = static_cast<std::size_t>(i - 1);
    const std::string n = std::to_string(i);
    options.lines[index] = args.Get("line" + n);
    if (auto text = args.Get("type" + n)) {
      options.types[index] = ParseLineType(*text);
      if (!options.types[index]) {
        throw UsageError("--type" + n + " '" + *text + "' is not a line type; the types are:\n" +
                         LineTypeList());
      }
    }
  }
  return options;
}

void ApplyScreenOptions(const ScreenOptions& options, const DriveRecord& drive,
                        const ClockSnapshot& clock, std::u16string_view user,
                        ScreenConfig& config) {
  if (options.rotation) config.rotation = *options.rotation;
  if (options.reverse) config.whiteBlackColor = 1;
  if (options.lineReverseMask) {
    for (int i = 1; i <= kLineCount; ++i) {
      config.lineReverse(i) = (*options.lineReverseMask >> (i - 1)) & 1;
    }
  }
  if (options.showHddStatus) config.showHddStatus = *options.showHddStatus;
  if (options.rotatePreview) config.previewRotation = 1;
  if (options.smartId) config.smartId0 = *options.smartId;
  // The text page offers a video recorder's disk no items, only text.
  for (int i = 1; i <= kLineCount; ++i) {
    const std::optional<std::int32_t>& type = options.types[static_cast<std::size_t>(i - 1)];
    if (type && *type != 0 && IsVideoRecorderDisk(drive.fileSystemType)) {
      throw UsageError("--type" + std::to_string(i) +
                       ": the lines of a video recorder's disk show text only");
    }
  }
  const CodePage codePage = AnsiCodePage(SystemLanguage());
  for (int i = 1; i <= kLineCount; ++i) {
    const auto index = static_cast<std::size_t>(i - 1);
    const std::optional<std::string>& given = options.lines[index];
    if (!given && !options.types[index]) continue;
    const std::int32_t code = options.types[index].value_or(config.lineType(i));
    config.lineType(i) = code;
    config.lineSmartIndex(i) = SmartIndexFor(config, code);
    const std::u16string current =
        given ? Utf8ToUtf16(*given) : std::u16string(FieldView(config.line(i)));
    const LineItemSource source{drive, config, clock, user};
    const std::u16string text = FormatLineItem(code, i, current, source);
    SetField(config.line(i), std::u16string_view(ApplyLineLimit(text, drive, config, codePage)));
    const std::string n = std::to_string(i);
    if (code >= 7 && code <= 14 && config.lineSmartIndex(i) == -1) {
      Warn("line " + n + " shows nothing: no S.M.A.R.T. attribute is chosen (--smart-id N)");
    }
    if (!given) continue;
    if (!ShowsItsOwnText(code)) {
      Warn("--line" + n + " is not shown: line " + n + " shows the item '" + LineTypeName(code) +
           "' (--type" + n + " text shows the text)");
    } else if (FieldView(config.line(i)) != current) {
      Warn("--line" + n + " '" + *given + "' was cut to '" + FieldUtf8(config.line(i)) +
           "' to fit the line");
    }
  }
}

ScreenConfig ScreenFromOptions(const ScreenOptions& options, const DriveRecord& drive,
                               const ClockSnapshot& clock, std::u16string_view user) {
  ScreenConfig config = InitialSlotConfig();
  config.showHddStatus = 1;
  ApplyScreenOptions(options, drive, clock, user, config);
  return config;
}

}  // namespace kuv::cli
