// Simulated parallel port in shared memory; see simport.h for the layout.
#include "simport.h"

static SimPortState* g_state;      // the mapped state of this process
static HANDLE g_initMutex;         // serialises creation and re-initialisation
static SimPortState g_privateState;  // fallback when no mapping can be had

static LONG64 AtomicLoad64(volatile LONG64* p)
{
    return InterlockedCompareExchange64(p, 0, 0);
}

static LONG64 Now()
{
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return t.QuadPart;
}

// Far more writes than any session makes; above it, 2n+2 stamps would overflow.
constexpr LONG64 MAX_WRITES = LONG64(1) << 60;

static bool HeaderOk(const SimPortState* s)
{
    return s->magic == SIMPORT_MAGIC && s->version == SIMPORT_VERSION &&
           s->size == sizeof(SimPortState) && s->capacity == SIMPORT_JOURNAL_CAPACITY;
}

static bool CountersOk(SimPortState* s)
{
    LONG64 w = AtomicLoad64(&s->writes);
    return w >= 0 && w < MAX_WRITES && AtomicLoad64(&s->reads) >= 0;
}

// The reset count after one more repair, wrapping instead of overflowing.
static LONG NextResets(const SimPortState* s)
{
    return static_cast<LONG>((static_cast<uint32_t>(s->resets) + 1) & 0x7FFFFFFF);
}

// Fills a clean state. `resets` survives so that tools can see a repair.
static void Initialise(SimPortState* s, LONG resets)
{
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    s->magic = 0;
    MemoryBarrier();
    ZeroMemory(s->journal, sizeof(s->journal));
    s->version = SIMPORT_VERSION;
    s->size = sizeof(SimPortState);
    s->capacity = SIMPORT_JOURNAL_CAPACITY;
    s->frequency = f.QuadPart;
    s->data = 0;
    s->status = SIMPORT_STATUS_IDLE;
    s->control = 0;
    s->resets = resets;
    InterlockedExchange64(&s->writes, 0);
    InterlockedExchange64(&s->reads, 0);
    InterlockedExchange64(&s->lastReadTicks, 0);
    InterlockedExchange64(&s->lastWriteTicks, 0);
    MemoryBarrier();
    s->magic = SIMPORT_MAGIC;
}

static void Lock()
{
    if (g_initMutex)
        WaitForSingleObject(g_initMutex, 2000);
}

static void Unlock()
{
    if (g_initMutex)
        ReleaseMutex(g_initMutex);
}

static void Repair(SimPortState* s)
{
    Lock();
    if (!HeaderOk(s) || !CountersOk(s))
        Initialise(s, NextResets(s));
    Unlock();
}

SimPortState* SimPortAttach()
{
    if (g_state)
        return g_state;
    g_initMutex = CreateMutexW(nullptr, FALSE, SIMPORT_MUTEX_NAME);
    Lock();
    SimPortState* s = nullptr;
    HANDLE mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                        sizeof(SimPortState), SIMPORT_MAPPING_NAME);
    bool existed = GetLastError() == ERROR_ALREADY_EXISTS;
    if (mapping)
        s = static_cast<SimPortState*>(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0));
    if (!s) {
        s = &g_privateState;
        existed = false;
    }
    if (!existed)
        Initialise(s, 0);
    else if (!HeaderOk(s) || !CountersOk(s))
        Initialise(s, NextResets(s));
    Unlock();
    g_state = s;  // the mapping handle stays open for the life of the process
    return s;
}

bool SimPortValidate(SimPortState* s)
{
    if (HeaderOk(s) && CountersOk(s))
        return true;
    Repair(s);
    return false;
}

int16_t SimPortRead(SimPortState* s, uint16_t port)
{
    SimPortValidate(s);
    InterlockedIncrement64(&s->reads);
    InterlockedExchange64(&s->lastReadTicks, Now());
    switch (port) {
    case SIMPORT_DATA:
        return static_cast<int16_t>(s->data & 0xFF);
    case SIMPORT_STATUS:
        return static_cast<int16_t>(s->status);
    case SIMPORT_CONTROL:
        return static_cast<int16_t>(s->control & 0xFF);
    default:
        return 0xFF;  // nothing decodes the address: the bus floats high
    }
}

