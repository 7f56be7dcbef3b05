#pragma once
// What the window says about the panel service: nothing while it answers; a notice while it does
// not, or what that did to an Update LCD; and a line when it answers again, until the next minute.

#include <string>

#include "app/model/lcd_model.h"
#include "common/strings.h"

namespace kuv {

enum class ServiceNotice {
  kNone,
  kUnreachable,       // the service stopped answering; it is asked again every minute
  kUpdateNotSent,     // Update LCD could not reach the panel, and saved nothing
  kSettingsNotSaved,  // Update LCD wrote the panel, but could not make its folder on the drive
  kBack,              // the service answers again
};

class ServiceStatus {
 public:
  // The service was found answering, or not.
  void Follow(bool reachable);
  // What an Update LCD came to.
  void UpdateFinished(const SaveOutcome& outcome);
  // A minute has passed: the line saying the service is back has been there long enough.
  void MinutePassed();

  ServiceNotice notice() const { return notice_; }

 private:
  ServiceNotice notice_ = ServiceNotice::kNone;
  bool reachable_ = true;
};

// The window's status line for the notice, empty for none; socketPath names the service.
std::u16string ServiceStatusLine(ServiceNotice notice, Language language,
                                 const std::string& socketPath);
// The tray icon's tooltip: the program's name, and under it that the service does not answer.
std::u16string ServiceTrayTip(ServiceNotice notice, Language language);

}  // namespace kuv
