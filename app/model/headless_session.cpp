#include "app/model/headless_session.h"

#include "app/model/panel_paths_file.h"
#include "app/model/user_folders.h"
#include "common/strings.h"

namespace kuv {

bool TerminalHooks::AskRestart() {
  if (!restartAsked_) std::fprintf(out, "%s\n", StringUtf8(3010, SystemLanguage()).c_str());
  restartAsked_ = true;
  return false;
}

bool TerminalHooks::MayRegisterSataFilter() {
  if (!registerSataFilter && !filterHintGiven_) {
    std::fprintf(out,
                 "the SATA filter was not registered; 'kuvlcd scan --register-sata-filter' "
                 "registers it (it takes effect after a restart)\n");
    filterHintGiven_ = true;
  }
  return registerSataFilter;
}

void TerminalHooks::ReportError(int number, const std::string& systemText) {
  char text[256];
  std::snprintf(text, sizeof text, StringUtf8(201, SystemLanguage()).c_str(), number);
  std::fprintf(out, "%s\n%s\n", text, systemText.c_str());
}

void TerminalHooks::Diagnostic(const std::string& line) {
  if (verbose_) std::fputs(line.c_str(), out);
}

void TerminalHooks::PanelNotReached(const DriveRecord& drive, const std::string& why) {
  std::fprintf(stderr, "%s: drive %d: %s\n", prefix.c_str(), drive.driveNumber, why.c_str());
}

void TerminalHooks::PanelReachedAgain(const DriveRecord& drive) {
  std::fprintf(stderr, "%s: drive %d: the panel takes pictures again\n", prefix.c_str(),
               drive.driveNumber);
}

bool TerminalHooks::ReportPanelNotUpdated(const SaveOutcome& outcome) const {
  if (!outcome.panelNotUpdated) return false;
  std::fprintf(stderr,
               "%s: the panel service at %s does not answer; the panel and the settings on the "
               "drive were left as they were\n",
               prefix.c_str(), ServiceSocketPath().c_str());
  return true;
}

void TerminalBitmapHooks::ShowMessage(int stringId) {
  ++messages;
  std::fprintf(stderr, "%s\n", StringUtf8(stringId, SystemLanguage()).c_str());
}

HeadlessSession::HeadlessSession(bool verbose)
    : hooks(verbose),
      model(ModelPorts{service, *profile, files, system, renderer, hooks, &bitmapPage}),
      bitmapPage(model.table, service, files, renderer, bitmapHooks,
                 BitmapPaths::FromEnvironment()) {}

std::int32_t HeadlessSession::Start(std::optional<std::int32_t> onlyDrive) {
  model.LoadSettings();
  model.TakeClockSnapshot();
  // Every kuvlcd process starts with an empty table: the panel paths of the last run's scan make
  // this scan a warm one, as the program's own rescans are.
  std::string error;
  const std::optional<std::string> runtime = UserRuntimeFolder(error);
  const std::string scope = PanelPathsScope();
  std::optional<PanelPaths> earlier;
  if (runtime) earlier = LoadPanelPaths(files, *runtime, scope);
  model.earlierPanelPaths = earlier.value_or(PanelPaths{});
  // Without the last scan's paths a full scan ties every panel first, so that the one drive is
  // never probed against panels other drives own. With them the drives that had a path are asked
  // again, so the list of paths below stays whole.
  if (!earlier) onlyDrive.reset();
  std::int32_t count = model.ScanDrives(true, false, onlyDrive);
  model.table.driveCount = count < 0 ? count : model.OccupiedSlots();
  if (runtime && count >= 0) {
    const PanelPaths found = model.ListedPanelPaths();
    if (found != earlier) SavePanelPaths(files, *runtime, scope, found);
  }
  // From here on the table knows what this run found; a path of the last run whose drive is gone
  // must not be handed to another drive under its number.
  model.earlierPanelPaths = {};
  return count;
}

}  // namespace kuv
