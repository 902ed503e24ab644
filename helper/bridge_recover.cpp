// See bridge_recover.h.
#include "bridge_recover.h"
#include <stdio.h>
#include <string.h>
#include "portnative.h"

constexpr int SKIP_BATCH = 256;        // entries copied at a time while passing over a backlog
constexpr int BACKOFF_SLICE_MS = 20;   // the wait is cut this often to beat and look at clients
constexpr int64_t TICKS_PER_MS = PORTSTATE_NATIVE_FREQUENCY / 1000;

BridgeRecovery BridgeDefaultRecovery()
{
    return BridgeRecovery{ PORT_REPLAY_LIMIT_MS * TICKS_PER_MS, HELPER_BACKOFF_FIRST_MS, HELPER_BACKOFF_MAX_MS };
}

// The newest data and control values from `from` on, the count of data
// writes and of entries lost; *next after the last whole entry.
struct Backlog {
    int data = -1, control = -1;
    int64_t dataWrites = 0, lost = 0, next = 0;
};

static Backlog ReadBacklog(PortState* s, int64_t from)
{
    Backlog b;
    JournalWrite w[SKIP_BATCH];
    b.next = from;
    for (;;) {
        int64_t next = b.next, dropped = 0;
        size_t n = PortStateCopyJournal(s, b.next, w, SKIP_BATCH, &next, &dropped, PortNativeSleep);
        b.lost += dropped;
        for (size_t i = 0; i < n; ++i) {
            if (w[i].port == PORT_DATA) {
                b.data = w[i].value & 0xFF;
                ++b.dataWrites;
            } else if (w[i].port == PORT_CONTROL) {
                b.control = w[i].value & 0xFF;
            }
        }
        if (next == b.next)
            return b;
        b.next = next;
    }
}

int64_t BridgeSkipStaleBacklog(PortState* s, const BridgeDevice* dev, int64_t now, int64_t replayLimit, int* err)
{
    int64_t from = AtomicLoad(&s->applied);
    JournalWrite oldest;
    int64_t next = from, dropped = 0;
    if (PortStateCopyJournal(s, from, &oldest, 1, &next, &dropped, PortNativeSleep) == 0 && dropped == 0)
        return 0;  // nothing waits
    if (dropped == 0 && now - oldest.ticks <= replayLimit)
        return 0;  // a short backlog: in order
    Backlog b = ReadBacklog(s, from);
    int e = 0;
    if (b.control >= 0 && dev->writeControl)
        e = dev->writeControl(dev->context, static_cast<uint8_t>(b.control));
    if (e == 0 && b.data >= 0)
        e = dev->writeData(dev->context, static_cast<uint8_t>(b.data));
    if (e != 0) {
        *err = e;
        return -1;
    }
    if (b.data >= 0)
        AtomicAdd(&s->wireWrites, int64_t(1));
    int64_t passed = b.dataWrites - (b.data >= 0 ? 1 : 0) + b.lost;
    int64_t length = b.next - from;
    AtomicAdd(&s->unapplied, passed);
    AtomicStore(&s->lastSkipLength, static_cast<uint32_t>(length < int64_t(UINT32_MAX) ? length : UINT32_MAX));
    AtomicStore(&s->lastSkipEnd, b.next);  // after the length: a reader of the end sees its length
    AtomicStore(&s->applied, b.next);
    return b.next - from;
}

// Waits ms while beating; false when the helper should end instead (no
// client for the idle time, a stop asked for, the state now for another port).
static bool BackOff(PortState* s, const BridgeTiming* t, const char* path, int ms, int64_t* lastClient)
{
    int64_t end = PortNativeTicks() + ms * TICKS_PER_MS;
    for (;;) {
        int64_t now = PortNativeTicks();
        AtomicStore(&s->helperBeat, now);
        if (BridgeStopRequested() || !BridgeTargetIs(s, path) || AtomicLoad(&s->backend) != PORT_BACKEND_PPDEV)
            return false;
        if (BridgeClientsAlive(s))
            *lastClient = now;
        else if (now - *lastClient >= t->idleExit)
            return false;
        if (now >= end)
            return true;
        int64_t left = (end - now) / TICKS_PER_MS;
        PortNativeSleep(left < BACKOFF_SLICE_MS ? static_cast<int>(left) + 1 : BACKOFF_SLICE_MS);
    }
}

// Faults that a new try cannot change, as long as the device never worked.
static bool Final(PortFaultCode code)
{
    return code == PORT_FAULT_PERMISSION || code == PORT_FAULT_NOT_PARPORT;
}

// One session on an open device: the stale backlog passed over, then the loop.
static int Carry(PortState* s, BridgeOpener* o, const BridgeTiming* t, const BridgeRecovery* r)
{
    int err = 0;
    if (BridgeSkipStaleBacklog(s, &o->device, PortNativeTicks(), r->replayLimit, &err) < 0) {
        PpdevFault f;
        PpdevClassify(o->device.path, PPDEV_STEP_SESSION, err, &f);
        BridgeRecordFault(s, f.code, f.text);
        AtomicStore(&s->helperState, uint32_t(HELPER_WAITING));
        return BRIDGE_EXIT_FAILED;
    }
    return BridgeRun(s, &o->device, t);
}

int BridgeServe(PortState* s, BridgeOpener* o, const BridgeTiming* t, const BridgeRecovery* r)
{
    int backoff = r->firstBackoffMs;
    bool served = false;
    int64_t lastClient = PortNativeTicks();
    for (;;) {
        PpdevFault f;
        if (o->open(o->context, s, &f)) {
            int rc = Carry(s, o, t, r);
            o->close(o->context);
            if (rc == BRIDGE_EXIT_DONE)
                return rc;
            served = true;
            backoff = r->firstBackoffMs;
        } else if (!served && Final(f.code)) {
            BridgeRecordFault(s, f.code, f.text);
            AtomicStore(&s->helperState, uint32_t(HELPER_REFUSED));
            return BRIDGE_EXIT_FAILED;
        } else if (!served || f.code != PORT_FAULT_NO_DEVICE) {
            BridgeRecordFault(s, f.code, f.text);  // a device gone mid-session stays the fault said
        }
        AtomicStore(&s->helperState, uint32_t(HELPER_WAITING));
        if (!BackOff(s, t, o->device.path, backoff, &lastClient)) {
            AtomicStore(&s->helperState, uint32_t(HELPER_EXITED));
            return BRIDGE_EXIT_DONE;
        }
        AtomicAdd(&s->deviceRetries, uint32_t(1));
        backoff = backoff * 2 > r->maxBackoffMs ? r->maxBackoffMs : backoff * 2;
    }
}
