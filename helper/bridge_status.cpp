// When the helper reads the status register: for the library's readers, just
// before each of their reads, and not at all when no one reads.
#include "bridge.h"
#include "portcore.h"

constexpr int64_t LEARN_STEP = 4;       // each gap moves the period a quarter of the way ...
constexpr int64_t LEARN_SPAN = 2;       // ... counted within half and twice the period
constexpr int64_t GRID_CREEP = 8;       // a late read moves the grid an eighth of its lateness
constexpr int64_t GRID_EARLY_PART = 4;  // a read up to a quarter period early moves the grid to it
constexpr int64_t GRID_SPAN = 16;       // periods after which the grid is found again from a read

static int64_t Clamp(int64_t v, int64_t low, int64_t high)
{
    return v < low ? low : v > high ? high : v;
}

// A gap far longer than the period is most often a reader held up (a program
// inside an effect pass handles no timer), one far shorter two reads of one
// late tick: each counts as at most twice, at least half, the period.
static int64_t LearnPeriod(int64_t period, int64_t gap, const BridgeTiming* t)
{
    int64_t counted = Clamp(gap, period / LEARN_SPAN, period * LEARN_SPAN);
    return Clamp(period + (counted - period) / LEARN_STEP, t->statusMinGap, t->clientCheck);
}

// A timer's reads fall due on a grid, each late by however long its thread
// was busy (and the program polls from a timer): the grid follows the
// earliest reads at once, the late ones only slowly (in case the period is a
// little short). Returns the grid point at or before `read`.
static int64_t FollowGrid(int64_t grid, int64_t read, int64_t period)
{
    int64_t since = read - grid;
    if (grid <= 0 || since < 0 || since > GRID_SPAN * period)
        return read;
    int64_t late = since % period;
    if (period - late <= period / GRID_EARLY_PART)
        return read;  // early for the next point: the grid drifts earlier
    return read - late + late / GRID_CREEP;
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
    if (r->lastRead > 0 && n > 0 && n < PORTSTATE_MAX_WRITES && last > r->lastRead) {
        r->grid = FollowGrid(r->grid, last, r->period);
        r->period = LearnPeriod(r->period, (last - r->lastRead) / n, t);
    } else {
        r->grid = last;
    }
    r->reads = reads;
    r->lastRead = last;
}

// The reader's reads are due at grid + k periods; the helper reads
// statusLead before the first of them that its last read has not served (one
// within half a period before it served it). Never within statusMinGap of its
// last read, and never more than two periods after it.
int64_t BridgeNextStatusRead(const BridgeReader* r, int64_t lastStatus, int64_t now, const BridgeTiming* t)
{
    if (r->lastRead <= 0 || now - r->lastRead > t->readerGone)
        return BRIDGE_NEVER;
    int64_t grid = r->grid > 0 && r->grid < r->lastRead ? r->grid : r->lastRead;
    grid = grid < now ? grid : now;  // a clock from the future is now
    int64_t period = Clamp(r->period, t->statusMinGap, t->clientCheck);
    int64_t next = grid + period - t->statusLead;
    int64_t served = lastStatus + period / 2;
    if (next < served)
        next += ((served - next) / period + 1) * period;
    if (next > lastStatus + 2 * period)
        next = lastStatus + 2 * period;
    if (next < lastStatus + t->statusMinGap)
        next = lastStatus + t->statusMinGap;
    return next;
}
