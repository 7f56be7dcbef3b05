#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "tools/kuvlcd/watch_wait.h"

namespace kuv::cli {

WatchWaiter::WatchWaiter() {
  // Signals are read from a descriptor so that a stop waits for the loop like any other event.
  sigset_t stops;
  sigemptyset(&stops);
  sigaddset(&stops, SIGTERM);
  sigaddset(&stops, SIGINT);
  sigprocmask(SIG_BLOCK, &stops, nullptr);
  stop_ = ::signalfd(-1, &stops, SFD_NONBLOCK | SFD_CLOEXEC);
}

WatchWaiter::~WatchWaiter() {
  if (stop_ >= 0) ::close(stop_);
}

bool WatchWaiter::Wait(const WatchSources& sources, int timeoutMs, Woken& woken) {
  std::vector<pollfd> fds;
  fds.push_back({sources.worker, POLLIN, 0});
  fds.push_back({stop_, POLLIN, 0});
  if (sources.devices) fds.push_back({sources.devices->fd(), POLLIN, 0});
  if (sources.sleep) fds.push_back({sources.sleep->fd(), sources.sleep->events(), 0});
  int ready = ::poll(fds.data(), fds.size(), timeoutMs);
  if (ready < 0 && errno != EINTR) return false;
  woken = {};
  if (fds[1].revents & POLLIN) {
    signalfd_siginfo info;
    while (::read(stop_, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
    }
    woken.stop = true;
  }
  woken.scans = (fds[0].revents & POLLIN) != 0;
  return true;
}

}  // namespace kuv::cli
