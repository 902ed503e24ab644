// The portable operations on the port's shared state; see portcore.h.
#include "portcore.h"
#include <string.h>

bool PortStateHeaderOk(const PortState* s)
{
    return AtomicLoad(&s->magic) == PORTSTATE_MAGIC && AtomicLoad(&s->version) == PORTSTATE_VERSION &&
           AtomicLoad(&s->size) == sizeof(PortState) &&
           AtomicLoad(&s->capacity) == PORTSTATE_JOURNAL_CAPACITY && AtomicLoad(&s->frequency) > 0;
}

bool PortStateCountersOk(PortState* s)
{
    // `applied` first: both only grow and applied <= writes at every instant,
    // so `writes` read afterwards is at least the `applied` read before. The
    // other order sees a healthy state as corrupt when the helper advances
    // `applied` in between.
    int64_t a = AtomicLoad(&s->applied);
    int64_t w = AtomicLoad(&s->writes);
    return w >= 0 && w < PORTSTATE_MAX_WRITES && AtomicLoad(&s->reads) >= 0 && a >= 0 && a <= w;
}

bool PortStateValid(PortState* s)
{
    return PortStateHeaderOk(s) && PortStateCountersOk(s);
}

// The reset count after one more repair, wrapping instead of overflowing.
static int32_t NextResets(const PortState* s)
{
    return static_cast<int32_t>((static_cast<uint32_t>(s->resets) + 1) & 0x7FFFFFFF);
}

// The header as this layout has it.
static void StoreHeader(PortState* s, int64_t frequency)
{
    AtomicStore(&s->version, PORTSTATE_VERSION);
    AtomicStore(&s->size, uint32_t(sizeof(PortState)));
    AtomicStore(&s->capacity, PORTSTATE_JOURNAL_CAPACITY);
    AtomicStore(&s->frequency, frequency);
}

void PortStateInit(PortState* s, int64_t frequency, int32_t resets)
{
    AtomicStore(&s->magic, uint32_t(0));
    // Everything but the magic and the client slots (with their identities
    // and writers), journal included, starts at zero: the processes that
    // hold slots keep them. No helper may be reading (see PortStateRepair).
    char* bytes = reinterpret_cast<char*>(s);
    size_t clients = offsetof(PortState, clients);
    size_t afterClients = offsetof(PortState, helperStart);
    memset(bytes + sizeof(s->magic), 0, clients - sizeof(s->magic));
    memset(bytes + afterClients, 0, sizeof(PortState) - afterClients);
    __atomic_thread_fence(__ATOMIC_SEQ_CST);
    StoreHeader(s, frequency);
    AtomicStore(&s->status, PORT_STATUS_IDLE);
    AtomicStore(&s->resets, resets);
    AtomicStore(&s->backend, uint32_t(PORT_BACKEND_SIMULATED));
    PortStateSetTarget(s, "sim");
    __atomic_thread_fence(__ATOMIC_SEQ_CST);
    AtomicStore(&s->magic, PORTSTATE_MAGIC);
}

// Makes a state that a live helper serves valid again without clearing it:
// the header rewritten, the counters brought back into range; the journal,
// the target, the backend and the helper's fields are kept.
static void Mend(PortState* s, int64_t frequency)
{
    StoreHeader(s, frequency);
    int64_t a = AtomicLoad(&s->applied);
    int64_t w = AtomicLoad(&s->writes);
    if (w < 0 || w >= PORTSTATE_MAX_WRITES)
        AtomicStore(&s->writes, w = (a >= 0 && a < PORTSTATE_MAX_WRITES ? a : 0));
    if (a < 0 || a > w)
        AtomicStore(&s->applied, w);
    if (AtomicLoad(&s->reads) < 0)
        AtomicStore(&s->reads, int64_t(0));
    AtomicStore(&s->resets, NextResets(s));
    AtomicStore(&s->magic, PORTSTATE_MAGIC);
}

