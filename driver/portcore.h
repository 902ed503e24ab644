// The portable operations on the port's shared state (portstate.h): the same
// code in the Windows library, its tools and the native Linux programs. The
// caller supplies what differs between systems: the clock, a short sleep,
// and the lock around initialisation.
#ifndef PORTCORE_H
#define PORTCORE_H

#include <stddef.h>
#include <stdint.h>
#include "portstate.h"

// Far more writes than any session makes; above it, 2n+2 stamps would overflow.
constexpr int64_t PORTSTATE_MAX_WRITES = int64_t(1) << 60;
constexpr int PORTSTATE_TORN_WAIT_MS = 20;  // how long a reader waits for an unfinished entry

typedef int64_t (*PortClock)();   // the shared clock, in ticks of `frequency`
typedef void (*PortSleep)(int ms);

// One write as a reader copies it out of the journal.
struct JournalWrite {
    int64_t seq;
    int64_t ticks;
    uint16_t port;
    uint16_t value;
};

// Fills a clean state: empty journal, registers at their start values, no
// backend chosen (simulated), no fault, no helper. The client slots are
// kept (a fresh file has none), `resets` is set as given so that tools can
// see a repair. The caller holds the lock.
void PortStateInit(PortState* s, int64_t frequency, int32_t resets);

// Header as this layout expects it.
bool PortStateHeaderOk(const PortState* s);
// `writes` and `reads` not negative, `writes` below PORTSTATE_MAX_WRITES,
// `applied` not beyond `writes`.
bool PortStateCountersOk(PortState* s);
bool PortStateValid(PortState* s);
// Makes a state found invalid valid again (the caller holds the lock),
// counting the repair in `resets`. A state that a live helper serves is
// mended in place (header rewritten, counters back in range, journal and
// target kept); any other is re-initialised. True if it was valid.
bool PortStateRepair(PortState* s, int64_t frequency, bool helperServes);

// Journals one write and updates the register it names; returns its
// sequence number. Lock-free; never waits. The writer of client slot `slot`
// counts itself in clientWriting meanwhile (see portstate.h); -1 for a
// writer without a slot.
int64_t PortStateAppendAs(PortState* s, int slot, uint16_t port, uint16_t value, PortClock clock);
int64_t PortStateAppend(PortState* s, uint16_t port, uint16_t value, PortClock clock);  // slot -1

// Writes journaled so far (the next sequence number); 0 for a corrupt count.
int64_t PortStateWriteCount(PortState* s);

// Copies complete journal entries with sequence numbers from `from` onwards
// into out (at most max). Returns how many were copied; *next receives the
// sequence number to continue from and *dropped how many entries between
// `from` and *next were lost (overwritten by wrap-around, or torn: an entry
// that stays unfinished while later ones are whole, waited for at most
// PORTSTATE_TORN_WAIT_MS with `sleep`).
size_t PortStateCopyJournal(PortState* s, int64_t from, JournalWrite* out, size_t max,
                            int64_t* next, int64_t* dropped, PortSleep sleep);

// The entries a reader passed over, by cause.
struct JournalLosses {
    int64_t overwritten;  // the reader fell a whole journal behind
    int64_t torn;         // left unfinished by a writer that is no longer at work
};
// PortStateCopyJournal with the losses told apart. An unfinished entry
// followed by whole ones is waited for (the reader stops there and comes
// back) while any slot's writer is at work.
size_t PortStateCopyJournalLosses(PortState* s, int64_t from, JournalWrite* out, size_t max, int64_t* next,
                                  JournalLosses* losses, PortSleep sleep);

// A read of a register by a client of the bridge: counted, and its time
// stamped, so that the helper knows the status is wanted.
void PortStateNoteRead(PortState* s, int64_t now);

// Wakes every waiter on a futex word shared between processes (the
// system call differs between a Windows process under Wine and a native one).
typedef void (*PortWake)(uint32_t* word);

// The writer's side of the doorbell (see the bridge in portstate.h): if the
// helper sleeps, moves it to HELPER_AWAKE, bumps `doorbell` and wakes it.
void PortStateRing(PortState* s, PortWake wake);

// A write on a port the helper carries: journaled (PortStateAppendAs), then
// the helper rung if it sleeps. Returns the write's sequence number.
int64_t PortStateWrite(PortState* s, int slot, uint16_t port, uint16_t value, PortClock clock, PortWake wake);

// A helper in this state holds its device and carries the journal to it.
bool PortHelperHoldsPort(uint32_t state);
// A helper in this state beats: starting, holding the port, or waiting to
// try its device again.
bool PortHelperBeats(uint32_t state);

// What a caller knows when it judges whether the helper is alive; the rule
// itself is PortHelperAlive.
struct PortHelperJudge {
    int64_t frequency;  // ticks per second of the caller's clock
    int startingMs;     // how long a beat counts in HELPER_STARTING: HELPER_LOST_MS, or longer for a start under way
    bool untilStopped;  // every state but FAILED, EXITED and REFUSED counts (NONE too), not only the beating ones
    bool aheadCounts;   // a beat stamped ahead of `now` counts (else only 0 <= age < limit)
    bool (*processIs)(int32_t pid, uint32_t identity);  // the helper's process lives; null where it cannot be told
};

// The helper is alive: its state counts (see untilStopped), its last beat
// lies within the limit before `now` (HELPER_LOST_MS, or startingMs while
// starting; see aheadCounts for a beat after it), and, where the caller can
// tell, its process lives with its identity.
bool PortHelperAlive(PortState* s, int64_t now, const PortHelperJudge& judge);

// Records a fault: code, UTF-8 text (cut to fit), time, and one more in
// `faults`. PORT_FAULT_NONE with an empty text clears the current fault
// without counting.
void PortStateFault(PortState* s, PortFaultCode code, const char* text, int64_t ticks);

// Copies `text` into `target` (cut to fit, NUL-terminated).
void PortStateSetTarget(PortState* s, const char* text);

// Takes a free client slot for a process, with its identity (0 unknown);
// returns its index, or -1 when all are taken. A slot already holding the
// same pids is returned again.
int PortStateTakeClient(PortState* s, int32_t unixPid, int32_t windowsPid, int64_t ticks,
                        uint32_t identity = 0);
// Frees a slot taken with PortStateTakeClient (a bad index does nothing);
// a writer count left by a process that died mid-write goes with it.
void PortStateFreeClient(PortState* s, int slot);

// How old the status register's value is, in ms, on a ppdev port when it is
// older than HELPER_LOST_MS (the helper no longer reads it); 0 otherwise.
uint32_t PortStatusAgeMs(PortState* s, int64_t now);
// The same, also published in `statusAge` for every reader of the state.
uint32_t PortStatusAgeUpdate(PortState* s, int64_t now);

#endif
