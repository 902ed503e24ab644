// The bridge loop: carries the journal's data writes to a device in order,
// keeps the status register fresh in the shared state, beats, sleeps on the
// doorbell when the program is quiet, and ends when no client is left.
// The device sits behind function pointers so that tests can stand in for it.
#ifndef HELPER_BRIDGE_H
#define HELPER_BRIDGE_H

#include <stdint.h>
#include "portstate.h"

// Timing, in microseconds unless named otherwise. The trade-off: a write
// must reach the device within 100 us, yet the library must almost never
// make a system call and the helper must cost little. So after a write the
// helper stays awake for a short window, looking at the journal every
// BRIDGE_AWAKE_POLL_US with a timed wait (each wake costs it some 15 us of
// processor on a virtual machine): the writes of one K2000 pass, 20 to 90 us
// apart, then need no doorbell, and the library rings about once a pass.
// Quiet, it sleeps on the doorbell, waking only for the status read.
constexpr int BRIDGE_STATUS_PERIOD_US = 1900;    // status read at least this often (limit 2 ms)
constexpr int BRIDGE_AWAKE_POLL_US = 20;         // timed wait between journal looks while awake
constexpr int BRIDGE_AWAKE_WINDOW_US = 400;      // stay awake this long after the last write
constexpr int BRIDGE_CLIENT_CHECK_US = 100000;   // how often client processes are looked at
constexpr int BRIDGE_IDLE_EXIT_US = 2000000;     // end once no client has lived this long
constexpr int BRIDGE_APPLY_BATCH = 16;           // entries applied between two looks at the clock

// Exit codes of the helper.
constexpr int BRIDGE_EXIT_DONE = 0;     // no client left
constexpr int BRIDGE_EXIT_FAILED = 1;   // device fault, written into the state
constexpr int BRIDGE_EXIT_REFUSED = 2;  // bad arguments, files or another helper

struct BridgeDevice {
    void* context;
    int (*writeData)(void* context, uint8_t value);    // 0 or an errno
    int (*readStatus)(void* context, uint8_t* value);  // 0 or an errno
    const char* path;                                  // for messages
    int (*writeControl)(void* context, uint8_t value);  // 0 or an errno; null: control writes passed over
};

constexpr int BRIDGE_EINTR_TRIES = 100;  // an interrupted device call is tried again this often

struct BridgeTiming {
    int64_t statusPeriod;  // in ticks, like the rest
    int64_t awakePoll;
    int64_t awakeWindow;
    int64_t clientCheck;
    int64_t idleExit;
};

// The constants above in ticks; TRAVEK_HELPER_POLL_US and
// TRAVEK_HELPER_WINDOW_US override the awake poll and window (for tuning).
BridgeTiming BridgeDefaultTiming();

// Applies the complete journal entries from `applied` on, at most
// BRIDGE_APPLY_BATCH (the loop beats and reads the status between batches):
// data and control writes go to the device, others are passed over;
// `applied` and `wireWrites` (data writes) advance after each. Writes lost
// to wrap-around or torn entries are reported as a fault (PORT_FAULT_WRITES_LOST,
// naming the cause) and passed over. A device call interrupted by a signal
// (EINTR) is made again. Returns the entries passed (>= 0),
// -1 with *err set when the device failed, or BRIDGE_RETARGETED, applying
// nothing, when the state now asks for another device than this helper's (a
// new session followed at once with another TRAVEK_PORT).
constexpr int64_t BRIDGE_RETARGETED = -2;
int64_t BridgeApply(PortState* s, const BridgeDevice* dev, int* err);

// Records a fault unless it is already the state's current one (a device
// tried again and again says so once); true if recorded. Said on stderr
// and as a desktop notification when new.
bool BridgeRecordFault(PortState* s, PortFaultCode code, const char* text);

// True while the state asks for the device at `path`.
bool BridgeTargetIs(PortState* s, const char* path);

// Reads the status register into the state and beats. 0 or an errno.
int BridgeReadStatus(PortState* s, const BridgeDevice* dev, int64_t now);

// True if `pid` names a live process (not one that ended unreaped).
bool BridgeProcessAlive(int32_t pid);

// True if some client slot names a live process.
bool BridgeClientsAlive(PortState* s);

// True if a helper other than this process holds the state: its pid lives
// and its beat is fresh.
bool BridgeOtherHelper(PortState* s, int64_t now);

// What the helper checks after announcing sleep: `writes` moved since it
// read seenWrites, or a complete entry waits at `applied`. (A writer that saw
// the helper awake did not ring; one that finished its entry after that look
// will find it asleep and ring.)
bool BridgeHasWork(PortState* s, int64_t seenWrites);

// Set from a signal handler: the loop ends as if no client were left.
void BridgeRequestStop();
bool BridgeStopRequested();

// Runs the loop until no client is left (BRIDGE_EXIT_DONE) or the device
// fails (the fault written into the state, HELPER_WAITING, BRIDGE_EXIT_FAILED:
// the caller closes the device and tries it again, see bridge_recover.h).
int BridgeRun(PortState* s, const BridgeDevice* dev, const BridgeTiming* t);

#endif
