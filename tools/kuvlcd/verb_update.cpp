// kuvlcd update: the Update LCD button for a text screen — load the drive's settings, apply the
// screen options to the working copy, compose, send to the panel and save.

#include <cstdio>

#include "app/compose/line_items.h"
#include "app/model/headless_session.h"
#include "app/model/lcd_data_file.h"
#include "common/service_client.h"
#include "common/utf16.h"
#include "tools/kuvlcd/bitmap_update.h"
#include "tools/kuvlcd/cli.h"
#include "tools/kuvlcd/qr_update.h"
#include "tools/kuvlcd/screen_options.h"

namespace {

using kuv::cli::IntInRange;
using kuv::cli::UsageError;

// Applies the options given on the command line to the working copy; options not given keep
// what the drive's settings hold.
void ApplyScreenOptions(const kuv::cli::Args& args, const kuv::DriveRecord& drive,
                        const kuv::ClockSnapshot& clock, std::u16string_view user,
                        kuv::ScreenConfig& config) {
  if (args.Has("rotation")) {
    const std::int64_t rotation = IntInRange(args, "rotation", 0, 0, 270);
    if (rotation % 90 != 0) throw UsageError("--rotation must be 0, 90, 180 or 270");
    config.rotation = static_cast<std::int32_t>(rotation);
  }
  if (args.Has("reverse")) config.whiteBlackColor = 1;
  if (args.Has("line-reverse") || args.Has("reverse")) {
    const std::int64_t mask = IntInRange(args, "line-reverse", 31, 0, 31);
    for (int i = 1; i <= kuv::kLineCount; ++i) config.lineReverse(i) = (mask >> (i - 1)) & 1;
  }
  if (args.Has("show-status")) {
    config.showHddStatus = static_cast<std::uint8_t>(IntInRange(args, "show-status", 1, 0, 1));
  }
  if (args.Has("rotate-preview")) config.previewRotation = 1;
  if (args.Has("smart-id")) {
    config.smartId0 = static_cast<std::int32_t>(IntInRange(args, "smart-id", -1, -1, 29));
  }
  const kuv::CodePage codePage = kuv::AnsiCodePage(kuv::SystemLanguage());
  for (int i = 1; i <= kuv::kLineCount; ++i) {
    const std::string n = std::to_string(i);
    if (!args.Has("line" + n) && !args.Has("type" + n)) continue;
    const auto code =
        static_cast<std::int32_t>(IntInRange(args, "type" + n, config.lineType(i), 0, 1000));
    config.lineType(i) = code;
    config.lineSmartIndex(i) = code >= 7 ? config.smartId0 : -1;
    const std::u16string current = args.Has("line" + n)
                                       ? kuv::Utf8ToUtf16(*args.Get("line" + n))
                                       : std::u16string(kuv::FieldView(config.line(i)));
    const kuv::LineItemSource source{drive, config, clock, user};
    const std::u16string text = kuv::FormatLineItem(code, i, current, source);
    kuv::SetField(config.line(i),
                  std::u16string_view(kuv::ApplyLineLimit(text, drive, config, codePage)));
  }
}

int Run(const kuv::cli::Args& args) {
  if (args.Has("qr")) return kuv::cli::RunQrUpdate(args);
  std::vector<std::string> known = kuv::cli::ScreenOptionNames();
  for (const char* name : {"drive", "verbose", "now", "user", "register-sata-filter"}) {
    known.push_back(name);
  }
  const std::vector<std::string>& bitmapNames = kuv::cli::BitmapOptionNames();
  known.insert(known.end(), bitmapNames.begin(), bitmapNames.end());
  args.RejectUnknown(known);
  const bool bitmap = args.Has("bitmap");
  for (const std::string& name : bitmapNames) {
    if (!bitmap && args.Has(name)) throw UsageError("--" + name + " needs --bitmap FILE");
  }
  const auto driveNumber = args.GetInt("drive");
  if (!driveNumber) throw UsageError("--drive N is required");
  if (bitmap && args.Has("data-type")) throw UsageError("--bitmap shows a bitmap screen");
  if (args.Has("data-type") && IntInRange(args, "data-type", 0, 0, 2) != kuv::kLcdText) {
    throw UsageError("--data-type 0: kuvlcd composes text screens only");
  }

  kuv::HeadlessSession session(args.Has("verbose"));
  session.hooks.registerSataFilter = args.Has("register-sata-filter");
  if (session.Start() < 0) {
    std::fprintf(stderr, "kuvlcd update: the panel service cannot be reached at %s\n",
                 kuv::ServiceSocketPath().c_str());
    return 1;
  }
  kuv::LcdModel& model = session.model;
  const int slot = model.table.SlotOfDrive(static_cast<std::int32_t>(*driveNumber));
  if (slot < 0 || *driveNumber < 0) {
    std::fprintf(stderr, "kuvlcd update: drive %lld has no memory LCD\n",
                 static_cast<long long>(*driveNumber));
    return 1;
  }
  if (args.Has("now")) model.table.clock = kuv::cli::ClockFromOptions(args);
  if (args.Has("user")) model.table.userName = kuv::cli::UserFromOptions(args);
  const kuv::DriveRecord drive = model.table.driveRecords[static_cast<std::size_t>(slot)];
  // The main window disables Update LCD for these drives; so does the tool.
  if (!kuv::IsVideoRecorderDisk(drive.fileSystemType) &&
      drive.connectionState == kuv::kBridgeLocked) {
    std::fprintf(stderr, "kuvlcd update: drive %lld is a locked encrypted disk\n",
                 static_cast<long long>(*driveNumber));
    return 1;
  }
  if (drive.fileSystemType == kuv::kFsUnknown) {
    std::fprintf(stderr, "kuvlcd update: drive %lld has no file system the panel can show\n",
                 static_cast<long long>(*driveNumber));
    return 1;
  }

  // The start's scan has just read this drive's settings.
  model.SelectDrive(slot, false);
  if (!bitmap && !args.Has("data-type") && model.table.workingConfig.lcdDataType != kuv::kLcdText) {
    std::fprintf(stderr,
                 "kuvlcd update: drive %lld shows a %s; add --data-type 0 to show text instead\n",
                 static_cast<long long>(*driveNumber),
                 model.table.workingConfig.lcdDataType == kuv::kLcdQr ? "QR code" : "bitmap");
    return 1;
  }
  ApplyScreenOptions(args, drive, model.table.clock, model.table.userName,
                     model.table.workingConfig);
  // The text options still count on a bitmap screen: its other half shows the text screen.
  if (bitmap) return kuv::cli::RunBitmapUpdate(args, session, slot);
  model.table.currentTab = 0;
  const kuv::SaveOutcome outcome = model.UpdateLcd();

  const std::optional<std::string> folder = kuv::DriveFolderPath(drive);
  std::printf("drive %lld: picture sent\n", static_cast<long long>(*driveNumber));
  if (kuv::IsVideoRecorderDisk(drive.fileSystemType)) {
    if (!outcome.saved) {
      std::fprintf(stderr, "kuvlcd update: the settings could not be saved in the profile\n");
      return 1;
    }
    std::printf("settings saved in the profile section %s\n",
                kuv::FieldUtf8(drive.serialNumber).c_str());
  } else if (outcome.saved && folder) {
    std::printf("settings saved in %s/%s\n", folder->c_str(), kuv::kLcdDataFileName);
  } else {
    std::fprintf(stderr, "kuvlcd update: the settings could not be saved on the drive\n");
    return 1;
  }
  return 0;
}

std::vector<std::string> Switches() {
  std::vector<std::string> switches = kuv::cli::ScreenSwitches();
  switches.push_back("verbose");
  for (const std::string& name : kuv::cli::BitmapSwitches()) switches.push_back(name);
  switches.push_back("register-sata-filter");
  return switches;
}

kuv::cli::Registrar reg({"update",
                         "update --drive N [--line1..5 TEXT] [--type1..5 CODE] [--rotation DEG] "
                         "[--reverse] [--line-reverse MASK] [--show-status 0|1] [--smart-id N] "
                         "[--data-type 0] [--now YYYY-MM-DDTHH:MM] [--user NAME] "
                         "[--register-sata-filter] [--verbose]\n"
                         "       update --drive N --bitmap FILE [--area all|upper|lower] "
                         "[--bmp-rotation DEG] [--bmp-reverse] [--convert [--threshold 0..256] "
                         "[--line-art]]\n"
                         "       update --drive N --qr TEXT [--cell-pitch 1|2] [--ecc 0..3] [--verbose]",
                         Switches(), Run});

}  // namespace
