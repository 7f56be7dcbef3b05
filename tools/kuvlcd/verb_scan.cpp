// kuvlcd scan: the drive list as the main window shows it, found through the panel service.

#include <algorithm>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "app/model/headless_session.h"
#include "app/model/list_rows.h"
#include "common/service_client.h"
#include "common/utf16.h"
#include "tools/kuvlcd/cli.h"

namespace {

int Run(const kuv::cli::Args& args) {
  args.RejectUnknown({"format", "verbose", "register-sata-filter"});
  const std::string format = args.GetOr("format", "table");
  if (format != "json" && format != "table") throw kuv::cli::UsageError("--format json|table");
  kuv::HeadlessSession session(args.Has("verbose"));
  session.hooks.registerSataFilter = args.Has("register-sata-filter");
  if (session.Start() < 0) {
    std::fprintf(stderr, "kuvlcd scan: the panel service cannot be reached at %s\n",
                 kuv::ServiceSocketPath().c_str());
    return 1;
  }
  const kuv::DriveTable& table = session.model.table;
  const kuv::Language language = kuv::SystemLanguage();
  nlohmann::json drives = nlohmann::json::array();
  std::vector<std::array<std::string, kuv::kListColumns + 1>> rows;
  for (int slot = 0; slot < table.driveCount; ++slot) {
    const kuv::DriveRecord& drive = table.driveRecords[static_cast<std::size_t>(slot)];
    const kuv::ListRow row = kuv::ListRowTexts(drive, language);
    nlohmann::json columns = nlohmann::json::array();
    std::array<std::string, kuv::kListColumns + 1> cells;
    cells[0] = std::to_string(drive.driveNumber);
    for (int c = 0; c < kuv::kListColumns; ++c) {
      cells[static_cast<std::size_t>(c + 1)] = kuv::Utf16ToUtf8(row[static_cast<std::size_t>(c)]);
      columns.push_back(cells[static_cast<std::size_t>(c + 1)]);
    }
    rows.push_back(cells);
    drives.push_back({{"slot", slot},
                      {"driveNumber", drive.driveNumber},
                      {"mountPoint", kuv::FieldUtf8(drive.driveLetter)},
                      {"columns", columns},
                      {"connectionState", drive.connectionState},
                      {"health", drive.health},
                      {"temperature", drive.temperature}});
  }
  if (format == "json") {
    std::printf("%s\n", nlohmann::json{{"drives", drives}}.dump(2).c_str());
    return 0;
  }
  if (rows.empty()) {
    std::printf("no drive with a memory LCD\n");
    return 0;
  }
  std::array<std::string, kuv::kListColumns + 1> header = {"Drive"};
  for (int c = 0; c < kuv::kListColumns; ++c) {
    static constexpr int kHeaderStrings[] = {1505, 1504, 1503, 1502, 1501, 1507};
    header[static_cast<std::size_t>(c + 1)] = kuv::StringUtf8(kHeaderStrings[c], language);
  }
  rows.insert(rows.begin(), header);
  kuv::cli::PrintColumns(rows);
  return 0;
}

kuv::cli::Registrar reg({"scan",
                         "scan [--format json|table] [--register-sata-filter] [--verbose]",
                         {"verbose", "register-sata-filter"},
                         Run});

}  // namespace
