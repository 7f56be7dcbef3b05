#pragma once
// A flag a worker thread raises to wake an event loop: an eventfd on Linux (the loop polls the
// descriptor), a manual-reset event on Windows (the loop waits on the handle, which the int
// holds: the system keeps handles within 32 bits so that they may be passed that way).

namespace kuv {

// -1 when the system has none to give.
int OpenWakeEvent();
void RaiseWakeEvent(int event);
// Lowers the flag; raised again afterwards, it wakes the loop again.
void ClearWakeEvent(int event);
void CloseWakeEvent(int event);

}  // namespace kuv
