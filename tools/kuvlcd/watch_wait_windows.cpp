#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdint>

#include "tools/kuvlcd/watch_wait.h"

namespace kuv::cli {
namespace {

// The console's handler runs on a thread of its own; it only raises the event.
std::atomic<HANDLE> stopEvent{nullptr};

BOOL WINAPI OnConsoleEvent(DWORD) {
  if (HANDLE event = stopEvent.load()) SetEvent(event);
  // Handled: the loop ends on its own (for a closing console within the system's grace time).
  return TRUE;
}

HANDLE HandleOf(int event) {
  return reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(event));
}

}  // namespace

WatchWaiter::WatchWaiter() {
  HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  stop_ = static_cast<int>(reinterpret_cast<std::intptr_t>(event));
  stopEvent.store(event);
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

WatchWaiter::~WatchWaiter() {
  SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
  stopEvent.store(nullptr);
  CloseHandle(HandleOf(stop_));
}

bool WatchWaiter::Wait(const WatchSources& sources, int timeoutMs, Woken& woken) {
  DWORD wait = timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs);
  // Sources without a handle are asked by the caller after every wake-up.
  if (sources.devices && sources.devices->fd() < 0) {
    wait = std::min<DWORD>(wait, static_cast<DWORD>(kDeviceChangePoll.count()));
  }
  const HANDLE handles[] = {HandleOf(sources.worker), HandleOf(stop_)};
  const DWORD result = WaitForMultipleObjects(2, handles, FALSE, wait);
  if (result == WAIT_FAILED) return false;
  woken = {};
  woken.scans = WaitForSingleObject(handles[0], 0) == WAIT_OBJECT_0;
  woken.stop = WaitForSingleObject(handles[1], 0) == WAIT_OBJECT_0;
  return true;
}

}  // namespace kuv::cli
