#include "app/model/service_status.h"

#include "common/utf16.h"

namespace kuv {
namespace {

constexpr int kProgramNameString = 100;
constexpr int kUnreachableString = 4130;
constexpr int kUpdateNotSentString = 4131;
constexpr int kSettingsNotSavedString = 4132;
constexpr int kBackString = 4133;
constexpr int kNotAnsweringString = 4134;

bool TellsOfUpdate(ServiceNotice notice) {
  return notice == ServiceNotice::kUpdateNotSent || notice == ServiceNotice::kSettingsNotSaved;
}

}  // namespace

void ServiceStatus::Follow(bool reachable) {
  if (reachable) {
    if (!reachable_) notice_ = ServiceNotice::kBack;
  } else if (!TellsOfUpdate(notice_)) {
    // What a failed Update LCD did stays in view; it says the service is gone as well.
    notice_ = ServiceNotice::kUnreachable;
  }
  reachable_ = reachable;
}

void ServiceStatus::UpdateFinished(const SaveOutcome& outcome) {
  if (outcome.panelNotUpdated) {
    notice_ = ServiceNotice::kUpdateNotSent;
  } else if (outcome.serviceUnreachable && !outcome.saved) {
    notice_ = ServiceNotice::kSettingsNotSaved;
  } else if (TellsOfUpdate(notice_)) {
    // A later update that went through replaces the report of the one that did not.
    notice_ = reachable_ ? ServiceNotice::kNone : ServiceNotice::kUnreachable;
    return;
  } else {
    return;
  }
  reachable_ = false;
}

void ServiceStatus::MinutePassed() {
  if (notice_ == ServiceNotice::kBack) notice_ = ServiceNotice::kNone;
}

std::u16string ServiceStatusLine(ServiceNotice notice, Language language,
                                 const std::string& socketPath) {
  switch (notice) {
    case ServiceNotice::kNone:
      return {};
    case ServiceNotice::kUnreachable: {
      std::u16string line(String(kUnreachableString, language));
      const std::size_t at = line.find(u"%s");
      if (at != std::u16string::npos) line.replace(at, 2, Utf8ToUtf16(socketPath));
      return line;
    }
    case ServiceNotice::kUpdateNotSent:
      return std::u16string(String(kUpdateNotSentString, language));
    case ServiceNotice::kSettingsNotSaved:
      return std::u16string(String(kSettingsNotSavedString, language));
    case ServiceNotice::kBack:
      return std::u16string(String(kBackString, language));
  }
  return {};
}

std::u16string ServiceTrayTip(ServiceNotice notice, Language language) {
  std::u16string tip(String(kProgramNameString, language));
  if (notice != ServiceNotice::kNone && notice != ServiceNotice::kBack) {
    tip += u"\n";
    tip += String(kNotAnsweringString, language);
  }
  return tip;
}

}  // namespace kuv
