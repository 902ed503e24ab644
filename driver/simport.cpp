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

static bool HeaderOk(const SimPortState* s)
{
    return s->magic == SIMPORT_MAGIC && s->version == SIMPORT_VERSION &&
           s->size == sizeof(SimPortState) && s->capacity == SIMPORT_JOURNAL_CAPACITY;
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
    if (!HeaderOk(s) || AtomicLoad64(&s->writes) < 0)
        Initialise(s, s->resets + 1);
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
    else if (!HeaderOk(s) || AtomicLoad64(&s->writes) < 0)
        Initialise(s, s->resets + 1);
    Unlock();
    g_state = s;  // the mapping handle stays open for the life of the process
    return s;
}

bool SimPortValidate(SimPortState* s)
{
    if (HeaderOk(s) && AtomicLoad64(&s->writes) >= 0)
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
    LONG64 ticks = Now();
    LONG64 n = InterlockedIncrement64(&s->writes) - 1;
    SimPortEntry* e = &s->journal[static_cast<uint64_t>(n) % SIMPORT_JOURNAL_CAPACITY];
    InterlockedExchange64(&e->stamp, 2 * n + 1);
    e->ticks = ticks;
    e->port = port;
    e->value = value;
    e->reserved = 0;
    InterlockedExchange64(&e->stamp, 2 * n + 2);
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
    return w < 0 ? 0 : w;
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
        if (before < want)
            break;  // still being written: stop here, the reader comes back later
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
