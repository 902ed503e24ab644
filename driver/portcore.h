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
// Re-initialises a state found invalid (the caller holds the lock), counting
// the repair in `resets`. Returns true if the state was valid.
bool PortStateRepair(PortState* s, int64_t frequency);

// Journals one write and updates the register it names; returns its
// sequence number. Lock-free; never waits.
int64_t PortStateAppend(PortState* s, uint16_t port, uint16_t value, PortClock clock);

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

// A read of a register by a client of the bridge: counted, and its time
// stamped, so that the helper knows the status is wanted.
void PortStateNoteRead(PortState* s, int64_t now);

// The writer's side of the doorbell (see the bridge in portstate.h): true if
// the helper slept and this caller moved it to HELPER_AWAKE and bumped
// `doorbell`; the caller must then wake the futex on `doorbell`.
bool PortStateRing(PortState* s);

// Records a fault: code, UTF-8 text (cut to fit), time, and one more in
// `faults`. PORT_FAULT_NONE with an empty text clears the current fault
// without counting.
void PortStateFault(PortState* s, PortFaultCode code, const char* text, int64_t ticks);

// Copies `text` into `target` (cut to fit, NUL-terminated).
void PortStateSetTarget(PortState* s, const char* text);

// Takes a free client slot for a process; returns its index, or -1 when all
// are taken. A slot already holding the same pids is returned again.
int PortStateTakeClient(PortState* s, int32_t unixPid, int32_t windowsPid, int64_t ticks);
// Frees a slot taken with PortStateTakeClient (a bad index does nothing).
void PortStateFreeClient(PortState* s, int slot);

#endif
