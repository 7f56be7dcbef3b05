#include "app/model/headless_session.h"

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

void TerminalBitmapHooks::ShowMessage(int stringId) {
  ++messages;
  std::fprintf(stderr, "%s\n", StringUtf8(stringId, SystemLanguage()).c_str());
}

HeadlessSession::HeadlessSession(bool verbose)
    : hooks(verbose),
      model(ModelPorts{service, profile, files, system, renderer, hooks, &bitmapPage}),
      bitmapPage(model.table, service, files, renderer, bitmapHooks,
                 BitmapPaths::FromEnvironment()) {}

std::int32_t HeadlessSession::Start() {
  model.LoadSettings();
  model.TakeClockSnapshot();
  std::int32_t count = model.ScanDrives(true);
  model.table.driveCount = count < 0 ? count : model.OccupiedSlots();
  return count;
}

}  // namespace kuv
