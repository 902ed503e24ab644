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
// make a system call (a doorbell rung while the helper sleeps costs the
// program 5 to 30 us on a loaded machine) and the helper must cost little
// (each wake costs it some 15 us of processor on a virtual machine, a timed
// wait of 20 us often lasts 60). So after a write the helper looks at the
// journal again at once (the value that follows a 0 is usually there
// already), then stays awake for a window a little longer than the gap
// between two writes of a K2000 pass (100 to 150 us), looking every
// BRIDGE_AWAKE_POLL_US with a timed wait: the writes of one pass then need no
// doorbell, and the library rings about once a pass. Quiet, it sleeps on the
// doorbell, waking only to read the status for a reader, or to look at the
// clients.
//
// The status register is read for the library's readers, not on a clock of
// its own: once per reader period, BRIDGE_STATUS_LEAD_US before the next read
// is due, so that a poll finds a value read just before it. The period is
// learnt from the reads the library stamps in the state; with no read for
// BRIDGE_READER_GONE_US the register is read only at the beat.
constexpr int BRIDGE_STATUS_MIN_GAP_US = HELPER_STATUS_MIN_GAP_MS * 1000;  // never two status reads closer
constexpr int BRIDGE_STATUS_LEAD_US = 5000;       // read this long before the reader's next read
constexpr int BRIDGE_READER_PERIOD_US = 10000;    // a reader's period until learnt: the program's poll
constexpr int BRIDGE_READER_GONE_US = HELPER_READER_GONE_MS * 1000;  // no read this long: read at the beat
constexpr int BRIDGE_AWAKE_POLL_US = 50;          // timed wait between journal looks while awake
constexpr int BRIDGE_AWAKE_WINDOW_US = 150;       // stay awake this long after the last write
constexpr int BRIDGE_CLIENT_CHECK_US = 100000;    // how often client processes are looked at (and a beat)
constexpr int BRIDGE_IDLE_EXIT_US = 2000000;      // end once no client has lived this long
constexpr int BRIDGE_APPLY_BATCH = 16;            // entries applied between two looks at the clock
constexpr int64_t BRIDGE_NEVER = INT64_MAX;       // a time that never comes

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
    int64_t statusMinGap;  // in ticks, like the rest
    int64_t statusLead;
    int64_t readerPeriod;  // the first guess of a reader's period
    int64_t readerGone;
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

// What the helper has seen of the library's reads (the `reads` count and
// `lastReadTicks` it stamps), and the period it learnt from them.
struct BridgeReader {
    int64_t reads;
    int64_t lastRead;
    int64_t period;  // ticks between two reads, within [statusMinGap, clientCheck]
    int64_t grid;    // when the last read fell due: lastRead less how late it came
};

// Takes in the reads stamped since the last look.
void BridgeWatchReader(BridgeReader* r, PortState* s, const BridgeTiming* t);

// When the status register is next to be read, given the helper's last read
// of it: statusLead before the reader's next read that it has not read for,
// never within statusMinGap of the last, at most two reader periods after
// it; BRIDGE_NEVER when no one has read for readerGone (the loop then reads
// at its beat).
int64_t BridgeNextStatusRead(const BridgeReader* r, int64_t lastStatus, int64_t now, const BridgeTiming* t);

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
