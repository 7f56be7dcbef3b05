#include "app/model/sleep_signal.h"

#include <poll.h>
#include <systemd/sd-bus.h>

#include <cstring>
#include <utility>

namespace kuv {
namespace {

class LogindSleepSignal : public SleepSignal {
 public:
  explicit LogindSleepSignal(sd_bus* bus) : bus_(bus) {}
  ~LogindSleepSignal() override {
    sd_bus_slot_unref(slot_);
    sd_bus_flush_close_unref(bus_);
  }
  LogindSleepSignal(const LogindSleepSignal&) = delete;
  LogindSleepSignal& operator=(const LogindSleepSignal&) = delete;

  int Subscribe() {
    return sd_bus_match_signal(bus_, &slot_, "org.freedesktop.login1", "/org/freedesktop/login1",
                               "org.freedesktop.login1.Manager", "PrepareForSleep", &OnSignal,
                               this);
  }

  int fd() const override { return sd_bus_get_fd(bus_); }
  short events() const override {
    int e = sd_bus_get_events(bus_);
    return static_cast<short>(e < 0 ? POLLIN : e);
  }

  std::vector<SleepEvent> Take() override {
    while (sd_bus_process(bus_, nullptr) > 0) {
    }
    return std::exchange(pending_, {});
  }

 private:
  static int OnSignal(sd_bus_message* message, void* self, sd_bus_error*) {
    int start = 0;
    if (sd_bus_message_read(message, "b", &start) < 0) return 0;
    static_cast<LogindSleepSignal*>(self)->pending_.push_back(start ? SleepEvent::kGoingToSleep
                                                                    : SleepEvent::kResumed);
    return 0;
  }

  sd_bus* bus_;
  sd_bus_slot* slot_ = nullptr;
  std::vector<SleepEvent> pending_;
};

}  // namespace

std::unique_ptr<SleepSignal> OpenLogindSleepSignal(std::string& error) {
  sd_bus* bus = nullptr;
  int r = sd_bus_open_system(&bus);
  if (r < 0) {
    error = std::string("no system bus: ") + std::strerror(-r);
    return nullptr;
  }
  auto signal = std::make_unique<LogindSleepSignal>(bus);
  r = signal->Subscribe();
  if (r < 0) {
    error = std::string("cannot listen to logind: ") + std::strerror(-r);
    return nullptr;
  }
  return signal;
}

}  // namespace kuv
