// Simulated first parallel port: the state that the port driver library keeps
// in named shared memory, so that other processes of the session (tests, the
// virtual bench, the console tool) can read the data lines, set the status
// register and follow every access while the program runs.
//
// Layout, version 1. All fields little-endian, natural alignment, the same on
// 32-bit and 64-bit processes:
//
//   offset  size  field
//        0     4  magic            SIMPORT_MAGIC
//        4     4  version          SIMPORT_VERSION
//        8     4  size             sizeof(SimPortState)
//       12     4  capacity         SIMPORT_JOURNAL_CAPACITY
//       16     8  frequency        QueryPerformanceFrequency of the creator
//       24     4  data             data register (0x378): low 8 bits of the last write
//       28     4  status           status register (0x379) as read; 127 at creation
//       32     4  control          control register (0x37A): low 8 bits of the last write
//       36     4  resets           times a corrupt state was found and made clean again
//       40     8  writes           number of writes ever journaled (the next sequence number)
//       48     8  reads            number of reads
//       56     8  lastReadTicks    QueryPerformanceCounter of the last read
//       64     8  lastWriteTicks   QueryPerformanceCounter of the last write
//       72  ...   journal          SIMPORT_JOURNAL_CAPACITY entries of 24 bytes
//
// Journal: the write with sequence number n (0, 1, 2 ...) lives in entry
// n % capacity. A writer claims n by moving `writes` from n to n+1 with a
// compare-exchange, reading the clock in between (so ticks never decrease
// along the journal), sets the entry's stamp to 2n+1, fills the entry, then
// sets the stamp to 2n+2. A reader copies an entry and accepts it only if the
// stamp reads 2n+2 both before and after the copy; an entry with a later stamp
// was overwritten (dropped); one with an earlier stamp is still being written,
// unless later entries are whole and it stays so for a moment: then it is torn
// (its writer died, or another process scribbled on it) and is skipped as
// dropped. Writers never wait for readers.
#ifndef SIMPORT_H
#define SIMPORT_H

#include <windows.h>
#include <stddef.h>
#include <stdint.h>

constexpr wchar_t SIMPORT_MAPPING_NAME[] = L"Local\\TravekSimulatedParallelPort.v1";
constexpr wchar_t SIMPORT_MUTEX_NAME[] = L"Local\\TravekSimulatedParallelPort.v1.init";
constexpr uint32_t SIMPORT_MAGIC = 0x31505354;  // "TSP1"
constexpr uint32_t SIMPORT_VERSION = 1;
constexpr uint32_t SIMPORT_JOURNAL_CAPACITY = 65536;

constexpr uint16_t SIMPORT_DATA = 0x378;
constexpr uint16_t SIMPORT_STATUS = 0x379;
constexpr uint16_t SIMPORT_CONTROL = 0x37A;
constexpr int32_t SIMPORT_STATUS_IDLE = 0x7F;

struct SimPortEntry {
    volatile LONG64 stamp;  // 2n+1 while being written, 2n+2 once complete
    LONG64 ticks;           // QueryPerformanceCounter at the write
    uint16_t port;
    uint16_t value;         // the full 16-bit value written
    uint32_t reserved;
};

struct SimPortState {
    uint32_t magic;
    uint32_t version;
    uint32_t size;
    uint32_t capacity;
    LONG64 frequency;
    volatile LONG data;
    volatile LONG status;
    volatile LONG control;
    volatile LONG resets;
    volatile LONG64 writes;
    volatile LONG64 reads;
    volatile LONG64 lastReadTicks;
    volatile LONG64 lastWriteTicks;
    SimPortEntry journal[SIMPORT_JOURNAL_CAPACITY];
};

static_assert(sizeof(SimPortEntry) == 24, "journal entry layout");
static_assert(offsetof(SimPortState, journal) == 72, "state header layout");

// One write as a reader copies it out of the journal.
struct SimPortWrite {
    int64_t seq;
    int64_t ticks;
    uint16_t port;
    uint16_t value;
};

// Maps the shared state, creating and initialising it if no process has yet,
// and re-initialising it if it is found corrupt. Never fails: if the mapping
// cannot be had, a private state of this process is used. Cached per process.
SimPortState* SimPortAttach();

// The operations of the simulated port, as the library's entries perform them.
int16_t SimPortRead(SimPortState* s, uint16_t port);
void SimPortWriteValue(SimPortState* s, uint16_t port, uint16_t value);

// Sets what the status register reads (a test may set bits 8 to 15 on purpose).
void SimPortSetStatus(SimPortState* s, int32_t value);

// Number of writes journaled so far (the sequence number of the next write).
int64_t SimPortWriteCount(SimPortState* s);

// Copies complete journal entries with sequence numbers from `from` onwards
// into out (at most max). Returns how many were copied; *next receives the
// sequence number to continue from and *dropped how many entries between
// `from` and *next were lost to wrap-around.
size_t SimPortCopyJournal(SimPortState* s, int64_t from, SimPortWrite* out, size_t max,
                          int64_t* next, int64_t* dropped);

// Checks the header and counters (`writes` and `reads` not negative, `writes`
// below 2^60); a state that fails is re-initialised
// (journal emptied, registers at their start values, `resets` incremented).
// Returns true if the state was valid.
bool SimPortValidate(SimPortState* s);

#endif
