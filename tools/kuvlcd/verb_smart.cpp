// kuvlcd smart: one drive's S.M.A.R.T. attributes, health and temperature as the S.M.A.R.T. page
// shows them, and its power mode, read through the panel service, for scripts and monitoring.

#include <algorithm>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "app/model/headless_session.h"
#include "app/model/smart_page.h"
#include "common/service_client.h"
#include "common/utf16.h"
#include "panelio/power_mode.h"
#include "tools/kuvlcd/cli.h"

namespace {

constexpr std::int32_t kMaxDrive = 31;

int Run(const kuv::cli::Args& args) {
  args.RejectUnknown({"drive", "format", "no-wake"});
  const std::string format = args.GetOr("format", "table");
  if (format != "json" && format != "table") throw kuv::cli::UsageError("--format json|table");
  const auto drive = args.GetInt("drive");
  if (!drive || *drive < 0 || *drive > kMaxDrive) throw kuv::cli::UsageError("--drive 0..31");
  const auto driveNumber = static_cast<std::int32_t>(*drive);
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
  const std::int32_t result = session.model.ReadSmart(0, noWake);
  if (result < 0 || power == -1) {
    std::fprintf(stderr, "kuvlcd smart: the panel service cannot be reached at %s\n",
                 kuv::ServiceSocketPath().c_str());
    return 1;
  }
  const kuv::Language language = kuv::SystemLanguage();
  kuv::SmartPage page(session.model, session.profile, session.hooks, language);
  const kuv::HealthClass health = page.ShowDrive(driveNumber);
  const kuv::SmartPageView& view = page.view();
  const std::int32_t temperature = table.driveRecords[0].temperature;
  std::optional<std::uint8_t> count;
  if (power >= 0 && power <= 0xFF) count = static_cast<std::uint8_t>(power);
  const char* read = result == kuv::kSmartSkippedAsleep ? "skipped: asleep"
                     : result == 1                      ? "read"
                                                        : "no S.M.A.R.T.";
  const std::string mode(kuv::PowerModeName(count));

  if (format == "json") {
    nlohmann::json attributes = nlohmann::json::array();
    for (const kuv::SmartRow& row : view.rows) {
      attributes.push_back({{"id", kuv::Utf16ToUtf8(row.texts[1])},
                            {"name", kuv::Utf16ToUtf8(row.texts[2])},
                            {"current", std::stoi(kuv::Utf16ToUtf8(row.texts[3]))},
                            {"worst", std::stoi(kuv::Utf16ToUtf8(row.texts[4]))},
                            {"threshold", std::stoi(kuv::Utf16ToUtf8(row.texts[5]))},
                            {"raw", kuv::Utf16ToUtf8(row.texts[6])},
                            {"class", static_cast<int>(row.healthClass)}});
    }
    nlohmann::json out = {
        {"driveNumber", driveNumber},
        {"powerMode", mode},
        {"powerModeCount", count ? nlohmann::json(*count) : nlohmann::json(nullptr)},
        {"smart", read},
        {"health", static_cast<int>(health)},
        {"healthText", kuv::Utf16ToUtf8(view.healthText)},
        {"temperature", temperature},
        {"temperatureText", kuv::Utf16ToUtf8(view.temperatureText)},
        {"attributes", attributes}};
    std::printf("%s\n", out.dump(2).c_str());
    return 0;
  }
  std::printf("Drive %d  power mode %s  S.M.A.R.T. %s\n", driveNumber, mode.c_str(), read);
  std::printf("%s: %s  %s: %s\n", kuv::StringUtf8(114, language).c_str(),
              kuv::Utf16ToUtf8(view.healthText).c_str(), kuv::StringUtf8(565, language).c_str(),
              kuv::Utf16ToUtf8(view.temperatureText).c_str());
  if (view.rows.empty()) return 0;
  std::vector<std::array<std::string, 7>> rows;
  std::array<std::string, 7> header;
  for (int c = 0; c < 6; ++c)
    header[static_cast<std::size_t>(c)] = kuv::StringUtf8(558 + c, language);
  header[6] = "Class";
  rows.push_back(header);
  for (const kuv::SmartRow& row : view.rows) {
    std::array<std::string, 7> cells;
    for (std::size_t c = 0; c < 6; ++c) cells[c] = kuv::Utf16ToUtf8(row.texts[c + 1]);
    cells[6] = kuv::StringUtf8(kuv::HealthTextId(row.healthClass), language);
    rows.push_back(cells);
  }
  kuv::cli::PrintColumns(rows);
  return 0;
}

kuv::cli::Registrar reg(
    {"smart", "smart --drive N [--format json|table] [--no-wake]", {"no-wake"}, Run});

}  // namespace