bool PortStateRepair(PortState* s, int64_t frequency, bool helperServes)
{
    if (PortStateValid(s))
        return true;
    if (helperServes)
        Mend(s, frequency);
    else
        PortStateInit(s, frequency, NextResets(s));
    return false;
}

int64_t PortStateAppend(PortState* s, uint16_t port, uint16_t value, PortClock clock)
{
    return PortStateAppendAs(s, -1, port, value, clock);
}

int64_t PortStateAppendAs(PortState* s, int slot, uint16_t port, uint16_t value, PortClock clock)
{
    bool counted = slot >= 0 && slot < PORTSTATE_CLIENTS;
    if (counted)
        AtomicAdd(&s->clientWriting[slot], uint8_t(1));
    // Claims n with the time read after seeing n-1 claimed, so that ticks never
    // go backwards along the journal however many processes write at once.
    int64_t n, ticks;
    do {
        n = AtomicLoad(&s->writes);
        ticks = clock();
    } while (!AtomicCas(&s->writes, n, static_cast<int64_t>(static_cast<uint64_t>(n) + 1)));
    PortEntry* e = &s->journal[static_cast<uint64_t>(n) % PORTSTATE_JOURNAL_CAPACITY];
    // Unsigned arithmetic: a count corrupted under us must not overflow.
    int64_t stamp = static_cast<int64_t>(2 * static_cast<uint64_t>(n) + 1);
    AtomicStore(&e->stamp, stamp);
    AtomicStore(&e->ticks, ticks);
    AtomicStore(&e->port, port);
    AtomicStore(&e->value, value);
    AtomicStore(&e->reserved, uint32_t(0));
    AtomicStore(&e->stamp, stamp + 1);
    if (counted)
        AtomicAdd(&s->clientWriting[slot], uint8_t(0xFF));  // minus one
    if (port == PORT_DATA)
        AtomicStore(&s->data, int32_t(value & 0xFF));
    else if (port == PORT_CONTROL)
        AtomicStore(&s->control, int32_t(value & 0xFF));
    AtomicStore(&s->lastWriteTicks, ticks);
    return n;
}

int64_t PortStateWriteCount(PortState* s)
{
    int64_t w = AtomicLoad(&s->writes);
    return w < 0 || w >= PORTSTATE_MAX_WRITES ? 0 : w;
}

static PortEntry* EntryOf(PortState* s, int64_t n)
{
    return &s->journal[static_cast<uint64_t>(n) % PORTSTATE_JOURNAL_CAPACITY];
}

// The newest complete entry below total, looking no further back than n;
// n if there is none. Scanned once per read: a reader that looked at every
// later entry for each unfinished one would take quadratic time over a
// journal full of torn entries.
static int64_t NewestComplete(PortState* s, int64_t n, int64_t total)
{
    for (int64_t k = total - 1; k > n; --k)
        if (AtomicLoad(&EntryOf(s, k)->stamp) == 2 * k + 2)
            return k;
    return n;
}

// Waits a little for entry n's writer to finish, from a budget of
// PORTSTATE_TORN_WAIT_MS for the whole read (writers in progress finish
// together, torn entries never do: many of them must not add up to a long
// stall); false if it does not finish.
static bool WaitForEntry(PortState* s, int64_t n, PortSleep sleep, int* budget)
{
    for (;;) {
        if (AtomicLoad(&EntryOf(s, n)->stamp) >= 2 * n + 2)
            return true;
        if (*budget <= 0)
            return false;
        --*budget;
        sleep(1);
    }
}

// Copies entry n if it is whole before and after the copy.
static bool CopyEntry(PortState* s, int64_t n, JournalWrite* w)
{
    PortEntry* e = EntryOf(s, n);
    int64_t want = 2 * n + 2;
    int64_t before = AtomicLoad(&e->stamp);
    w->seq = n;
    w->ticks = AtomicLoad(&e->ticks);
    w->port = AtomicLoad(&e->port);
    w->value = AtomicLoad(&e->value);
    return before == want && AtomicLoad(&e->stamp) == want;
}