void SimPortWriteValue(SimPortState* s, uint16_t port, uint16_t value)
{
    SimPortValidate(s);
    // Claims n with the time read after seeing n-1 claimed, so that ticks never
    // go backwards along the journal however many processes write at once.
    LONG64 n, ticks;
    do {
        n = AtomicLoad64(&s->writes);
        ticks = Now();
    } while (InterlockedCompareExchange64(&s->writes, static_cast<LONG64>(static_cast<uint64_t>(n) + 1), n) != n);
    SimPortEntry* e = &s->journal[static_cast<uint64_t>(n) % SIMPORT_JOURNAL_CAPACITY];
    // Unsigned arithmetic: a count corrupted under us must not overflow.
    LONG64 stamp = static_cast<LONG64>(2 * static_cast<uint64_t>(n) + 1);
    InterlockedExchange64(&e->stamp, stamp);
    e->ticks = ticks;
    e->port = port;
    e->value = value;
    e->reserved = 0;
    InterlockedExchange64(&e->stamp, stamp + 1);
    if (port == SIMPORT_DATA)
        InterlockedExchange(&s->data, value & 0xFF);
    else if (port == SIMPORT_CONTROL)
        InterlockedExchange(&s->control, value & 0xFF);
    InterlockedExchange64(&s->lastWriteTicks, ticks);
}

void SimPortSetStatus(SimPortState* s, int32_t value)
{
    SimPortValidate(s);
    InterlockedExchange(&s->status, value);
}

int64_t SimPortWriteCount(SimPortState* s)
{
    LONG64 w = AtomicLoad64(&s->writes);
    return w < 0 || w >= MAX_WRITES ? 0 : w;
}

// True if some entry after n, up to total, is complete: n is then not just the
// newest write still in progress.
static bool LaterEntryComplete(SimPortState* s, int64_t n, int64_t total)
{
    for (int64_t k = n + 1; k < total; ++k) {
        SimPortEntry* e = &s->journal[static_cast<uint64_t>(k) % SIMPORT_JOURNAL_CAPACITY];
        if (AtomicLoad64(&e->stamp) == 2 * k + 2)
            return true;
    }
    return false;
}

// Waits a little for entry n's writer to finish; false if it never does (a
// writer that died or a torn entry).
static bool WaitForEntry(SimPortState* s, int64_t n)
{
    SimPortEntry* e = &s->journal[static_cast<uint64_t>(n) % SIMPORT_JOURNAL_CAPACITY];
    for (int i = 0; i < 20; ++i) {
        if (AtomicLoad64(&e->stamp) >= 2 * n + 2)
            return true;
        Sleep(1);
    }
    return false;
}

size_t SimPortCopyJournal(SimPortState* s, int64_t from, SimPortWrite* out, size_t max,
                          int64_t* next, int64_t* dropped)
{
    int64_t total = SimPortWriteCount(s);
    int64_t lost = 0;
    if (from < 0)
        from = 0;
    if (from > total)
        from = total;  // the state was re-initialised under the reader
    if (total - from > static_cast<int64_t>(SIMPORT_JOURNAL_CAPACITY)) {
        lost = total - from - SIMPORT_JOURNAL_CAPACITY;
        from += lost;
    }
    size_t copied = 0;
    int64_t n = from;
    while (n < total && copied < max) {
        const SimPortEntry* e = &s->journal[static_cast<uint64_t>(n) % SIMPORT_JOURNAL_CAPACITY];
        LONG64 want = 2 * n + 2;
        LONG64 before = AtomicLoad64(const_cast<volatile LONG64*>(&e->stamp));
        if (before < want) {
            // The newest write still in progress: stop, the reader comes back later.
            if (!LaterEntryComplete(s, n, total))
                break;
            // Later writes are whole: give this one a moment, then skip it as torn.
            if (!WaitForEntry(s, n)) {
                ++lost;
                ++n;
                continue;
            }
            before = AtomicLoad64(const_cast<volatile LONG64*>(&e->stamp));
        }
        SimPortWrite w;
        w.seq = n;
        w.ticks = e->ticks;
        w.port = e->port;
        w.value = e->value;
        MemoryBarrier();
        LONG64 after = AtomicLoad64(const_cast<volatile LONG64*>(&e->stamp));
        if (before != want || after != want) {
            ++lost;  // overwritten by a later write while we looked
        } else {
            out[copied++] = w;
        }
        ++n;
    }
    if (next)
        *next = n;
    if (dropped)
        *dropped = lost;
    return copied;
}
