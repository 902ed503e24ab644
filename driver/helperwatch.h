// The library's watch over the native helper of a ppdev port: starts it,
// notices its loss, starts another after a back-off (never after a refusal
// a restart cannot change), says faults, recoveries and a stale status
// register on the console. Called from the port entries; cheap between
// looks (every HELPER_WATCH_MS at most).
#ifndef HELPERWATCH_H
#define HELPERWATCH_H

#include "sharedport.h"

constexpr int HELPER_WATCH_MS = 50;        // how often calls look at the helper's health
constexpr int HELPER_START_LEASE_MS = 1000;  // a start under way: no other start meanwhile
constexpr int HELPER_BACKOFF_RESET_MS = 5000;  // serving this long brings the back-off to its start

// Begins watching the state for this process and starts the first helper.
void HelperWatchStart(PortState* s);
// Looks at the helper if HELPER_WATCH_MS have passed since the last look.
void HelperWatch(int64_t now);

#endif
