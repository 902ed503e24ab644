// The bridge's handling of the journal: order, passed-over entries, lost
// writes and device failures, against a fake device.
#include <errno.h>
#include <gtest/gtest.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>
#include "fakedevice.h"
#include "portnative.h"

namespace {

// Applies batch after batch until nothing is left; the total, or -1.
int64_t ApplyAll(PortState* s, const BridgeDevice* dev, int* err)
{
    int64_t total = 0, n;
    while ((n = BridgeApply(s, dev, err)) > 0)
        total += n;
    return n < 0 ? -1 : total;
}

TEST(BridgeApply, EveryDataWriteReachesTheDeviceInOrderWithItsZeros)
{
    PortState* s = NewState();
    FakeDevice d;
    BridgeDevice dev = FakeBridgeDevice(&d);
    std::vector<uint8_t> expected;
    for (int i = 0; i < 300; ++i) {  // several batches
        uint16_t v = static_cast<uint16_t>((i * 37) & 0xFFFF);
        PortStateAppend(s, PORT_DATA, 0, PortNativeTicks);
        PortStateAppend(s, PORT_DATA, v, PortNativeTicks);
        expected.push_back(0);
        expected.push_back(static_cast<uint8_t>(v));  // high bits dropped
        if (i % 50 == 0)
            PortStateAppend(s, PORT_CONTROL, 0x0C, PortNativeTicks);  // not for the wire
    }
    int err = 0;
    EXPECT_EQ(BridgeApply(s, &dev, &err), BRIDGE_APPLY_BATCH);  // one batch a call
    EXPECT_EQ(ApplyAll(s, &dev, &err) + BRIDGE_APPLY_BATCH, AtomicLoad(&s->writes));
    EXPECT_EQ(d.written, expected);
    EXPECT_EQ(AtomicLoad(&s->applied), AtomicLoad(&s->writes));
    EXPECT_EQ(AtomicLoad(&s->wireWrites), static_cast<int64_t>(expected.size()));
    EXPECT_EQ(AtomicLoad(&s->fault), uint32_t(PORT_FAULT_NONE));
    EXPECT_EQ(BridgeApply(s, &dev, &err), 0);  // nothing twice
    EXPECT_EQ(d.written.size(), expected.size());
    free(s);
}

TEST(BridgeApply, AFailingWriteStaysPendingAndNothingAfterItIsApplied)
{
    PortState* s = NewState();
    FakeDevice d;
    d.failWriteAt = 2;
    d.writeError = EIO;
    BridgeDevice dev = FakeBridgeDevice(&d);
    for (uint16_t v = 1; v <= 5; ++v)
        PortStateAppend(s, PORT_DATA, v, PortNativeTicks);
    int err = 0;
    EXPECT_EQ(BridgeApply(s, &dev, &err), -1);
    EXPECT_EQ(err, EIO);
    EXPECT_EQ(d.written, (std::vector<uint8_t>{ 1, 2 }));
    EXPECT_EQ(AtomicLoad(&s->applied), 2);  // the third write never reached the wire
    EXPECT_EQ(AtomicLoad(&s->wireWrites), 2);
    free(s);
}

TEST(BridgeApply, FallingAJournalBehindReportsTheLossAndGoesOnFromTheOldest)
{
    PortState* s = NewState();
    FakeDevice d;
    BridgeDevice dev = FakeBridgeDevice(&d);
    const int64_t extra = 10;
    for (int64_t i = 0; i < PORTSTATE_JOURNAL_CAPACITY + extra; ++i)
        PortStateAppend(s, PORT_DATA, static_cast<uint16_t>(i & 0xFF), PortNativeTicks);
    int err = 0;
    ApplyAll(s, &dev, &err);
    EXPECT_EQ(AtomicLoad(&s->fault), uint32_t(PORT_FAULT_WRITES_LOST));
    EXPECT_EQ(AtomicLoad(&s->faults), 1u);
    EXPECT_NE(strstr(s->faultText, "10 écriture"), nullptr) << s->faultText;
    EXPECT_NE(strstr(s->faultText, "retard"), nullptr) << s->faultText;
    ASSERT_EQ(d.written.size(), size_t(PORTSTATE_JOURNAL_CAPACITY));
    EXPECT_EQ(d.written.front(), uint8_t(extra & 0xFF));  // the oldest kept
    EXPECT_EQ(AtomicLoad(&s->applied), AtomicLoad(&s->writes));
    free(s);
}

TEST(BridgeState, StatusReadIsStampedAndOtherHelpersAreRecognised)
{
    PortState* s = NewState();
    FakeDevice d;
    d.status = 0x5F;
    BridgeDevice dev = FakeBridgeDevice(&d);
    int64_t now = PortNativeTicks();
    EXPECT_EQ(BridgeReadStatus(s, &dev, now), 0);
    EXPECT_EQ(AtomicLoad(&s->status), 0x5F);
    EXPECT_EQ(AtomicLoad(&s->statusTicks), now);
    EXPECT_EQ(AtomicLoad(&s->helperBeat), now);

    AtomicStore(&s->helperPid, static_cast<int32_t>(getppid()));  // alive, not us
    AtomicStore(&s->helperState, uint32_t(HELPER_AWAKE));
    EXPECT_TRUE(BridgeOtherHelper(s, now));
    int64_t stale = now + (HELPER_LOST_MS + 1) * (PORTSTATE_NATIVE_FREQUENCY / 1000);
    EXPECT_FALSE(BridgeOtherHelper(s, stale));
    AtomicStore(&s->helperState, uint32_t(HELPER_EXITED));
    EXPECT_FALSE(BridgeOtherHelper(s, now));
    AtomicStore(&s->helperState, uint32_t(HELPER_AWAKE));
    AtomicStore(&s->helperPid, static_cast<int32_t>(getpid()));
    EXPECT_FALSE(BridgeOtherHelper(s, now));  // this process is no other helper
    free(s);
}

TEST(BridgeState, ClientsCountOnlyWhileTheirProcessLives)
{
    PortState* s = NewState();
    EXPECT_FALSE(BridgeClientsAlive(s));
    int slot = PortStateTakeClient(s, getpid(), 0, PortNativeTicks());
    ASSERT_GE(slot, 0);
    EXPECT_TRUE(BridgeClientsAlive(s));
    PortStateFreeClient(s, slot);
    pid_t child = fork();
    if (child == 0)
        _exit(0);
    int status = 0;
    waitpid(child, &status, 0);
    PortStateTakeClient(s, child, 0, PortNativeTicks());  // a client that died
    EXPECT_FALSE(BridgeClientsAlive(s));
    free(s);
}

constexpr int64_t MS = PORTSTATE_NATIVE_FREQUENCY / 1000;

// A program polling every 10 ms: the helper reads statusLead before each poll,
// once per poll; a late poll gets a read a period on; a reader faster than
// the minimum gap is read for at that gap; a gone reader not at all.
TEST(BridgeStatusPlan, ReadsJustBeforeEachPollAndNotWithoutPolls)
{
    BridgeTiming t = BridgeDefaultTiming();
    PortState* s = NewState();
    BridgeReader r = {};
    int64_t start = PortNativeTicks();
    EXPECT_EQ(BridgeNextStatusRead(&r, start, start, &t), BRIDGE_NEVER) << "no read stamped yet";
    for (int i = 0; i < 20; ++i) {
        AtomicAdd(&s->reads, int64_t(1));
        AtomicStore(&s->lastReadTicks, start + i * 10 * MS);
        BridgeWatchReader(&r, s, &t);
    }
    EXPECT_EQ(r.period, 10 * MS);
    int64_t poll = start + 190 * MS, before = 10 * MS - t.statusLead;
    EXPECT_EQ(BridgeNextStatusRead(&r, poll - 2 * MS, poll, &t), poll + before);
    EXPECT_EQ(BridgeNextStatusRead(&r, poll + before, poll + before, &t), poll + 10 * MS + before) << "a late poll";
    EXPECT_EQ(BridgeNextStatusRead(&r, poll, poll + 995 * MS, &t), poll + before);
    EXPECT_EQ(BridgeNextStatusRead(&r, poll, poll + 1001 * MS, &t), BRIDGE_NEVER) << "the reader is gone";

    // An effect pass holds the program for 200 ms: the period barely moves.
    AtomicAdd(&s->reads, int64_t(1));
    AtomicStore(&s->lastReadTicks, poll + 200 * MS);
    BridgeWatchReader(&r, s, &t);
    EXPECT_LE(r.period, 13 * MS);

    // A reader every 0.5 ms: reads at the minimum gap, whatever the lead.
    for (int i = 1; i <= 40; ++i) {
        AtomicAdd(&s->reads, int64_t(1));
        AtomicStore(&s->lastReadTicks, poll + 200 * MS + i * MS / 2);
        BridgeWatchReader(&r, s, &t);
    }
    EXPECT_EQ(r.period, t.statusMinGap);
    int64_t now = poll + 220 * MS, next = BridgeNextStatusRead(&r, now - MS, now, &t);
    EXPECT_GE(next, now - MS + t.statusMinGap);
    EXPECT_LE(next, now - MS + 2 * t.statusMinGap);

    // Stamps that went back or a count that wrapped teach nothing.
    int64_t period = r.period;
    AtomicStore(&s->reads, int64_t(-5));
    AtomicStore(&s->lastReadTicks, start);
    BridgeWatchReader(&r, s, &t);
    EXPECT_EQ(r.period, period);
    free(s);
}

// A poll that came late (its thread was busy) does not move the next read:
// that is due on the timer's grid, not a period after the late poll.
TEST(BridgeStatusPlan, ALatePollLeavesTheNextReadOnTheTimersGrid)
{
    BridgeTiming t = BridgeDefaultTiming();
    PortState* s = NewState();
    BridgeReader r = {};
    int64_t start = PortNativeTicks();
    for (int i = 0; i <= 20; ++i) {
        AtomicAdd(&s->reads, int64_t(1));
        AtomicStore(&s->lastReadTicks, start + i * 10 * MS + (i == 20 ? 4 * MS : 0));
        BridgeWatchReader(&r, s, &t);
    }
    int64_t due = start + 200 * MS;  // the late poll's grid point
    EXPECT_GE(r.grid, due);
    EXPECT_LE(r.grid, due + MS);
    int64_t next = BridgeNextStatusRead(&r, due - t.statusLead, due + 4 * MS, &t);
    EXPECT_LE(next, due + 10 * MS - 2 * MS) << "well before the next poll on the grid";
    EXPECT_GT(next, due + 4 * MS);
    free(s);
}

}  // namespace
