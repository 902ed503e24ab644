// The bridge's main loop: awake (short timed waits) while the program writes,
// asleep on the doorbell futex when it is quiet, the status read for readers.
#include <errno.h>
#include <linux/futex.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>
#include "bridge.h"
#include "portnative.h"
#include "ppdev.h"

constexpr int64_t TICKS_PER_US = PORTSTATE_NATIVE_FREQUENCY / 1000000;
constexpr int64_t NS_PER_TICK = 1000000000 / PORTSTATE_NATIVE_FREQUENCY;
constexpr int64_t NS_PER_S = 1000000000;
// A poll a little later than foreseen moves the planned status read by as
// much; one moved by less than this part of the lead is made at once: a read
// a little early costs less than another wake-up.
constexpr int64_t EARLY_READ_PART = 3;

// Set by BridgeRequestStop (a signal handler): end the loop at its next turn.
static volatile sig_atomic_t StopRequested = 0;

void BridgeRequestStop()
{
    StopRequested = 1;
}

bool BridgeStopRequested()
{
    return StopRequested != 0;
}

static int64_t EnvMicroseconds(const char* name, int fallback)
{
    const char* v = getenv(name);
    char* end = nullptr;
    long n = v ? strtol(v, &end, 10) : -1;
    if (!v || end == v || *end != '\0' || n < 0 || n > 1000000)
        n = fallback;
    return n * TICKS_PER_US;
}

BridgeTiming BridgeDefaultTiming()
{
    BridgeTiming t;
    t.statusMinGap = BRIDGE_STATUS_MIN_GAP_US * TICKS_PER_US;
    t.statusLead = BRIDGE_STATUS_LEAD_US * TICKS_PER_US;
    t.readerPeriod = BRIDGE_READER_PERIOD_US * TICKS_PER_US;
    t.readerGone = BRIDGE_READER_GONE_US * TICKS_PER_US;
    t.awakePoll = EnvMicroseconds("TRAVEK_HELPER_POLL_US", BRIDGE_AWAKE_POLL_US);
    t.awakeWindow = EnvMicroseconds("TRAVEK_HELPER_WINDOW_US", BRIDGE_AWAKE_WINDOW_US);
    t.clientCheck = BRIDGE_CLIENT_CHECK_US * TICKS_PER_US;
    t.idleExit = BRIDGE_IDLE_EXIT_US * TICKS_PER_US;
    return t;
}

static timespec TimespecOf(int64_t ticks)
{
    if (ticks < 0)
        ticks = 0;
    int64_t ns = ticks * NS_PER_TICK;
    timespec ts = { static_cast<time_t>(ns / NS_PER_S), static_cast<long>(ns % NS_PER_S) };
    return ts;
}

bool BridgeHasWork(PortState* s, int64_t seenWrites)
{
    int64_t writes = AtomicLoad(&s->writes);
    if (writes != seenWrites)
        return true;
    int64_t n = AtomicLoad(&s->applied);
    if (writes < 0 || writes >= PORTSTATE_MAX_WRITES)
        return false;  // a corrupt count: nothing to carry until the state is made clean
    if (n < 0)
        return true;   // BridgeApply brings `applied` back into the journal
    if (n >= writes)
        return false;
    const PortEntry* e = &s->journal[n % PORTSTATE_JOURNAL_CAPACITY];
    return AtomicLoad(&e->stamp) >= 2 * n + 2;
}

// Announces sleep, looks once more, then waits on the doorbell for at most
// `limit` ticks. A writer that finds HELPER_SLEEPING moves it to AWAKE and
// rings; after a timeout the helper moves it back itself.
static void SleepOnDoorbell(PortState* s, int64_t seenWrites, int64_t limit)
{
    uint32_t bell = AtomicLoad(&s->doorbell);
    AtomicStore(&s->helperState, uint32_t(HELPER_SLEEPING));
    if (!BridgeHasWork(s, seenWrites) && !StopRequested) {
        timespec ts = TimespecOf(limit);
        syscall(SYS_futex, &s->doorbell, FUTEX_WAIT, bell, &ts, nullptr, 0);
    }
    AtomicCas(&s->helperState, uint32_t(HELPER_SLEEPING), uint32_t(HELPER_AWAKE));
}

