// The port's shared state (portstate.h) as Windows processes reach it: the
// port driver library, the tests, the virtual bench and the console tool.
// On Windows it is a named section; under Wine, the state file that native
// Linux programs map too. The simulated port's operations work on it.
#ifndef SIMPORT_H
#define SIMPORT_H

#include <windows.h>
#include <stddef.h>
#include <stdint.h>
#include "portcore.h"

constexpr wchar_t SIMPORT_MAPPING_NAME[] = L"Local\\TravekParallelPort.v2";
constexpr wchar_t SIMPORT_MUTEX_NAME[] = L"Local\\TravekParallelPort.v2.init";

// The names the simulated port's users know the shared layout by.
using SimPortState = PortState;
using SimPortEntry = PortEntry;
using SimPortWrite = JournalWrite;
constexpr uint32_t SIMPORT_MAGIC = PORTSTATE_MAGIC;
constexpr uint32_t SIMPORT_VERSION = PORTSTATE_VERSION;
constexpr uint32_t SIMPORT_JOURNAL_CAPACITY = PORTSTATE_JOURNAL_CAPACITY;
constexpr uint16_t SIMPORT_DATA = PORT_DATA;
constexpr uint16_t SIMPORT_STATUS = PORT_STATUS;
constexpr uint16_t SIMPORT_CONTROL = PORT_CONTROL;
constexpr int32_t SIMPORT_STATUS_IDLE = PORT_STATUS_IDLE;

// Maps the shared state, creating and initialising it if no process has yet
// (under Wine: if no process holding a client slot is alive and no helper
// beats, the session is new and the state starts clean), and re-initialising
// it if it is found corrupt. Takes a client slot for this process. Never
// fails: if the state cannot be had, a private state of this process is used
// and SimPortAttachError says why. Cached per process.
SimPortState* SimPortAttach();

// Why SimPortAttach fell back to a private state (UTF-8), or null.
const char* SimPortAttachError();

// True if the shared state already exists (some process of the session made it).
bool SimPortExists();

// This process's client slot, -1 when none could be had (all taken).
int SimPortClientSlot();

// True while a live native helper serves the state (it beats).
bool SimPortHelperServes(SimPortState* s);

// The Linux path of the state file (UTF-8) under Wine, or null (on Windows,
// or before SimPortAttach).
const char* SimPortFilePath();

// The shared clock (QueryPerformanceCounter).
int64_t SimPortNow();

// The operations of the simulated port, as the library's entries perform them.
int16_t SimPortRead(SimPortState* s, uint16_t port);
void SimPortWriteValue(SimPortState* s, uint16_t port, uint16_t value);

// Counts a read of a real port that returned `value` (the status register's
// value is kept as the last good one).
void SimPortCountRead(SimPortState* s, uint16_t port, int16_t value);

// Sets what the status register reads (a test may set bits 8 to 15 on purpose).
void SimPortSetStatus(SimPortState* s, int32_t value);

// Number of writes journaled so far (the sequence number of the next write).
int64_t SimPortWriteCount(SimPortState* s);

// Copies complete journal entries with sequence numbers from `from` onwards
// into out (at most max); see PortStateCopyJournal.
size_t SimPortCopyJournal(SimPortState* s, int64_t from, SimPortWrite* out, size_t max,
                          int64_t* next, int64_t* dropped);

// Checks the header and counters; a state that fails is re-initialised
// (journal emptied, registers at their start values, `resets` incremented),
// or mended in place while a live helper serves it (see PortStateRepair).
// Returns true if the state was valid.
bool SimPortValidate(SimPortState* s);

#endif
