// The entry point of panelio.dll alone (the static library has none).

#include <windows.h>

#include "panelio/env.h"

// A program that unloads the library while it goes on running gets the handles of the library's
// environment closed: left open, they would keep the disks and the world's files in use (a
// world's folder could not be deleted) for the rest of the process. At process exit nothing is
// released, since other threads were stopped wherever they were.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_DETACH && reserved == nullptr) kuv::ReleaseDefaultEnv();
  return TRUE;
}
