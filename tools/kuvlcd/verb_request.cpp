// kuvlcd request: one device request record sent to the service, its answer printed as JSON.

#include <cstdint>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>

#include "common/request_record.h"
#include "common/service_client.h"
#include "common/utf16.h"
#include "tools/kuvlcd/cli.h"
#include "tools/kuvlcd/json_out.h"

namespace {

// The service gave no answer; kept apart from 1 since scripts of this verb tell them apart.
constexpr int kNoAnswer = 3;

std::int32_t ToInt32(std::int64_t value, const char* name) {
  if (value < INT32_MIN || value > INT32_MAX) {
    throw kuv::cli::UsageError(std::string("--") + name + " does not fit in 32 bits");
  }
  return static_cast<std::int32_t>(value);
}

int Run(const kuv::cli::Args& args) {
  kuv::cli::FormatOption(args, {"json"}, "json");
  auto command = args.GetInt("command");
  if (!command) throw kuv::cli::UsageError("--command is required");

  // Everything is taken as given, out-of-range values included, so the service's checks can be
  // tried from the command line.
  kuv::RequestRecord record = kuv::MakeRequest(ToInt32(*command, "command"));
  record.driveNumber = ToInt32(args.GetIntOr("drive", 0), "drive");
  record.autorun = ToInt32(args.GetIntOr("autorun", 0), "autorun");
  if (auto hidPath = args.Get("hid-path")) kuv::SetField(record.driveInfo.hidPath, *hidPath);
  if (auto path = args.Get("path")) {
    std::u16string wide = kuv::Utf8ToUtf16(*path);
    if (record.command == kuv::kCmdWriteFile) {
      std::string data = args.GetOr("data", "");
      if (!record.SetWrite(
              wide, std::span(reinterpret_cast<const std::uint8_t*>(data.data()), data.size()))) {
        throw kuv::cli::UsageError("command 6 takes a path under 32 units and at most 3556 bytes");
      }
    } else if (!record.SetPath(wide)) {
      throw kuv::cli::UsageError("--path is longer than 259 units");
    }
  }

  switch (kuv::TryExchangeRequest(record)) {
    case kuv::ExchangeOutcome::kAnswered:
      break;
    case kuv::ExchangeOutcome::kUnreachable:
      kuv::cli::ReportServiceUnreachable();
      return kNoAnswer;
    case kuv::ExchangeOutcome::kBroken:
      std::fprintf(stderr,
                   "kuvlcd request: the device service closed the connection without "
                   "a whole answer\n");
      return kNoAnswer;
  }

  nlohmann::json out = {
      {"command", record.command}, {"result", record.result}, {"lastError", record.lastError}};
  if (record.command == kuv::kCmdGetLcdInfo || record.command == kuv::kCmdGetSmartInfo ||
      record.command == kuv::kCmdGetSizeFromSector ||
      record.command == kuv::kCmdGetSmartUnlessAsleep) {
    out["driveInfo"] = kuv::cli::DriveRecordJson(record.driveInfo);
  }
  std::printf("%s\n", out.dump(2).c_str());
  return 0;
}

kuv::cli::Registrar reg(
    {"request",
     "send one device request record to the service",
     "Sends one device request record to the panel service and prints its answer, for trying "
     "the service by hand. Every value is sent as given, out-of-range ones included, so the "
     "service's checks can be tried.",
     {"--command N [--drive N] [--path P] [--autorun 0|1] [--hid-path P] [--data TEXT] "
      "[--format json]"},
     {{"",
       {{"command", "N", "the command code (1 to 13)"},
        {"drive", "N", "the record's drive number (0)"},
        {"path", "P", "the record's path (commands 5, 6 and 7)"},
        {"autorun", "N", "the record's autorun value (command 10)"},
        {"hid-path", "P", "the drive record's HID path (command 1)"},
        {"data", "TEXT", "the bytes command 6 appends"},
        {"format", "json", "what to print (json, the only form)"}}}},
     "JSON: command, result, lastError, and for commands 1, 9, 11 and 12 the drive record as "
     "\"driveInfo\".",
     Run,
     {{3, "the service could not be reached or broke the connection"}}});

}  // namespace
