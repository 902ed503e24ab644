// The port's shared state (portstate.h) as Windows processes reach it: the
// port driver library, the tests, the virtual bench and the console tool.
// On Windows it is a named section; under Wine, the state file that native
// Linux programs map too. The simulated port's operations work on it.
#ifndef SHAREDPORT_H
#define SHAREDPORT_H

#include <windows.h>
#include <stddef.h>
#include <stdint.h>
#include "portcore.h"

constexpr wchar_t SHAREDPORT_MAPPING_NAME[] = L"Local\\TravekParallelPort.v2";
constexpr wchar_t SHAREDPORT_MUTEX_NAME[] = L"Local\\TravekParallelPort.v2.init";

// Maps the shared state, creating and initialising it if no process has yet
// (under Wine: if no process holding a client slot is alive and no helper
// beats, the session is new and the state starts clean), and re-initialising
// it if it is found corrupt. Takes a client slot for this process. Never
// fails: if the state cannot be had, a private state of this process is used
// and SharedPortAttachError says why. Cached per process.
PortState* SharedPortAttach();

// Why SharedPortAttach fell back to a private state (UTF-8), or null.
const char* SharedPortAttachError();

// True if the shared state already exists (some process of the session made it).
bool SharedPortExists();

// This process's client slot, -1 when none could be had (all taken).
int SharedPortClientSlot();

// True while a live native helper serves the state (it beats).
bool SharedPortHelperServes(PortState* s);

// The Linux path of the state file (UTF-8) under Wine, or null (on Windows,
// or before SharedPortAttach).
const char* SharedPortFilePath();

// The shared clock (QueryPerformanceCounter), for every Windows program of
// the project.
inline int64_t SharedPortNow()
{
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return t.QuadPart;
}

// The operations of the simulated port, as the library's entries perform them.
int16_t SimPortRead(PortState* s, uint16_t port);
void SimPortWriteValue(PortState* s, uint16_t port, uint16_t value);

// Counts a read of a real port that returned `value` (the status register's
// value is kept as the last good one).
void SharedPortCountRead(PortState* s, uint16_t port, int16_t value);

// Sets what the status register reads (a test may set bits 8 to 15 on purpose).
void SimPortSetStatus(PortState* s, int32_t value);

// Number of writes journaled so far (the sequence number of the next write).
int64_t SharedPortWriteCount(PortState* s);

// Copies complete journal entries with sequence numbers from `from` onwards
// into out (at most max); see PortStateCopyJournal.
size_t SharedPortCopyJournal(PortState* s, int64_t from, JournalWrite* out, size_t max,
                          int64_t* next, int64_t* dropped);

// Checks the header and counters; a state that fails is re-initialised
// (journal emptied, registers at their start values, `resets` incremented),
// or mended in place while a live helper serves it (see PortStateRepair).
// Returns true if the state was valid.
bool SharedPortValidate(PortState* s);

#endif
