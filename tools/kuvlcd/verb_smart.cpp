// kuvlcd smart: one drive's S.M.A.R.T. attributes, health and temperature as the S.M.A.R.T. page
// shows them, and its power mode, read through the panel service, for scripts and monitoring.

#include <cstdio>
#include <nlohmann/json.hpp>

#include "app/model/headless_session.h"
#include "panelio/power_mode.h"
#include "tools/kuvlcd/cli.h"
#include "tools/kuvlcd/smart_report.h"

namespace {

int Run(const kuv::cli::Args& args) {
  const std::string format = kuv::cli::FormatOption(args, {"table", "json"}, "table");
  const std::int32_t driveNumber = kuv::cli::RequiredDrive(args);
  const bool noWake = args.Has("no-wake");

  // No scan: it would read every disk, and a monitoring script must be able to leave one asleep.
  kuv::HeadlessSession session;
  session.model.LoadSettings();
  kuv::DriveTable& table = session.model.table;
  table.driveRecords[0] = kuv::DriveRecord{};
  table.driveRecords[0].driveNumber = driveNumber;
  table.driveCount = 1;
  table.selectedDrive = 0;
  table.workingConfig.smartId0 = -1;

  const std::int32_t power = session.service.GetPowerMode(driveNumber);
  if (power == -1) {
    kuv::cli::ReportServiceUnreachable();
    return 1;
  }
  const std::int32_t result = session.model.ReadSmart(0, noWake);
  if (result < 0) {
    kuv::cli::ReportServiceUnreachable();
    return 1;
  }
  // A number no drive answers at would print as a healthy drive without attributes. Only asked
  // when neither request reached a disk, so a sleeping disk is never read for it.
  if (result == 0 && power == kuv::kPowerModeUnknown) {
    kuv::DriveRecord probe{};
    if (session.service.GetSizeFromSector(driveNumber, probe) == 0) {
      std::fprintf(stderr, "%s: no drive answers as drive %d\n", kuv::cli::Program().c_str(),
                   driveNumber);
      return 1;
    }
  }
  std::optional<std::uint8_t> count;
  if (power >= 0 && power <= 0xFF) count = static_cast<std::uint8_t>(power);
  const bool read = result == 1;
  const char* state = result == kuv::kSmartSkippedAsleep ? "skipped: asleep"
                      : read                             ? "read"
                                                         : "no S.M.A.R.T.";
  const std::string mode(kuv::PowerModeName(count));
  const kuv::DriveRecord& drive = table.driveRecords[0];
  const kuv::Language language = kuv::SystemLanguage();

  if (format == "json") {
    nlohmann::ordered_json out;
    out["driveNumber"] = driveNumber;
    out["powerMode"] = mode;
    out["powerModeCount"] = count ? nlohmann::ordered_json(*count) : nlohmann::ordered_json();
    out["smart"] = state;
    out.update(kuv::cli::SmartJson(drive.smartData, drive.smartThresholds, read, language));
    std::printf("%s\n", out.dump(2).c_str());
    return 0;
  }
  std::printf("Drive %d  power mode %s  S.M.A.R.T. %s\n", driveNumber, mode.c_str(), state);
  kuv::cli::PrintSmartText(drive.smartData, drive.smartThresholds, read, language);
  return 0;
}

kuv::cli::Registrar reg(
    {"smart",
     "a drive's S.M.A.R.T. attributes, health and power mode",
     "Reads one drive's S.M.A.R.T. data through the panel service and shows it as the "
     "S.M.A.R.T. page does: health, temperature and every attribute, with the disk's power "
     "mode. No scan is made, so other disks are left alone.",
     {"--drive N [--format table|json] [--no-wake]"},
     {{"",
       {{"drive", "N", "the drive number, 0 to 31"},
        {"format", "table|json", "what to print (table)"},
        {"no-wake", "", "leave a disk in standby or sleep alone instead of reading it"}}}},
     "JSON: \"smart\" is \"read\", \"skipped: asleep\" or \"no S.M.A.R.T.\"; health is null "
     "when nothing was read. A drive number no drive answers at fails (exit status 1).",
     Run});

}  // namespace
