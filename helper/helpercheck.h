// What the helper checks before it serves a state, each refusal written into
// the state with its cause: the state asks for a ppdev device by an absolute
// path, it keeps time on the helper's clock, and no other helper serves it.
#ifndef HELPER_HELPERCHECK_H
#define HELPER_HELPERCHECK_H

#include <stddef.h>
#include <stdint.h>
#include "portstate.h"

constexpr int HELPER_START_SKEW_MS = 30000;  // a library's lease older than this, at our start: another clock
constexpr int HELPER_CLOCK_AHEAD_MS = 50;    // a sample this far in our future: another clock

// False with a French message if the state's clock is not this helper's:
// another frequency, or a sample the library wrote (its lease on the start,
// its last write or read) in the future or, for the lease, too far past.
bool HelperClockAgrees(PortState* s, int64_t now, char* message, size_t size);

// Checks the state and takes it for this process (pid and identity), its
// target copied into `target`. BRIDGE_EXIT_DONE when taken; otherwise the
// refusal is recorded (HELPER_REFUSED, unless another helper serves) and
// its exit code returned.
int HelperTakeState(PortState* s, char* target, size_t size);

// Gives the state back on leaving.
void HelperLeaveState(PortState* s);

#endif
