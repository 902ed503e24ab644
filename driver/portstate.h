// The port's shared state: what the port driver library keeps about the port
// it drives, real or simulated, for every other process of the session (the
// virtual bench, the console tool, the tests, and on Linux the native helper
// that owns a ppdev device). Portable: no Windows header, so that native Linux
// programs and the Windows library share this one definition.
//
// Layout, version 2. Little-endian, natural alignment, 64-bit fields 8-byte
// aligned, the same in 32-bit and 64-bit processes of either system:
//
//   offset  size  field
//        0     4  magic            PORTSTATE_MAGIC
//        4     4  version          PORTSTATE_VERSION
//        8     4  size             sizeof(PortState)
//       12     4  capacity         PORTSTATE_JOURNAL_CAPACITY
//       16     8  frequency        ticks per second of every tick field (10 MHz under Wine)
//       24     4  data             data register (0x378): low 8 bits of the last write
//       28     4  status           status register (0x379) as last read; 127 at creation
//       32     4  control          control register (0x37A): low 8 bits of the last write
//       36     4  resets           times a corrupt state was found and made clean again
//       40     8  writes           writes ever journaled (the next sequence number)
//       48     8  reads            number of reads
//       56     8  lastReadTicks    clock at the last read
//       64     8  lastWriteTicks   clock at the last write
//       72     4  backend          PortBackendKind in use
//       76     4  base             base address of a chained or direct port
//       80     4  fault            PortFaultCode of the last fault, PORT_FAULT_NONE when well
//       84     4  faults           faults reported so far (tools watch it change)
//       88     8  faultTicks       clock at the last fault
//       96   256  target           what was asked for: device path, library path or "sim"
//      352   256  faultText        the last fault's message, UTF-8, NUL-terminated
//      608     4  helperPid        Linux pid of the native helper, 0 if none
//      612     4  helperState      PortHelperState
//      616     8  helperBeat       clock at the helper's last heartbeat (at least every 100 ms)
//      624     8  applied          journal sequence number of the next write to reach the
//                                  wire: every data write before it has been applied
//      632     8  statusTicks      clock at the helper's last read of the status register
//      640     4  doorbell         futex word: bumped and woken when the helper sleeps
//      644     4  lastSkipLength   entries passed over by the last stale backlog (see below)
//      648     8  wireWrites       data writes the helper has applied to the device
//      656   256  clients          PORTSTATE_CLIENTS slots of PortClient
//      912    64  clientStart      identity of each slot's process (PortProcessIdentity), 0 unknown
//      976    16  clientWriting    per slot: journal entries its process is writing right now
//      992     4  helperStart      identity of helperPid's process
//      996     4  helperStarts     helpers the libraries have started for this state
//     1000     8  unapplied        data writes passed over after a long outage (never on the wire)
//     1008     4  statusAge        ms since the status was read, when older than HELPER_LOST_MS; else 0
//     1012     4  deviceRetries    times the helper tried the device again after a fault
//     1016     8  lastSkipEnd      `applied` after the last stale backlog passed over, 0 if none
//     1024  ...   journal          PORTSTATE_JOURNAL_CAPACITY entries of 24 bytes
//
// Journal: the write with sequence number n (0, 1, 2 ...) lives in entry
// n % capacity. A writer claims n by moving `writes` from n to n+1 with a
// compare-exchange, reading the clock in between (so ticks never decrease
// along the journal), sets the entry's stamp to 2n+1, fills the entry, then
// sets the stamp to 2n+2. A reader copies an entry and accepts it only if the
// stamp reads 2n+2 both before and after the copy. Writers never wait.
//
// Every field that more than one process touches is read and written with
// the atomic helpers below, never plainly.
//
// Where it lives: on Windows, a named section. Under Wine, a file, so that
// native Linux programs map the same memory: PORTSTATE_FILE in the folder
// PORTSTATE_DIR inside $XDG_RUNTIME_DIR, or /dev/shm/travek-UID when that is
// unset. The folder is 0700 and the file 0600, both owned by the user; a file
// or folder with another owner, or open to group or others, is refused.
//
// The bridge to a ppdev device (backend PORT_BACKEND_PPDEV). The library
// journals each write, then rings the helper only if it sleeps:
//   writer: append to the journal; if helperState is HELPER_SLEEPING and a
//           compare-exchange moves it to HELPER_AWAKE, bump `doorbell` and
//           FUTEX_WAKE it (a shared futex on the mapped file).
//   helper: applies every data write from `applied` on to the device, in
//           order, advancing `applied` after each; reads the status register
//           into `status` and `statusTicks` for the readers: the library
//           stamps each read in `reads` and `lastReadTicks`, and the helper
//           reads once per reader period (learnt from those stamps, at most
//           every HELPER_STATUS_MIN_GAP_MS), just before the next read is
//           due; once no read has come for HELPER_READER_GONE_MS, only at
//           its beat; beats in `helperBeat` at every status read and at least
//           every 100 ms; before sleeping reads `doorbell`, stores
//           HELPER_SLEEPING, looks at `writes` once more, then FUTEX_WAITs on
//           `doorbell` until its next status read or beat.
// The library starts the helper (PORTHELPER_NAME, beside the DLL, with the
// state file's Linux path as its one argument) when none beats, and counts a
// helper whose beat is older than HELPER_LOST_MS as lost. It starts another
// after a back-off (HELPER_BACKOFF_FIRST_MS doubling up to
// HELPER_BACKOFF_MAX_MS), counted in `helperStarts`, but never after
// HELPER_REFUSED: the helper refused for a reason a restart cannot change.
// The helper ends by itself once no client slot holds a live process.
//
// Processes are known by pid and identity (their start time, see
// procstat.h), so that a reused pid or a zombie never counts as alive.
//
// Faults of the device (busy, gone, EIO) do not end the helper: it records
// the fault, moves to HELPER_WAITING (still beating), and tries the device
// again after the same back-off, counting each try in `deviceRetries`.
//
// What the wire gets when a helper starts carrying the journal (a new
// helper, or one whose device answers again): if the oldest write not yet
// applied was journaled less than PORT_REPLAY_LIMIT_MS ago, the backlog goes
// out in order, every write once (the write a killed helper had on the wire
// but not counted may come once more, right after itself). If it is older,
// the backlog is stale: the newest data write (and the newest control write,
// if the backlog has one) goes to the wire at once, every data write before
// it stays in the journal unapplied and is added to `unapplied`, and writes
// journaled later go out in order. The last such backlog is the entries
// [lastSkipEnd - lastSkipLength, lastSkipEnd), all passed over but its
// newest data write (and control write), which went to the wire.
#ifndef PORTSTATE_H
#define PORTSTATE_H

