// The native helper's side of the bridge: one turn of its loop (look for
// work, carry the journal to the device, read the status, look at the
// clients and at another helper) over a state as another process may leave
// it, against a fake device that records the writes and fails on demand.
#include <errno.h>
#include <vector>
#include "bridge.h"
#include "fuzzstate.h"
#include "portnative.h"

static int64_t FakeTicks = 0;          // the clock the helper reads
static int Sleeps = 0;                 // sleeps asked for by the current input
static std::vector<uint8_t> Wire;      // what reached the fake device
static size_t FailAt = 0;              // the write that fails, 0 for none
static int WriteErr = 0, StatusErr = 0;
static uint8_t StatusPins = 0;

// The clock and sleep of the native side, replaced for the helper's code.
int64_t PortNativeTicks()
{
    return FakeTicks += 37;
}

void PortNativeSleep(int)
{
    ++Sleeps;
}

int64_t PortNativeMs()
{
    return PortNativeTicks() / (PORTSTATE_NATIVE_FREQUENCY / 1000);
}

// A sleep until a deadline moves the fake clock there at once.
void PortNativeSleepUntilMs(int64_t until)
{
    ++Sleeps;
    if (until * (PORTSTATE_NATIVE_FREQUENCY / 1000) > FakeTicks)
        FakeTicks = until * (PORTSTATE_NATIVE_FREQUENCY / 1000);
}

// Process identities as /proc would give them: some pids live, others gone.
uint32_t PortProcessIdentity(int32_t pid)
{
    return pid > 0 && pid % 3 != 0 ? static_cast<uint32_t>(pid) * 7 + 1 : 0;
}

bool PortProcessIs(int32_t pid, uint32_t identity)
{
    uint32_t now = PortProcessIdentity(pid);
    return now != 0 && (identity == 0 || identity == now);
}

static int WriteData(void*, uint8_t v)
{
    if (FailAt != 0 && Wire.size() + 1 == FailAt)
        return WriteErr;
    Wire.push_back(v);
    return 0;
}

static int ReadStatus(void*, uint8_t* v)
{
    *v = StatusPins;
    return StatusErr;
}

// Each byte on the wire is a whole data write of the journal, in order, from
// where the helper started to where it now says it is.
static void CheckWire(PortState* s, int64_t from, int64_t wireBefore)
{
    int64_t applied = s->applied;
    int64_t total = PortStateWriteCount(s);
    FuzzCheck(applied >= 0 && applied <= total, "applied outside the journal");
    FuzzCheck(s->wireWrites - wireBefore == static_cast<int64_t>(Wire.size()), "wireWrites miscounted");
    int64_t n = from < 0 ? 0 : from;
    if (total - n > static_cast<int64_t>(PORTSTATE_JOURNAL_CAPACITY))
        n = total - PORTSTATE_JOURNAL_CAPACITY;  // older entries were overwritten: passed over
    for (uint8_t v : Wire) {
        for (;; ++n) {
            FuzzCheck(n < applied, "a write reached the wire beyond applied");
            const PortEntry* e = &s->journal[static_cast<uint64_t>(n) % PORTSTATE_JOURNAL_CAPACITY];
            if (e->stamp == 2 * n + 2 && e->port == PORT_DATA && (e->value & 0xFF) == v)
                break;
        }
        ++n;
    }
    FuzzCheck(Sleeps <= PORTSTATE_TORN_WAIT_MS * 2, "helper waited too long on torn entries");
}

// Whatever the library's read stamps say, the next status read is planned
// within two clientChecks of the last and never closer than statusMinGap.
static void CheckStatusPlan(PortState* s, int64_t now, FuzzedDataProvider& in)
{
    BridgeTiming t = BridgeDefaultTiming();
    if (in.ConsumeBool())  // a read stamp near the clock, as a live reader leaves it
        s->lastReadTicks = now - in.ConsumeIntegralInRange<int64_t>(-t.readerGone, 2 * t.readerGone);
    BridgeReader r = {};
    r.reads = static_cast<int64_t>(static_cast<uint64_t>(s->reads) - 3);
    r.lastRead = now - t.readerPeriod;
    BridgeWatchReader(&r, s, &t);
    FuzzCheck(r.period >= t.statusMinGap && r.period <= t.clientCheck, "reader period out of bounds");
    int64_t last = now - 1;
    int64_t next = BridgeNextStatusRead(&r, last, now, &t);
    FuzzCheck(next == BRIDGE_NEVER || (next >= last + t.statusMinGap && next <= last + 2 * t.clientCheck),
              "status read planned out of bounds");
}

static void SetUpDevice(FuzzedDataProvider& in)
{
    static const int ERRS[] = { EIO, ENOTTY, ENODEV, ENXIO, ENOTCONN, EBUSY, EACCES, EINTR };
    Wire.clear();
    Sleeps = 0;
    FailAt = in.ConsumeIntegralInRange<size_t>(0, 80);
    WriteErr = ERRS[in.ConsumeIntegralInRange<size_t>(0, 7)];
    StatusErr = in.ConsumeIntegralInRange<int>(0, 3) == 0 ? ERRS[in.ConsumeIntegralInRange<size_t>(0, 7)] : 0;
    StatusPins = in.ConsumeIntegral<uint8_t>();
    FakeTicks = in.ConsumeIntegral<int32_t>();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider in(data, size);
    SetUpDevice(in);
    PortState* s = FuzzStateBuild(in);
    BridgeDevice dev = { nullptr, WriteData, ReadStatus, "/dev/parport-fuzz", nullptr };
    int64_t seen = static_cast<int64_t>(static_cast<uint64_t>(s->writes) - in.ConsumeBool());
    BridgeHasWork(s, seen);
    int64_t from = s->applied, wireBefore = s->wireWrites;
    int err = 0;
    int64_t passed = BridgeApply(s, &dev, &err);
    // A state whose target is another device is left to that device's helper.
    FuzzCheck(passed >= 0 || passed == BRIDGE_RETARGETED || err != 0, "device failure without its errno");
    if (passed == BRIDGE_RETARGETED)
        FuzzCheck(s->applied == from && s->wireWrites == wireBefore, "a retargeted state was applied");
    if (from >= 0 && from <= PortStateWriteCount(s))
        CheckWire(s, from, wireBefore);
    int64_t now = PortNativeTicks();
    if (BridgeReadStatus(s, &dev, now) == 0)
        FuzzCheck(s->status == StatusPins, "status not stored");
    CheckStatusPlan(s, now, in);
    BridgeClientsAlive(s);
    BridgeOtherHelper(s, now);
    BridgeHasWork(s, s->writes);
    return 0;
}
