#include "app/model/sleep_signal.h"

namespace kuv {

// Windows tells of sleep only to windows and services (WM_POWERBROADCAST); kuvlcd watch runs on
// without it and repaints with the next minute refresh.
std::unique_ptr<SleepSignal> OpenLogindSleepSignal(std::string& error) {
  error = "no sleep signal on Windows";
  return nullptr;
}

}  // namespace kuv