static void ShortWait(int64_t ticks)
{
    timespec ts = TimespecOf(ticks);
    nanosleep(&ts, nullptr);
}

static int Fail(PortState* s, const BridgeDevice* dev, int err)
{
    PpdevFault f;
    PpdevClassify(dev->path, PPDEV_STEP_SESSION, err, &f);
    BridgeRecordFault(s, f.code, f.text);
    AtomicStore(&s->helperState, uint32_t(HELPER_WAITING));  // still beating: the caller tries again
    return BRIDGE_EXIT_FAILED;
}

// Times of the loop's duties, in ticks.
struct BridgeClock {
    int64_t lastStatus;  // the last read of the status register, 0 before the first
    int64_t nextStatus;  // BRIDGE_NEVER while no one reads
    int64_t nextClientCheck;
    int64_t lastActivity;
    int64_t lastClientSeen;
};

// Reads the status register when a reader will want it, once at the start,
// and with no reader at the beat (a wake-up it has anyway), so that a status
// older than HELPER_LOST_MS still means a helper that no longer reads; then
// plans the next read. 0 or an errno.
static int StatusDuty(PortState* s, const BridgeDevice* dev, const BridgeTiming* t, BridgeReader* r,
                      BridgeClock* c, int64_t now)
{
    BridgeWatchReader(r, s, t);
    int64_t due = BridgeNextStatusRead(r, c->lastStatus, now, t);
    bool forReader = due != BRIDGE_NEVER && now >= due - t->statusLead / EARLY_READ_PART;
    bool atBeat = due == BRIDGE_NEVER && now >= c->nextClientCheck;
    if (c->lastStatus == 0 || forReader || atBeat) {
        int err = BridgeReadStatus(s, dev, now);
        if (err != 0)
            return err;
        c->lastStatus = now;
    }
    c->nextStatus = BridgeNextStatusRead(r, c->lastStatus, now, t);
    return 0;
}

// Beats and looks at the clients every clientCheck; false once none has
// lived for idleExit.
static bool ClientDuty(PortState* s, const BridgeTiming* t, BridgeClock* c, int64_t now)
{
    if (now < c->nextClientCheck)
        return true;
    AtomicStore(&s->helperBeat, now);
    if (BridgeClientsAlive(s))
        c->lastClientSeen = now;
    else if (now - c->lastClientSeen >= t->idleExit)
        return false;
    c->nextClientCheck = now + t->clientCheck;
    return true;
}

// Waits for the next write or duty: short timed waits within the awake
// window, the doorbell after it. While a reader is served the client check
// waits, half a check period at most, for a status read's wake, so that the
// two cost one.
static void WaitForWork(PortState* s, int64_t seenWrites, const BridgeTiming* t, const BridgeClock* c, int64_t now)
{
    int64_t checkBy = c->nextClientCheck + t->clientCheck / 2;
    int64_t wake = c->nextStatus < checkBy ? c->nextStatus : checkBy;
    int64_t due = wake - now;
    if (now - c->lastActivity < t->awakeWindow)
        ShortWait(t->awakePoll < due ? t->awakePoll : due);
    else
        SleepOnDoorbell(s, seenWrites, due);
}

int BridgeRun(PortState* s, const BridgeDevice* dev, const BridgeTiming* t)
{
    int64_t now = PortNativeTicks();
    BridgeClock c = { 0, now, now, now, now };
    BridgeReader reader = {};
    AtomicStore(&s->helperState, uint32_t(HELPER_AWAKE));
    while (!StopRequested) {
        int64_t seenWrites = AtomicLoad(&s->writes);
        int err = 0;
        int64_t passed = BridgeApply(s, dev, &err);
        if (passed == BRIDGE_RETARGETED)
            break;  // the library starts a helper for the new device
        if (passed < 0)
            return Fail(s, dev, err);
        now = PortNativeTicks();
        if (passed > 0)
            c.lastActivity = now;
        if ((err = StatusDuty(s, dev, t, &reader, &c, now)) != 0)
            return Fail(s, dev, err);
        if (!ClientDuty(s, t, &c, now))
            break;
        if (passed == 0)
            WaitForWork(s, seenWrites, t, &c, now);
        // else: look again at once; the value that follows a 0 is often there already
    }
    AtomicStore(&s->helperState, uint32_t(HELPER_EXITED));
    return BRIDGE_EXIT_DONE;
}