// True while some process with a client slot is between claiming a journal
// entry and completing it.
static bool WritersAtWork(PortState* s)
{
    for (int i = 0; i < PORTSTATE_CLIENTS; ++i)
        if (AtomicLoad(&s->clientWriting[i]) != 0)
            return true;
    return false;
}

size_t PortStateCopyJournalLosses(PortState* s, int64_t from, JournalWrite* out, size_t max, int64_t* next,
                                  JournalLosses* losses, PortSleep sleep)
{
    int64_t total = PortStateWriteCount(s);
    JournalLosses lost = { 0, 0 };
    if (from < 0)
        from = 0;
    if (from > total)
        from = total;  // the state was re-initialised under the reader
    if (total - from > static_cast<int64_t>(PORTSTATE_JOURNAL_CAPACITY)) {
        lost.overwritten = total - from - PORTSTATE_JOURNAL_CAPACITY;
        from += lost.overwritten;
    }
    size_t copied = 0;
    int64_t n = from;
    int64_t newest = -1;  // newest complete entry, found at the first unfinished one
    int budget = PORTSTATE_TORN_WAIT_MS;
    for (; n < total && copied < max; ++n) {
        if (AtomicLoad(&EntryOf(s, n)->stamp) < 2 * n + 2) {
            if (newest < n)
                newest = NewestComplete(s, n, total);
            // The newest write still in progress: stop, the reader comes back later.
            if (newest <= n)
                break;
            // Later writes are whole. While a writer is at work this may be
            // its entry, however long it was preempted: come back later.
            if (WritersAtWork(s) && AtomicLoad(&EntryOf(s, n)->stamp) < 2 * n + 2)
                break;
            // No writer at work: a writer without a slot gets a moment, then
            // the entry is torn (its writer died mid-write).
            if (!WaitForEntry(s, n, sleep, &budget)) {
                ++lost.torn;
                continue;
            }
        }
        if (CopyEntry(s, n, &out[copied]))
            ++copied;
        else
            ++lost.overwritten;  // overwritten by a later write while we looked
    }
    if (next)
        *next = n;
    if (losses)
        *losses = lost;
    return copied;
}

size_t PortStateCopyJournal(PortState* s, int64_t from, JournalWrite* out, size_t max,
                            int64_t* next, int64_t* dropped, PortSleep sleep)
{
    JournalLosses lost;
    size_t copied = PortStateCopyJournalLosses(s, from, out, max, next, &lost, sleep);
    if (dropped)
        *dropped = lost.overwritten + lost.torn;
    return copied;
}

void PortStateNoteRead(PortState* s, int64_t now)
{
    AtomicAdd(&s->reads, int64_t(1));
    AtomicStore(&s->lastReadTicks, now);
}

void PortStateRing(PortState* s, PortWake wake)
{
    if (AtomicLoad(&s->helperState) != HELPER_SLEEPING ||
        !AtomicCas(&s->helperState, uint32_t(HELPER_SLEEPING), uint32_t(HELPER_AWAKE)))
        return;
    AtomicAdd(&s->doorbell, uint32_t(1));
    wake(&s->doorbell);
}

int64_t PortStateWrite(PortState* s, int slot, uint16_t port, uint16_t value, PortClock clock, PortWake wake)
{
    int64_t seq = PortStateAppendAs(s, slot, port, value, clock);
    PortStateRing(s, wake);
    return seq;
}

bool PortHelperHoldsPort(uint32_t state)
{
    return state == HELPER_AWAKE || state == HELPER_SLEEPING;
}

bool PortHelperBeats(uint32_t state)
{
    return state == HELPER_STARTING || PortHelperHoldsPort(state) || state == HELPER_WAITING;
}

static bool HelperStopped(uint32_t state)
{
    return state == HELPER_FAILED || state == HELPER_EXITED || state == HELPER_REFUSED;
}

