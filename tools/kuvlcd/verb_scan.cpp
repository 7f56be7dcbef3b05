// kuvlcd scan: the drive list as the main window shows it, found through the panel service.

#include <array>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "app/model/headless_session.h"
#include "app/model/list_rows.h"
#include "common/utf16.h"
#include "tools/kuvlcd/cli.h"
#include "tools/kuvlcd/json_out.h"

namespace {

constexpr std::size_t kFreeColumn = 3;
constexpr std::size_t kCapacityColumn = 4;

int Run(const kuv::cli::Args& args) {
  const std::string format = kuv::cli::FormatOption(args, {"table", "json"}, "table");
  kuv::HeadlessSession session(args.Has("verbose"));
  session.hooks.registerSataFilter = args.Has("register-sata-filter");
  if (session.Start() < 0) {
    kuv::cli::ReportServiceUnreachable();
    return 1;
  }
  const kuv::DriveTable& table = session.model.table;
  const kuv::Language language = kuv::SystemLanguage();
  nlohmann::ordered_json drives = nlohmann::ordered_json::array();
  std::vector<std::array<std::string, kuv::kListColumns + 1>> rows;
  for (int slot = 0; slot < table.driveCount; ++slot) {
    const kuv::DriveRecord& drive = table.driveRecords[static_cast<std::size_t>(slot)];
    const kuv::ListRow row = kuv::ListRowTexts(drive, language);
    std::array<std::string, kuv::kListColumns + 1> cells;
    cells[0] = std::to_string(drive.driveNumber);
    for (std::size_t c = 0; c < row.size(); ++c) cells[c + 1] = kuv::Utf16ToUtf8(row[c]);
    rows.push_back(cells);
    nlohmann::ordered_json entry = {{"slot", slot}};
    entry.update(kuv::cli::DriveRecordJson(drive, false));
    entry["freeText"] = cells[kFreeColumn + 1];
    entry["totalText"] = cells[kCapacityColumn + 1];
    entry["columns"] = std::vector<std::string>(cells.begin() + 1, cells.end());
    drives.push_back(std::move(entry));
  }
  if (format == "json") {
    std::printf("%s\n", nlohmann::ordered_json{{"drives", drives}}.dump(2).c_str());
    return 0;
  }
  if (rows.empty()) {
    std::printf("no drive with a memory LCD\n");
    return 0;
  }
  std::array<std::string, kuv::kListColumns + 1> header = {"Drive"};
  static constexpr int kHeaderStrings[] = {1505, 1504, 1503, 1502, 1501, 1507};
  for (std::size_t c = 0; c < std::size(kHeaderStrings); ++c) {
    header[c + 1] = kuv::StringUtf8(kHeaderStrings[c], language);
  }
  rows.insert(rows.begin(), header);
  kuv::cli::PrintColumns(rows);
  return 0;
}

kuv::cli::Registrar reg(
    {"scan",
     "list the drives with a memory LCD",
     "Finds the drives with a memory LCD through the panel service and lists them as the "
     "main window does: drive name, LCD model, HDD model, free space, capacity, file system.",
     {"[--format table|json] [--register-sata-filter] [--verbose]"},
     {{"",
       {{"format", "table|json", "what to print (table)"},
        {"register-sata-filter", "",
         "register the SATA filter a Silicon Image host needs (takes effect after a restart)"},
        {"verbose", "", "the device exchanges' diagnostics on stderr"}}}},
     "JSON: {\"drives\": [...]}, one object a drive with the drive record's fields (the mount "
     "point as \"mountPoint\"), the sizes in MB next to the list's texts (\"freeText\", "
     "\"totalText\"), the states by number and name, \"slot\" and the list's \"columns\".",
     Run});

}  // namespace
