// The helper's life on its device across faults: open and claim it, carry
// the journal, and when the device fails (busy at start, gone, EIO) record
// the fault once, wait with a back-off while beating, and try again, so that
// the port resumes by itself once the device answers. What the wire gets on
// resuming is the rule written in portstate.h (PORT_REPLAY_LIMIT_MS).
#ifndef HELPER_BRIDGE_RECOVER_H
#define HELPER_BRIDGE_RECOVER_H

#include "bridge.h"
#include "ppdev.h"

// How the device is reached; tests stand in for it.
struct BridgeOpener {
    void* context;
    // Opens and claims the device: true with `device` ready, or false with
    // *fault set.
    bool (*open)(void* context, PortState* s, PpdevFault* fault);
    void (*close)(void* context);
    BridgeDevice device;
};

struct BridgeRecovery {
    int64_t replayLimit;  // ticks: an older backlog is not replayed (PORT_REPLAY_LIMIT_MS)
    int firstBackoffMs;   // HELPER_BACKOFF_FIRST_MS, doubling up to maxBackoffMs
    int maxBackoffMs;
};

BridgeRecovery BridgeDefaultRecovery();

// Applies the rule for a backlog when carrying starts: if the oldest write
// not applied was journaled more than replayLimit before `now`, puts the
// newest data (and control) value on the wire and passes over the rest,
// counting the data writes passed over in `unapplied`. Returns the writes
// passed over (0 when the backlog is fresh and goes out in order), or -1
// with *err when the device failed.
int64_t BridgeSkipStaleBacklog(PortState* s, const BridgeDevice* dev, int64_t now, int64_t replayLimit, int* err);

// Serves the device until no client is left (BRIDGE_EXIT_DONE) or until
// the first open meets a fault that a new try cannot change (the user not in
// the lp group, a file that is no parallel port): then HELPER_REFUSED and
// BRIDGE_EXIT_FAILED. Other faults are tried again, counted in
// `deviceRetries`.
int BridgeServe(PortState* s, BridgeOpener* o, const BridgeTiming* t, const BridgeRecovery* r);

#endif
