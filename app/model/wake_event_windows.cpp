#include <windows.h>

#include <cstdint>

#include "app/model/wake_event.h"

namespace kuv {
namespace {

HANDLE HandleOf(int event) {
  return reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(event));
}

}  // namespace

int OpenWakeEvent() {
  HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  return event ? static_cast<int>(reinterpret_cast<std::intptr_t>(event)) : -1;
}

void RaiseWakeEvent(int event) {
  SetEvent(HandleOf(event));
}

void ClearWakeEvent(int event) {
  ResetEvent(HandleOf(event));
}

void CloseWakeEvent(int event) {
  CloseHandle(HandleOf(event));
}

}  // namespace kuv
