// kuvlcd direct info / smart / hid-count: the discovery and S.M.A.R.T. exports called in-process,
// without the service, to see what the library makes of a drive (as root on real devices, or on a
// simulated world).

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <nlohmann/json.hpp>
#include <string>

#include "common/drive_record.h"
#include "common/utf16.h"
#include "panelio/panelio.h"
#include "tools/kuvlcd/cli.h"
#include "tools/kuvlcd/json_out.h"

namespace {

void Print(const nlohmann::ordered_json& out) {
  std::printf("%s\n", out.dump(2).c_str());
}

int RunInfo(const kuv::cli::Args& args) {
  kuv::cli::FormatOption(args, {"json"}, "json");
  const std::int32_t drive = kuv::cli::RequiredDrive(args);
  kuv::DriveRecord record{};
  if (auto path = args.Get("hid-path")) {
    if (kuv::Utf8ToUtf16(*path).size() >= std::size(record.hidPath))
      throw kuv::cli::UsageError("--hid-path is longer than 259 units");
    kuv::SetField(record.hidPath, *path);
  }
  const std::int32_t found = GetLcdInfo(drive, &record);
  const int error = errno;
  nlohmann::ordered_json out;
  out["result"] = found;
  if (!found) out["lastError"] = error;  // what made the call fail; meaningless after a success
  out.update(kuv::cli::DriveRecordJson(record));
  Print(out);
  return 0;
}

int RunSmart(const kuv::cli::Args& args) {
  kuv::cli::FormatOption(args, {"json"}, "json");
  const std::int32_t drive = kuv::cli::RequiredDrive(args);
  std::uint8_t thresholds[kuv::kSmartSectorSize] = {};
  std::uint8_t data[kuv::kSmartSectorSize] = {};
  char16_t serial[21] = {};
  const std::int32_t result = GetSmartInfo(drive, thresholds, data, serial);
  const int error = errno;
  nlohmann::ordered_json out;
  out["result"] = result;
  if (!result) out["lastError"] = error;
  out["serialNumber"] = kuv::Utf16ToUtf8(kuv::FieldView(serial));
  out["smartThresholds"] = kuv::cli::Hex(thresholds, sizeof thresholds);
  out["smartData"] = kuv::cli::Hex(data, sizeof data);
  Print(out);
  return 0;
}

int RunHidCount(const kuv::cli::Args& args) {
  kuv::cli::FormatOption(args, {"json"}, "json");
  nlohmann::ordered_json out;
  out["count"] = GetHidLcdCount();
  Print(out);
  return 0;
}

const kuv::cli::Option kFormatJson = {"format", "json", "what to print (json, the only form)"};

kuv::cli::Registrar info(
    {"direct info",
     "GetLcdInfo for one drive, without the service",
     "Calls the device library's GetLcdInfo for one drive in this process, without the "
     "service, and prints the drive record it fills: what the library makes of a drive (as "
     "root on real devices, or on a simulated world).",
     {"--drive N [--hid-path P] [--format json]"},
     {{"",
       {{"drive", "N", "the drive number, 0 to 31"},
        {"hid-path", "P", "the HID panel path a previous scan tied to the drive"},
        kFormatJson}}},
     "JSON: result (1 when a memory LCD belongs to the drive), lastError after a failure, and "
     "the drive record's fields.",
     RunInfo});
kuv::cli::Registrar smart(
    {"direct smart",
     "GetSmartInfo for one drive, without the service",
     "Calls the device library's GetSmartInfo for one drive in this process, without the "
     "service, and prints the two S.M.A.R.T. sectors and the serial number it reads.",
     {"--drive N [--format json]"},
     {{"", {{"drive", "N", "the drive number, 0 to 31"}, kFormatJson}}},
     "JSON: result (1 when read), lastError after a failure, serialNumber, smartThresholds and "
     "smartData as hexadecimal.",
     RunSmart});
kuv::cli::Registrar count({"direct hid-count",
                           "count the HID panels, without the service",
                           "Counts the HID panels the device library finds, in this process.",
                           {"[--format json]"},
                           {{"", {kFormatJson}}},
                           "JSON: count.",
                           RunHidCount});

}  // namespace