bool PortHelperAlive(PortState* s, int64_t now, const PortHelperJudge& judge)
{
    uint32_t state = AtomicLoad(&s->helperState);
    if (judge.untilStopped ? HelperStopped(state) : !PortHelperBeats(state))
        return false;
    int64_t limit = judge.frequency * (state == HELPER_STARTING ? judge.startingMs : HELPER_LOST_MS) / 1000;
    int64_t age;
    if (__builtin_sub_overflow(now, AtomicLoad(&s->helperBeat), &age) || age >= limit ||
        (age < 0 && !judge.aheadCounts))
        return false;
    return !judge.processIs || judge.processIs(AtomicLoad(&s->helperPid), AtomicLoad(&s->helperStart));
}

// Copies text into a fixed field, cut to fit, NUL-terminated, byte by byte
// so that a reader never sees an unterminated field.
static void StoreText(char* field, const char* text)
{
    size_t n = text ? strnlen(text, PORTSTATE_TEXT - 1) : 0;
    for (size_t i = 0; i < n; ++i)
        AtomicStore(&field[i], text[i]);
    for (size_t i = n; i < static_cast<size_t>(PORTSTATE_TEXT); ++i)
        AtomicStore(&field[i], '\0');
}

void PortStateSetTarget(PortState* s, const char* text)
{
    StoreText(s->target, text);
}

void PortStateFault(PortState* s, PortFaultCode code, const char* text, int64_t ticks)
{
    AtomicStore(&s->fault, uint32_t(PORT_FAULT_NONE));
    StoreText(s->faultText, text);
    AtomicStore(&s->faultTicks, ticks);
    AtomicStore(&s->fault, uint32_t(code));
    if (code != PORT_FAULT_NONE)
        AtomicAdd(&s->faults, uint32_t(1));
}

constexpr int32_t NATIVE_CLAIM = -1;  // windowsPid of a slot held by a native process

int PortStateTakeClient(PortState* s, int32_t unixPid, int32_t windowsPid, int64_t ticks, uint32_t identity)
{
    // A slot is free when both pids are 0; the Windows pid claims it, -1
    // standing for a native process's.
    int32_t claim = windowsPid ? windowsPid : NATIVE_CLAIM;
    for (int i = 0; i < PORTSTATE_CLIENTS; ++i) {
        PortClient* c = &s->clients[i];
        if (AtomicLoad(&c->unixPid) == unixPid && AtomicLoad(&c->windowsPid) == claim)
            return i;
    }
    for (int i = 0; i < PORTSTATE_CLIENTS; ++i) {
        PortClient* c = &s->clients[i];
        if (AtomicLoad(&c->unixPid) != 0 || !AtomicCas(&c->windowsPid, int32_t(0), claim))
            continue;
        AtomicStore(&c->since, ticks);
        AtomicStore(&s->clientWriting[i], uint8_t(0));
        AtomicStore(&s->clientStart[i], identity);
        AtomicStore(&c->unixPid, unixPid);
        return i;
    }
    return -1;
}

void PortStateFreeClient(PortState* s, int slot)
{
    if (slot < 0 || slot >= PORTSTATE_CLIENTS)
        return;
    PortClient* c = &s->clients[slot];
    AtomicStore(&c->unixPid, int32_t(0));
    AtomicStore(&c->since, int64_t(0));
    AtomicStore(&s->clientStart[slot], uint32_t(0));
    AtomicStore(&s->clientWriting[slot], uint8_t(0));  // a writer that died mid-write
    AtomicStore(&c->windowsPid, int32_t(0));
}

uint32_t PortStatusAgeMs(PortState* s, int64_t now)
{
    int64_t f = AtomicLoad(&s->frequency);
    if (AtomicLoad(&s->backend) != PORT_BACKEND_PPDEV || f <= 0)
        return 0;
    int64_t age = (now - AtomicLoad(&s->statusTicks)) / (f / 1000 > 0 ? f / 1000 : 1);
    if (age <= HELPER_LOST_MS)
        return 0;
    return age > int64_t(UINT32_MAX) ? UINT32_MAX : static_cast<uint32_t>(age);
}

uint32_t PortStatusAgeUpdate(PortState* s, int64_t now)
{
    uint32_t age = PortStatusAgeMs(s, now);
    AtomicStore(&s->statusAge, age);
    return age;
}
