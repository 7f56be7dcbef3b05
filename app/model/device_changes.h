#pragma once
// Where the program hears that devices came or went: udev on a real machine, the world file on a
// simulated one. Each source is a file descriptor the event loop watches (a QSocketNotifier in
// the program, poll() in kuvlcd watch) and a non-blocking read of what arrived. Windows has no
// descriptor to give: its sources compare what they see every kDeviceChangePoll.

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace kuv {

class DeviceChangeSource {
 public:
  virtual ~DeviceChangeSource() = default;
  // Becomes readable when something may have changed; stays valid for the source's lifetime. -1
  // for a source the loop must ask every kDeviceChangePoll instead.
  virtual int fd() const = 0;
  // Reads everything pending without blocking; true when at least one of it counts as a change
  // of the devices the program looks at.
  virtual bool TakeChanges() = 0;
};

// How often a loop asks a source without a descriptor; a plugged tray is seen within this.
inline constexpr std::chrono::milliseconds kDeviceChangePoll{2000};

// One udev event as the rule below sees it.
struct DeviceEvent {
  std::string action;        // "add", "remove", "change", "move", ...
  std::string subsystem;     // "block" or "hidraw"
  std::string sysname;       // "sdb", "sdb1", "hidraw3"
  bool mediaChange = false;  // DISK_MEDIA_CHANGE=1: a medium went in or out of the drive
};

// Whether an event should start the device-change delay. A "change" of a disk also follows every
// close of a disk that was open for writing (udev watches for it), which is what the service's
// own requests do; only a real medium change counts among those.
bool CountsAsDeviceChange(const DeviceEvent& event);

// One receive from a udev monitor: an event, or none and the errno of why (EAGAIN: drained).
struct ReceivedEvent {
  std::optional<DeviceEvent> event;
  int error = 0;
};

// Receives until nothing is left; true when at least one event counts, or when events were lost
// because the monitor's receive buffer overflowed (ENOBUFS), since a lost one may have counted.
bool DrainDeviceEvents(const std::function<ReceivedEvent()>& receive);

// The system's source: on Linux a udev monitor on "block" and "hidraw", on Windows the list of
// volumes and disks compared at each poll; null with error set when it cannot be had.
std::unique_ptr<DeviceChangeSource> OpenSystemDeviceChanges(std::string& error);

// Watches a simulated world's world.json (what `kuvlcd sim plug` and `sim unplug` rewrite).
std::unique_ptr<DeviceChangeSource> OpenWorldChanges(const std::string& worldDir,
                                                     std::string& error);

// The source for this process: the simulated world when KUVLCD_SIM_WORLD names one, else the
// system's.
std::unique_ptr<DeviceChangeSource> OpenDeviceChanges(std::string& error);

}  // namespace kuv
