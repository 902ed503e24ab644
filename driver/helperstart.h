// Starting the native helper from the library under Wine: its path beside
// the DLL, and a start that never waits for it. Also its second use: a
// desktop notification of a fault the library found (the helper sends it,
// detached; see helper/notify.h).
#ifndef HELPERSTART_H
#define HELPERSTART_H

#include <windows.h>
#include "portstate.h"

// The helper's path beside this DLL; false if it is not there.
bool HelperPath(wchar_t* out, DWORD size);

// Starts the helper with `args` (already quoted) without waiting for it;
// 0, or the Windows error.
DWORD SpawnHelper(const wchar_t* exe, const wchar_t* args);

// Under Wine, asks the helper to show a desktop notification of this fault
// (UTF-8 text), on a thread of its own; does nothing elsewhere, or if the
// helper is missing.
void NotifyFaultLater(PortFaultCode code, const char* text);

#endif
