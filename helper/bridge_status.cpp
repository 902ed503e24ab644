// When the helper reads the status register: for the library's readers, just
// before each of their reads, and not at all when no one reads.
#include "bridge.h"
#include "portcore.h"

constexpr int64_t SLOWER_STEP = 4;    // a longer gap moves the period a quarter of the way ...
constexpr int64_t SLOWER_LIMIT = 2;   // ... and counts as at most twice the period (a reader held up)
constexpr int64_t FASTER_STEP = 2;    // a shorter gap moves it half of the way

static int64_t Clamp(int64_t v, int64_t low, int64_t high)
{
    return v < low ? low : v > high ? high : v;
}

// A gap longer than the period is most often a reader held up (a program
// inside an effect pass handles no timer): it lengthens the period slowly.
static int64_t LearnPeriod(int64_t period, int64_t gap, const BridgeTiming* t)
{
    if (gap > period) {
        int64_t held = gap < SLOWER_LIMIT * period ? gap : SLOWER_LIMIT * period;
        period += (held - period) / SLOWER_STEP;
    } else {
        period -= (period - gap) / FASTER_STEP;
    }
    return Clamp(period, t->statusMinGap, t->clientCheck);
}

void BridgeWatchReader(BridgeReader* r, PortState* s, const BridgeTiming* t)
{
    int64_t reads = AtomicLoad(&s->reads);
    int64_t last = AtomicLoad(&s->lastReadTicks);
    if (r->period <= 0)
        r->period = Clamp(t->readerPeriod, t->statusMinGap, t->clientCheck);
    if (reads == r->reads && last == r->lastRead)
        return;
    // Other processes write these fields: a count or a clock that went back,
    // or jumped, teaches nothing.
    int64_t n = static_cast<int64_t>(static_cast<uint64_t>(reads) - static_cast<uint64_t>(r->reads));
    if (r->lastRead > 0 && n > 0 && n < PORTSTATE_MAX_WRITES && last > r->lastRead)
        r->period = LearnPeriod(r->period, (last - r->lastRead) / n, t);
    r->reads = reads;
    r->lastRead = last;
}

int64_t BridgeNextStatusRead(const BridgeReader* r, int64_t lastStatus, int64_t now, const BridgeTiming* t)
{
    if (r->lastRead <= 0 || now - r->lastRead > t->readerGone)
        return BRIDGE_NEVER;
    int64_t lastRead = r->lastRead < now ? r->lastRead : now;  // a clock from the future is now
    int64_t period = Clamp(r->period, t->statusMinGap, t->clientCheck);
    int64_t next = lastRead + period - t->statusLead;  // just before the next read
    if (next <= lastStatus) {
        // Already read for that one: the one after it, the reader being late.
        int64_t behind = lastStatus - next;
        next += (behind / period + 1) * period;
    }
    if (next > lastStatus + period)
        next = lastStatus + period;  // a reader faster than the clock: still once a period
    if (next < lastStatus + t->statusMinGap)
        next = lastStatus + t->statusMinGap;
    return next;
}
