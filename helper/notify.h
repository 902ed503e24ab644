// A desktop notification of a fault, for a user who started the program
// from the desktop and has no console: sent through the freedesktop
// notification service with notify-send or gdbus, whichever is installed,
// from a detached process. Skipped silently where there is no session bus
// or neither tool; never blocks the caller.
#ifndef HELPER_NOTIFY_H
#define HELPER_NOTIFY_H

#include <stddef.h>
#include "portstate.h"

constexpr char NOTIFY_SUMMARY[] = "Travek : port parallèle";

// Sends the fault's message (which names the device) and its fix.
void NotifyDesktop(PortFaultCode code, const char* text);

// The text as a GVariant string literal ('...' with \ and ' escaped), for
// gdbus; false if it does not fit in out.
bool GVariantString(const char* text, char* out, size_t size);

#endif