#include <stddef.h>
#include <stdint.h>

constexpr uint32_t PORTSTATE_MAGIC = 0x32505354;  // "TSP2"
constexpr uint32_t PORTSTATE_VERSION = 2;
constexpr uint32_t PORTSTATE_JOURNAL_CAPACITY = 65536;
constexpr int PORTSTATE_TEXT = 256;    // bytes of `target` and `faultText`, NUL included
constexpr int PORTSTATE_CLIENTS = 16;  // processes that may use the port at once

// The program's fixed addresses: the first parallel port's registers.
constexpr uint16_t PORT_DATA = 0x378;
constexpr uint16_t PORT_STATUS = 0x379;
constexpr uint16_t PORT_CONTROL = 0x37A;
constexpr int32_t PORT_STATUS_IDLE = 0x7F;  // all inputs released

constexpr char PORTSTATE_DIR[] = "travek";         // folder in the runtime directory
constexpr char PORTSTATE_FILE[] = "port-state.v2";  // the state file in that folder
constexpr char PORTHELPER_NAME[] = "travek-porthelper";  // the native helper, beside the DLL
constexpr char PORT_CONFIG_FILE[] = "travek-port.conf";  // beside the DLL: TRAVEK_PORT=..., TRAVEK_PORT_BASE=...
constexpr int HELPER_STATUS_MIN_GAP_MS = 2;  // the helper reads the status at most this often
constexpr int HELPER_READER_GONE_MS = 1000;  // and only at its beat after this long without a read
constexpr int HELPER_LOST_MS = 250;         // a helper silent this long is taken for dead
constexpr int HELPER_BACKOFF_FIRST_MS = 100;  // first wait before starting or trying again
constexpr int HELPER_BACKOFF_MAX_MS = 3200;   // the wait doubles up to this
constexpr int PORT_REPLAY_LIMIT_MS = 3000;    // an older backlog is not replayed (see above)

enum PortBackendKind : uint32_t {
    PORT_BACKEND_SIMULATED = 0,
    PORT_BACKEND_PPDEV = 1,    // a Linux ppdev device through the native helper
    PORT_BACKEND_CHAINED = 2,  // another port library, called by ordinal
    PORT_BACKEND_DIRECT = 3,   // the processor's I/O instructions
};

