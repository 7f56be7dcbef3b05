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

void RequireJson(const kuv::cli::Args& args) {
  const std::string format = args.GetOr("format", "json");
  if (format != "json") throw kuv::cli::UsageError("--format is json, not '" + format + "'");
}

std::int32_t DriveOf(const kuv::cli::Args& args) {
  auto drive = args.GetInt("drive");
  if (!drive) throw kuv::cli::UsageError("--drive N is needed");
  if (*drive < 0 || *drive > 31) throw kuv::cli::UsageError("--drive is 0 to 31");
  return static_cast<std::int32_t>(*drive);
}

void Print(const nlohmann::ordered_json& out) {
  std::printf("%s\n", out.dump(2).c_str());
}

int RunInfo(const kuv::cli::Args& args) {
  args.RejectUnknown({"drive", "hid-path", "format"});
  RequireJson(args);
  const std::int32_t drive = DriveOf(args);
  kuv::DriveRecord record{};
  if (auto path = args.Get("hid-path")) {
    if (kuv::Utf8ToUtf16(*path).size() >= std::size(record.hidPath))
      throw kuv::cli::UsageError("--hid-path is longer than 259 units");
    kuv::SetField(record.hidPath, *path);
  }
  const std::int32_t found = GetLcdInfo(drive, &record);
  const int error = errno;
  nlohmann::ordered_json out;
  out["found"] = found;
  if (!found) out["lastError"] = error;  // what made the call fail; meaningless after a success
  out.update(kuv::cli::DriveRecordJson(record));
  Print(out);
  return 0;
}

int RunSmart(const kuv::cli::Args& args) {
  args.RejectUnknown({"drive", "format"});
  RequireJson(args);
  const std::int32_t drive = DriveOf(args);
  std::uint8_t thresholds[kuv::kSmartSectorSize] = {};
  std::uint8_t data[kuv::kSmartSectorSize] = {};
  char16_t serial[21] = {};
  const std::int32_t result = GetSmartInfo(drive, thresholds, data, serial);
  const int error = errno;
  nlohmann::ordered_json out;
  out["result"] = result;
  if (!result) out["lastError"] = error;
  out["serial"] = kuv::Utf16ToUtf8(kuv::FieldView(serial));
  out["smartThresholds"] = kuv::cli::Hex(thresholds, sizeof thresholds);
  out["smartData"] = kuv::cli::Hex(data, sizeof data);
  Print(out);
  return 0;
}

int RunHidCount(const kuv::cli::Args& args) {
  args.RejectUnknown({"format"});
  RequireJson(args);
  nlohmann::ordered_json out;
  out["count"] = GetHidLcdCount();
  Print(out);
  return 0;
}

kuv::cli::Registrar info(
    {"direct info", "direct info --drive N [--hid-path P] [--format json]", {}, RunInfo});
kuv::cli::Registrar smart({"direct smart", "direct smart --drive N [--format json]", {}, RunSmart});
kuv::cli::Registrar count(
    {"direct hid-count", "direct hid-count [--format json]", {}, RunHidCount});

}  // namespace
