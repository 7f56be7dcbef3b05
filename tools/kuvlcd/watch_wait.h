#pragma once
// How kuvlcd watch waits for its events on this platform: poll() on descriptors on Linux,
// WaitForMultipleObjects on Windows, where device changes are polled.

#include "app/model/device_changes.h"
#include "app/model/sleep_signal.h"

namespace kuv::cli {

struct WatchSources {
  int worker = -1;  // the scan worker's wake event
  DeviceChangeSource* devices = nullptr;
  SleepSignal* sleep = nullptr;
};

struct Woken {
  bool stop = false;   // SIGTERM or SIGINT; Ctrl-C, Ctrl-Break or the console closing on Windows
  bool scans = false;  // the worker has finished scans
};

class WatchWaiter {
 public:
  // Takes the stop requests over from their default handling, which would end the process at once.
  WatchWaiter();
  ~WatchWaiter();
  WatchWaiter(const WatchWaiter&) = delete;
  WatchWaiter& operator=(const WatchWaiter&) = delete;

  // Waits until a source has something or timeoutMs passed (-1: no limit); the caller then asks
  // the devices and the sleep signal themselves. False when the wait itself failed.
  bool Wait(const WatchSources& sources, int timeoutMs, Woken& woken);

 private:
  int stop_ = -1;
};

}  // namespace kuv::cli