enum PortFaultCode : uint32_t {
    PORT_FAULT_NONE = 0,
    PORT_FAULT_CONFIG,          // TRAVEK_PORT, TRAVEK_PORT_BASE or the file beside the DLL
    PORT_FAULT_NO_DEVICE,       // ENOENT, ENODEV, ENXIO
    PORT_FAULT_PERMISSION,      // EACCES, EPERM
    PORT_FAULT_BUSY,            // PPCLAIM did not return within about 2 s
    PORT_FAULT_NOT_PARPORT,     // ENOTTY: no parallel port registers (a USB cable)
    PORT_FAULT_DEVICE_LOST,     // the device failed or vanished mid-session
    PORT_FAULT_HELPER_START,    // the native helper could not be started
    PORT_FAULT_HELPER_LOST,     // the native helper stopped beating
    PORT_FAULT_BRIDGE_FILES,    // the shared files have a wrong owner or mode
    PORT_FAULT_LIBRARY_LOAD,    // a chained library that cannot be loaded
    PORT_FAULT_ORDINAL,         // a chained library without ordinal 1 or 2
    PORT_FAULT_LOOP,            // the chained library is this library again
    PORT_FAULT_DIRECT_REFUSED,  // the I/O instructions are not permitted
    PORT_FAULT_HELPER_REFUSED,  // the helper refused the state (no ppdev target, not absolute)
    PORT_FAULT_CLOCK,           // the helper's clock is not the state's
    PORT_FAULT_CLIENTS_FULL,    // no free client slot for this process
    PORT_FAULT_WRITES_LOST,     // journaled writes that never reached the wire
    PORT_FAULT_HELPER_DUPLICATE,  // a second helper found the port served by another
};

enum PortHelperState : uint32_t {
    HELPER_NONE = 0,      // never started for this state
    HELPER_STARTING = 1,  // started, not yet holding the port
    HELPER_AWAKE = 2,     // watching the journal: writers need not ring
    HELPER_SLEEPING = 3,  // waiting on `doorbell`: the next writer bumps and wakes it
    HELPER_FAILED = 4,    // stopped on a fault; `fault` says why; the library starts another
    HELPER_EXITED = 5,    // ended because no process used the port any more
    HELPER_WAITING = 6,   // the device failed: beating, trying it again after a back-off
    HELPER_REFUSED = 7,   // refused for a reason a restart cannot change; `fault` says why
};

struct PortEntry {
    int64_t stamp;  // 2n+1 while being written, 2n+2 once complete
    int64_t ticks;  // the clock at the write
    uint16_t port;
    uint16_t value;  // the full 16-bit value written
    uint32_t reserved;
};

// A process that has the state mapped. Slots whose pid is 0 are free.
struct PortClient {
    int32_t unixPid;    // Linux pid (under Wine the process's own), 0 on Windows
    int32_t windowsPid;
    int64_t since;      // clock when the slot was taken
};

struct PortState {
    uint32_t magic;
    uint32_t version;
    uint32_t size;
    uint32_t capacity;
    int64_t frequency;
    int32_t data;
    int32_t status;
    int32_t control;
    int32_t resets;
    int64_t writes;
    int64_t reads;
    int64_t lastReadTicks;
    int64_t lastWriteTicks;
    uint32_t backend;
    uint32_t base;
    uint32_t fault;
    uint32_t faults;
    int64_t faultTicks;
    char target[PORTSTATE_TEXT];
    char faultText[PORTSTATE_TEXT];
    int32_t helperPid;
    uint32_t helperState;
    int64_t helperBeat;
    int64_t applied;
    int64_t statusTicks;
    uint32_t doorbell;
    uint32_t lastSkipLength;
    int64_t wireWrites;
    PortClient clients[PORTSTATE_CLIENTS];
    uint32_t clientStart[PORTSTATE_CLIENTS];
    uint8_t clientWriting[PORTSTATE_CLIENTS];
    uint32_t helperStart;
    uint32_t helperStarts;
    int64_t unapplied;
    uint32_t statusAge;
    uint32_t deviceRetries;
    int64_t lastSkipEnd;
    PortEntry journal[PORTSTATE_JOURNAL_CAPACITY];
};

static_assert(sizeof(PortEntry) == 24, "journal entry layout");
static_assert(sizeof(PortClient) == 16, "client slot layout");
static_assert(offsetof(PortState, backend) == 72, "v2 fields follow the v1 header");
static_assert(offsetof(PortState, helperPid) == 608, "helper fields");
static_assert(offsetof(PortState, clients) == 656, "client slots");
static_assert(offsetof(PortState, clientStart) == 912, "client identities");
static_assert(offsetof(PortState, unapplied) == 1000, "recovery fields");
static_assert(offsetof(PortState, journal) == 1024, "journal offset");

// Sequentially consistent access to shared fields.
template <typename T> inline T AtomicLoad(const T* p) { return __atomic_load_n(p, __ATOMIC_SEQ_CST); }
template <typename T> inline void AtomicStore(T* p, T v) { __atomic_store_n(p, v, __ATOMIC_SEQ_CST); }
template <typename T> inline T AtomicExchange(T* p, T v) { return __atomic_exchange_n(p, v, __ATOMIC_SEQ_CST); }
template <typename T> inline T AtomicAdd(T* p, T v) { return __atomic_add_fetch(p, v, __ATOMIC_SEQ_CST); }
template <typename T> inline bool AtomicCas(T* p, T expected, T desired)
{
    return __atomic_compare_exchange_n(p, &expected, desired, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST);
}

#endif
