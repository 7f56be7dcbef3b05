// Device changes on Linux: udev's monitor, and inotify on a simulated world's folder.

#include <libudev.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "app/model/device_changes.h"

namespace kuv {
namespace {

class UdevDeviceChanges : public DeviceChangeSource {
 public:
  UdevDeviceChanges(udev* context, udev_monitor* monitor) : udev_(context), monitor_(monitor) {}
  ~UdevDeviceChanges() override {
    udev_monitor_unref(monitor_);
    udev_unref(udev_);
  }
  UdevDeviceChanges(const UdevDeviceChanges&) = delete;
  UdevDeviceChanges& operator=(const UdevDeviceChanges&) = delete;

  int fd() const override { return udev_monitor_get_fd(monitor_); }

  // The monitor's socket does not block: this drains what has arrived.
  bool TakeChanges() override {
    return DrainDeviceEvents([this] {
      errno = 0;
      udev_device* device = udev_monitor_receive_device(monitor_);
      if (!device) return ReceivedEvent{std::nullopt, errno ? errno : EAGAIN};
      DeviceEvent event;
      auto text = [](const char* value) { return value ? std::string(value) : std::string(); };
      event.action = text(udev_device_get_action(device));
      event.subsystem = text(udev_device_get_subsystem(device));
      event.sysname = text(udev_device_get_sysname(device));
      const char* media = udev_device_get_property_value(device, "DISK_MEDIA_CHANGE");
      event.mediaChange = media && std::strcmp(media, "1") == 0;
      udev_device_unref(device);
      return ReceivedEvent{std::move(event), 0};
    });
  }

 private:
  udev* udev_;
  udev_monitor* monitor_;
};

class WorldChanges : public DeviceChangeSource {
 public:
  explicit WorldChanges(int fd) : fd_(fd) {}
  ~WorldChanges() override { ::close(fd_); }
  WorldChanges(const WorldChanges&) = delete;
  WorldChanges& operator=(const WorldChanges&) = delete;

  int fd() const override { return fd_; }

  bool TakeChanges() override {
    bool counted = false;
    alignas(inotify_event) char buffer[4096];
    for (;;) {
      ssize_t n = ::read(fd_, buffer, sizeof buffer);
      if (n <= 0) break;  // EAGAIN: drained
      for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(inotify_event)) <= n;) {
        const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
        if (event->len > 0 && std::strcmp(event->name, "world.json") == 0) counted = true;
        if (event->mask & IN_Q_OVERFLOW) counted = true;
        at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      }
    }
    return counted;
  }

 private:
  int fd_;
};

}  // namespace

std::unique_ptr<DeviceChangeSource> OpenSystemDeviceChanges(std::string& error) {
  udev* context = udev_new();
  if (!context) {
    error = "udev is not available";
    return nullptr;
  }
  udev_monitor* monitor = udev_monitor_new_from_netlink(context, "udev");
  if (!monitor || udev_monitor_filter_add_match_subsystem_devtype(monitor, "block", nullptr) < 0 ||
      udev_monitor_filter_add_match_subsystem_devtype(monitor, "hidraw", nullptr) < 0 ||
      udev_monitor_enable_receiving(monitor) < 0) {
    error = std::string("cannot listen to udev events: ") + std::strerror(errno);
    if (monitor) udev_monitor_unref(monitor);
    udev_unref(context);
    return nullptr;
  }
  return std::make_unique<UdevDeviceChanges>(context, monitor);
}

std::unique_ptr<DeviceChangeSource> OpenWorldChanges(const std::string& worldDir,
                                                     std::string& error) {
  int fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (fd < 0) {
    error = std::string("inotify: ") + std::strerror(errno);
    return nullptr;
  }
  // world.json is replaced by rename or written in place; both end in one of these.
  if (::inotify_add_watch(fd, worldDir.c_str(),
                          IN_CLOSE_WRITE | IN_MOVED_TO | IN_CREATE | IN_DELETE) < 0) {
    error = "cannot watch " + worldDir + ": " + std::strerror(errno);
    ::close(fd);
    return nullptr;
  }
  return std::make_unique<WorldChanges>(fd);
}

}  // namespace kuv
