#pragma once
// The drive and screen options shared by the verbs that compose a screen (render, update): they
// fill a drive record and a screen configuration the way a scan and the text page would.

#include <pwd.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "app/compose/line_items.h"
#include "common/drive_record.h"
#include "common/drive_table.h"
#include "common/screen_config.h"
#include "common/strings.h"
#include "common/utf16.h"
#include "tools/kuvlcd/cli.h"

namespace kuv::cli {

inline const std::vector<std::string>& DriveOptionNames() {
  static const std::vector<std::string> names = {
      "fs-type",      "panel-model",  "connection-state", "health",
      "free-mb",      "total-mb",     "free-sectors",     "total-sectors",
      "drive-letter", "volume-label", "friendly-name",    "user",
      "now",          "smart-data",   "temperature",      "file-system"};
  return names;
}

inline const std::vector<std::string>& ScreenOptionNames() {
  static const std::vector<std::string> names = {
      "line1",        "line2",       "line3",     "line4",    "line5",         "type1",
      "type2",        "type3",       "type4",     "type5",    "rotation",      "reverse",
      "line-reverse", "show-status", "data-type", "smart-id", "rotate-preview"};
  return names;
}

// Switches (options without a value) among the shared options.
inline std::vector<std::string> ScreenSwitches() {
  return {"reverse", "rotate-preview"};
}

inline std::int64_t IntInRange(const Args& args, const std::string& name, std::int64_t fallback,
                               std::int64_t low, std::int64_t high) {
  const std::int64_t value = args.GetIntOr(name, fallback);
  if (value < low || value > high) {
    throw UsageError("--" + name + " must be " + std::to_string(low) + " to " +
                     std::to_string(high));
  }
  return value;
}

// A drive record from the drive options; sizes given in one unit fill in the other.
inline DriveRecord DriveFromOptions(const Args& args) {
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

// The clock snapshot of --now YYYY-MM-DDTHH:MM, or of the local time.
inline ClockSnapshot ClockFromOptions(const Args& args) {
  ClockSnapshot clock;
  if (auto now = args.Get("now")) {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0;
    char tail = 0;
    if (std::sscanf(now->c_str(), "%4d-%2d-%2dT%2d:%2d%c", &year, &month, &day, &hour, &minute,
                    &tail) != 5 ||
        month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || year < 1 ||
        hour < 0 || minute < 0) {
      throw UsageError("--now must be YYYY-MM-DDTHH:MM");
    }
    clock = {static_cast<std::uint16_t>(hour),
             static_cast<std::uint16_t>(minute),
             0,
             static_cast<std::uint16_t>(year),
             static_cast<std::uint16_t>(month),
             static_cast<std::uint16_t>(day)};
    return clock;
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

inline std::u16string UserFromOptions(const Args& args) {
  if (auto user = args.Get("user")) return Utf8ToUtf16(*user);
  if (const passwd* entry = getpwuid(getuid()); entry && entry->pw_name) {
    return Utf8ToUtf16(entry->pw_name);
  }
  return std::u16string(String(190));
}

// A screen configuration from the screen options: each line's item formatted and cut to the
// line limit as the text page does. --reverse also reverses every line unless --line-reverse
// says which, as the page's reverse box does.
inline ScreenConfig ScreenFromOptions(const Args& args, const DriveRecord& drive,
                                      const ClockSnapshot& clock, std::u16string_view user) {
  ScreenConfig config = InitialSlotConfig();
  const std::int64_t rotation = IntInRange(args, "rotation", 0, 0, 270);
  if (rotation % 90 != 0) throw UsageError("--rotation must be 0, 90, 180 or 270");
  config.rotation = static_cast<std::int32_t>(rotation);
  config.whiteBlackColor = args.Has("reverse") ? 1 : 0;
  const std::int64_t mask = IntInRange(args, "line-reverse", args.Has("reverse") ? 31 : 0, 0, 31);
  for (int i = 1; i <= kLineCount; ++i) config.lineReverse(i) = (mask >> (i - 1)) & 1;
  config.showHddStatus = static_cast<std::uint8_t>(IntInRange(args, "show-status", 1, 0, 1));
  const std::int64_t dataType = IntInRange(args, "data-type", kLcdText, 0, 2);
  if (dataType == kLcdQr) throw UsageError("--data-type must be 0 (text) or 2 (bitmap)");
  config.lcdDataType = static_cast<std::int32_t>(dataType);
  config.previewRotation = args.Has("rotate-preview") ? 1 : 0;
  config.smartId0 = static_cast<std::int32_t>(IntInRange(args, "smart-id", -1, -1, 29));

  const CodePage codePage = AnsiCodePage(SystemLanguage());
  for (int i = 1; i <= kLineCount; ++i) {
    const std::string n = std::to_string(i);
    const auto code = static_cast<std::int32_t>(IntInRange(args, "type" + n, 0, 0, 1000));
    config.lineType(i) = code;
    if (code >= 7) config.lineSmartIndex(i) = config.smartId0;
    const LineItemSource source{drive, config, clock, user};
    const std::u16string current = Utf8ToUtf16(args.GetOr("line" + n, ""));
    const std::u16string text = FormatLineItem(code, i, current, source);
    SetField(config.line(i), std::u16string_view(ApplyLineLimit(text, drive, config, codePage)));
  }
  return config;
}

}  // namespace kuv::cli
