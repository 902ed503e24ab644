// What the user can do about each fault, and which faults a working helper
// makes void. Portable: the library, the helper and the tools share it.
#ifndef PORTFAULTS_H
#define PORTFAULTS_H

#include "portstate.h"

// The fix to suggest for a fault, in French (UTF-8); "" when the message
// says it all.
const char* PortFaultAdvice(PortFaultCode code);

// True for faults of the device or of the helper that end when a helper
// holds the port and serves it again (the port came back).
bool PortFaultEndsWhenServed(PortFaultCode code);

#endif
