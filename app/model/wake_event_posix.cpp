#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>

#include "app/model/wake_event.h"

namespace kuv {

int OpenWakeEvent() {
  return ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
}

void RaiseWakeEvent(int event) {
  std::uint64_t one = 1;
  [[maybe_unused]] ssize_t n = ::write(event, &one, sizeof one);
}

void ClearWakeEvent(int event) {
  std::uint64_t count = 0;
  [[maybe_unused]] ssize_t n = ::read(event, &count, sizeof count);  // EAGAIN: none pending
}

void CloseWakeEvent(int event) {
  ::close(event);
}

}  // namespace kuv
