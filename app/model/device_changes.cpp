#include "app/model/device_changes.h"

#include <cerrno>
#include <cstdlib>

namespace kuv {
namespace {

bool StartsWith(const std::string& text, const char* prefix) {
  return text.rfind(prefix, 0) == 0;
}

}  // namespace

bool DrainDeviceEvents(const std::function<ReceivedEvent()>& receive) {
  bool counted = false;
  for (;;) {
    ReceivedEvent received = receive();
    if (received.event) {
      counted = CountsAsDeviceChange(*received.event) || counted;
      continue;
    }
    // The kernel dropped events it could not queue; the socket goes on with the ones after.
    if (received.error == ENOBUFS) {
      counted = true;
      continue;
    }
    if (received.error == EINTR) continue;
    return counted;
  }
}

bool CountsAsDeviceChange(const DeviceEvent& event) {
  if (event.subsystem == "hidraw") return event.action != "change";
  if (event.subsystem != "block") return false;
  // Drive numbers name sd disks; loop, ram and device-mapper nodes come and go on their own.
  if (!StartsWith(event.sysname, "sd")) return false;
  if (event.action == "change") return event.mediaChange;
  return event.action == "add" || event.action == "remove" || event.action == "move";
}

std::unique_ptr<DeviceChangeSource> OpenDeviceChanges(std::string& error) {
  const char* world = std::getenv("KUVLCD_SIM_WORLD");
  if (world && *world) return OpenWorldChanges(world, error);
  return OpenSystemDeviceChanges(error);
}

}  // namespace kuv
