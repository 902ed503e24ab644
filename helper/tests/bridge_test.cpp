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

}  // namespace
