// kuvlcd update: the Update LCD button — load the drive's settings, apply the options to the
// working copy as the pages would, compose, send to the panel and save. A text screen here; the
// bitmap and QR forms in their own files.

#include <cstdio>

#include "app/model/headless_session.h"
#include "app/model/lcd_data_file.h"
#include "common/utf16.h"
#include "tools/kuvlcd/bitmap_update.h"
#include "tools/kuvlcd/cli.h"
#include "tools/kuvlcd/qr_update.h"
#include "tools/kuvlcd/screen_options.h"

namespace {

using kuv::cli::OptionGroup;
using kuv::cli::UsageError;

OptionGroup OwnOptions() {
  return {"",
          {{"drive", "N", "the drive number, 0 to 31"},
           {"data-type", "0", "show text on a drive whose screen is a bitmap or QR code"},
           {"register-sata-filter", "",
            "register the SATA filter a Silicon Image host needs (after a restart)"},
           {"verbose", "", "the device exchanges' diagnostics on stderr"}}};
}

// Each option belongs to one form of the command; one given with another form would be ignored.
void CheckForms(const kuv::cli::Args& args) {
  const bool bitmap = args.Has("bitmap");
  const bool qr = args.Has("qr");
  if (bitmap && qr) throw UsageError("--bitmap and --qr: a screen shows one of them");
  const OptionGroup bitmapGroup = kuv::cli::BitmapOptionGroup();
  const OptionGroup qrGroup = kuv::cli::QrOptionGroup();
  const OptionGroup textGroup = kuv::cli::ScreenOptionGroup();
  for (const std::string& name : args.Given()) {
    if (bitmapGroup.Find(name) && !bitmap) throw UsageError("--" + name + " needs --bitmap FILE");
    if (qrGroup.Find(name) && !qr) throw UsageError("--" + name + " needs --qr TEXT");
    if (qr && (textGroup.Find(name) || name == "data-type")) {
      throw UsageError("--" + name + " does not go with --qr");
    }
    if (bitmap && name == "data-type") throw UsageError("--bitmap shows a bitmap screen");
    if ((name == "threshold" || name == "line-art") && !args.Has("convert")) {
      throw UsageError("--" + name + " needs --convert");
    }
  }
}

// What the command line asks for, checked before the service is asked anything.
struct Request {
  std::int32_t driveNumber = -1;
  bool textAsked = false;  // --data-type 0
  kuv::cli::ScreenOptions screen;
  std::optional<kuv::cli::BitmapOptions> bitmap;
  std::optional<kuv::cli::QrOptions> qr;
  std::optional<kuv::ClockSnapshot> clock;
  std::optional<std::u16string> user;
};

Request ParseRequest(const kuv::cli::Args& args) {
  CheckForms(args);
  Request request;
  request.driveNumber = kuv::cli::RequiredDrive(args);
  if (args.Has("data-type")) {
    if (kuv::cli::IntInRange(args, "data-type", 0, 0, 2) != kuv::kLcdText) {
      throw UsageError("--data-type 0: kuvlcd composes text screens only");
    }
    request.textAsked = true;
  }
  request.screen = kuv::cli::ParseScreenOptions(args);
  if (args.Has("bitmap")) request.bitmap = kuv::cli::ParseBitmapOptions(args);
  if (args.Has("qr")) request.qr = kuv::cli::ParseQrOptions(args);
  if (args.Has("now")) request.clock = kuv::cli::ClockFromOptions(args);
  if (args.Has("user")) request.user = kuv::cli::UserFromOptions(args);
  return request;
}

int UpdateText(const Request& request, kuv::HeadlessSession& session, int slot) {
  kuv::LcdModel& model = session.model;
  const kuv::DriveRecord drive = model.table.driveRecords[static_cast<std::size_t>(slot)];
  // The start's scan has just read this drive's settings.
  model.SelectDrive(slot, false);
  if (!request.bitmap && !request.textAsked &&
      model.table.workingConfig.lcdDataType != kuv::kLcdText) {
    std::fprintf(stderr,
                 "kuvlcd update: drive %d shows a %s; add --data-type 0 to show text instead\n",
                 drive.driveNumber,
                 model.table.workingConfig.lcdDataType == kuv::kLcdQr ? "QR code" : "bitmap");
    return 1;
  }
  kuv::cli::ApplyScreenOptions(request.screen, drive, model.table.clock, model.table.userName,
                               model.table.workingConfig);
  // The text options still count on a bitmap screen: its other half shows the text screen.
  if (request.bitmap) return kuv::cli::RunBitmapUpdate(*request.bitmap, session, slot);
  model.table.currentTab = 0;
  const kuv::SaveOutcome outcome = model.UpdateLcd();
  if (session.hooks.ReportPanelNotUpdated(outcome)) return 1;

  const std::optional<std::string> folder = kuv::DriveFolderPath(drive);
  std::printf("drive %d: picture sent\n", drive.driveNumber);
  if (kuv::IsVideoRecorderDisk(drive.fileSystemType)) {
    if (!outcome.saved) {
      std::fprintf(stderr, "kuvlcd update: the settings could not be saved in the profile\n");
      return 1;
    }
    std::printf("settings saved in the profile section %s\n",
                kuv::FieldUtf8(drive.serialNumber).c_str());
  } else if (outcome.saved && folder) {
    std::printf("settings saved in %s\n", kuv::JoinPath(*folder, kuv::kLcdDataFileName).c_str());
  } else {
    std::fprintf(stderr, "kuvlcd update: the settings could not be saved on the drive\n");
    return 1;
  }
  return 0;
}

int Run(const kuv::cli::Args& args) {
  const Request request = ParseRequest(args);
  const std::int32_t driveNumber = request.driveNumber;
  kuv::HeadlessSession session(args.Has("verbose"));
  session.hooks.registerSataFilter = args.Has("register-sata-filter");
  if (session.Start(driveNumber) < 0) {
    kuv::cli::ReportServiceUnreachable();
    return 1;
  }
  kuv::LcdModel& model = session.model;
  const int slot = model.table.SlotOfDrive(driveNumber);
  if (slot < 0) {
    std::fprintf(stderr, "kuvlcd update: drive %d has no memory LCD\n", driveNumber);
    return 1;
  }
  if (request.clock) model.table.clock = *request.clock;
  if (request.user) model.table.userName = *request.user;
  const kuv::DriveRecord& drive = model.table.driveRecords[static_cast<std::size_t>(slot)];
  // The main window disables Update LCD for these drives; so does the tool.
  if (!kuv::IsVideoRecorderDisk(drive.fileSystemType) &&
      drive.connectionState == kuv::kBridgeLocked) {
    std::fprintf(stderr, "kuvlcd update: drive %d is a locked encrypted disk\n", driveNumber);
    return 1;
  }
  if (drive.fileSystemType == kuv::kFsUnknown) {
    std::fprintf(stderr, "kuvlcd update: drive %d has no file system the panel can show\n",
                 driveNumber);
    return 1;
  }
  if (request.qr) return kuv::cli::RunQrUpdate(*request.qr, session, slot);
  return UpdateText(request, session, slot);
}

std::vector<OptionGroup> Groups() {
  return {OwnOptions(), kuv::cli::ScreenOptionGroup(), kuv::cli::BitmapOptionGroup(),
          kuv::cli::QrOptionGroup()};
}

kuv::cli::Registrar reg(
    {"update",
     "compose, send and save a drive's screen (Update LCD)",
     "Does what Update LCD does for one drive: loads its settings, applies the options given "
     "(the rest stay as stored), composes the screen, sends it to the panel through the panel "
     "service and saves the settings on the drive (in the profile for a video recorder's "
     "disk).",
     {"--drive N [text screen options] [--data-type 0]",
      "--drive N --bitmap FILE [bitmap options] [text screen options]",
      "--drive N --qr TEXT [--cell-pitch 1|2] [--ecc 0..3]"},
     Groups(),
     "A line's text shows only when its type is text; a text longer than the line is cut, with "
     "a warning. On a bitmap screen the text options set the half the picture leaves free. "
     "Pictures other than a 96x96 one-bit BMP need --convert.\n\n"
     "Line types (--type1 .. --type5), by name or number:\n" +
         kuv::cli::LineTypeList(),
     Run});

}  // namespace
