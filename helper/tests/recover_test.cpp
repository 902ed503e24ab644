// The helper across faults, against a fake device: interrupted calls are
// made again, control writes reach the device, losses are named by cause,
// a stale backlog is passed over by the written rule, a failing device is
// tried again with back-off until it answers, and a fault a new try cannot
// change ends the helper as refused.
#include <errno.h>
#include <gtest/gtest.h>
#include <string.h>
#include <unistd.h>
#include <chrono>
#include <future>
#include <thread>
#include "bridge_recover.h"
#include "fakedevice.h"

namespace {

constexpr int64_t TICKS_PER_MS = PORTSTATE_NATIVE_FREQUENCY / 1000;
constexpr auto LIMIT = std::chrono::milliseconds(10000);  // bound on every wait here

template <typename F> bool WaitFor(F cond)
{
    auto end = std::chrono::steady_clock::now() + LIMIT;
    while (!cond()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

BridgeTiming FastTiming()
{
    BridgeTiming t = BridgeDefaultTiming();
    t.statusMinGap = TICKS_PER_MS;
    t.awakePoll = TICKS_PER_MS / 50;
    t.awakeWindow = TICKS_PER_MS / 5;
    t.clientCheck = 5 * TICKS_PER_MS;
    t.idleExit = 100 * TICKS_PER_MS;
    return t;
}

TEST(BridgeApply, InterruptedCallsAreMadeAgainAndControlWritesReachTheDevice)
{
    PortState* s = NewState();
    FakeDevice d;
    BridgeDevice dev = FakeBridgeDevice(&d);
    PortStateAppend(s, PORT_DATA, 5, PortNativeTicks);
    PortStateAppend(s, PORT_CONTROL, 0x10C, PortNativeTicks);
    PortStateAppend(s, PORT_DATA, 6, PortNativeTicks);
    d.interrupts = 3;  // a signal during the first calls
    int err = 0;
    EXPECT_EQ(BridgeApply(s, &dev, &err), 3) << "errno " << err;
    EXPECT_EQ(d.written, (std::vector<uint8_t>{ 5, 6 }));
    EXPECT_EQ(d.controls, (std::vector<uint8_t>{ 0x0C }));
    EXPECT_EQ(AtomicLoad(&s->wireWrites), 2) << "data writes only";
    d.interrupts = 2;
    EXPECT_EQ(BridgeReadStatus(s, &dev, PortNativeTicks()), 0);
    EXPECT_EQ(AtomicLoad(&s->fault), uint32_t(PORT_FAULT_NONE)) << s->faultText;
    free(s);
}

TEST(BridgeApply, AWriterThatDiedMidWriteIsALossNamedAsSuch)
{
    PortState* s = NewState();
    FakeDevice d;
    BridgeDevice dev = FakeBridgeDevice(&d);
    PortStateAppend(s, PORT_DATA, 1, PortNativeTicks);
    AtomicStore(&s->writes, int64_t(2));  // entry 1 claimed, never written
    PortStateAppend(s, PORT_DATA, 3, PortNativeTicks);
    int err = 0;
    while (BridgeApply(s, &dev, &err) > 0) {
    }
    EXPECT_EQ(d.written, (std::vector<uint8_t>{ 1, 3 }));
    EXPECT_EQ(AtomicLoad(&s->fault), uint32_t(PORT_FAULT_WRITES_LOST));
    EXPECT_NE(strstr(s->faultText, "en pleine écriture"), nullptr) << s->faultText;
    EXPECT_EQ(strstr(s->faultText, "retard"), nullptr) << "not the helper's delay: " << s->faultText;
    free(s);
}

TEST(BridgeResume, AShortBacklogGoesOutInOrderALongOneGivesTheCurrentValueAtOnce)
{
    PortState* s = NewState();
    FakeDevice d;
    BridgeDevice dev = FakeBridgeDevice(&d);
    int64_t limit = PORT_REPLAY_LIMIT_MS * TICKS_PER_MS;
    for (uint16_t v = 1; v <= 4; ++v)
        PortStateAppend(s, PORT_DATA, v, PortNativeTicks);
    int err = 0;
    EXPECT_EQ(BridgeSkipStaleBacklog(s, &dev, PortNativeTicks(), limit, &err), 0) << "fresh: replayed";
    EXPECT_TRUE(d.written.empty());
    EXPECT_EQ(AtomicLoad(&s->applied), 0);

    PortStateAppend(s, PORT_CONTROL, 0x04, PortNativeTicks);
    PortStateAppend(s, PORT_DATA, 0x105, PortNativeTicks);
    int64_t later = PortNativeTicks() + limit + TICKS_PER_MS;  // the device came back long after
    EXPECT_EQ(BridgeSkipStaleBacklog(s, &dev, later, limit, &err), 6);
    EXPECT_EQ(d.written, (std::vector<uint8_t>{ 5 })) << "only the current value";
    EXPECT_EQ(d.controls, (std::vector<uint8_t>{ 4 }));
    EXPECT_EQ(AtomicLoad(&s->unapplied), 4) << "the four older data writes";
    EXPECT_EQ(AtomicLoad(&s->lastSkipEnd), 6);
    EXPECT_EQ(AtomicLoad(&s->lastSkipLength), 6u) << "where: entries 0 to 5";
    EXPECT_EQ(AtomicLoad(&s->applied), AtomicLoad(&s->writes));
    EXPECT_EQ(AtomicLoad(&s->wireWrites), 1);
    PortStateAppend(s, PORT_DATA, 7, PortNativeTicks);
    EXPECT_EQ(BridgeApply(s, &dev, &err), 1);
    EXPECT_EQ(d.written, (std::vector<uint8_t>{ 5, 7 })) << "then in order as usual";
    free(s);
}

// A device behind an opener that fails `failures` times with `code`.
struct FakeOpener {
    FakeDevice device;
    std::atomic<int> failures{ 0 };
    std::atomic<int> opens{ 0 };
    PortFaultCode code = PORT_FAULT_BUSY;
};

bool FakeOpen(void* context, PortState*, PpdevFault* f)
{
    FakeOpener* o = static_cast<FakeOpener*>(context);
    ++o->opens;
    if (o->failures > 0) {
        --o->failures;
        f->code = o->code;
        snprintf(f->text, sizeof f->text, "faux port en panne (%d)", static_cast<int>(o->code));
        return false;
    }
    return true;
}

void FakeClose(void*) {}

BridgeRecovery FastRecovery()
{
    return BridgeRecovery{ PORT_REPLAY_LIMIT_MS * TICKS_PER_MS, 5, 40 };
}

TEST(BridgeServe, ABusyPortIsTriedAgainAndSaidOnceThenServedWithoutARestart)
{
    PortState* s = NewState();
    FakeOpener fo;
    fo.failures = 4;
    BridgeOpener o = { &fo, FakeOpen, FakeClose, FakeBridgeDevice(&fo.device) };
    BridgeTiming t = FastTiming();
    BridgeRecovery r = FastRecovery();
    int slot = PortStateTakeClient(s, getpid(), 0, PortNativeTicks(), PortProcessIdentity(getpid()));
    PortStateAppend(s, PORT_DATA, 9, PortNativeTicks);  // journaled while the port is held
    auto run = std::async(std::launch::async, [&] { return BridgeServe(s, &o, &t, &r); });
    ASSERT_TRUE(WaitFor([&] { return AtomicLoad(&s->helperState) == HELPER_WAITING; }));
    EXPECT_EQ(AtomicLoad(&s->fault), uint32_t(PORT_FAULT_BUSY));
    ASSERT_TRUE(WaitFor([&] { return AtomicLoad(&s->applied) == 1; }));
    EXPECT_EQ(AtomicLoad(&s->faults), 1u) << "the same fault said once";
    EXPECT_EQ(AtomicLoad(&s->deviceRetries), 4u);
    {
        std::lock_guard<std::mutex> g(fo.device.lock);
        EXPECT_EQ(fo.device.written, (std::vector<uint8_t>{ 9 })) << "a short backlog goes out";
        fo.device.statusError = EIO;  // fails mid-session
    }
    ASSERT_TRUE(WaitFor([&] { return AtomicLoad(&s->fault) == PORT_FAULT_DEVICE_LOST; }));
    EXPECT_EQ(AtomicLoad(&s->helperState), uint32_t(HELPER_WAITING)) << "beating, not failed";
    {
        std::lock_guard<std::mutex> g(fo.device.lock);
        fo.device.statusError = 0;
    }
    ASSERT_TRUE(WaitFor([&] { return PortHelperHoldsPort(AtomicLoad(&s->helperState)); }));
    PortStateAppend(s, PORT_DATA, 10, PortNativeTicks);
    ASSERT_TRUE(WaitFor([&] { return AtomicLoad(&s->applied) == 2; })) << "resumed by itself";
    PortStateFreeClient(s, slot);
    ASSERT_EQ(run.wait_for(LIMIT), std::future_status::ready);
    EXPECT_EQ(run.get(), BRIDGE_EXIT_DONE);
    free(s);
}

TEST(BridgeServe, AFaultANewTryCannotChangeEndsTheHelperAsRefused)
{
    PortState* s = NewState();
    FakeOpener fo;
    fo.failures = 1000;
    fo.code = PORT_FAULT_PERMISSION;
    BridgeOpener o = { &fo, FakeOpen, FakeClose, FakeBridgeDevice(&fo.device) };
    BridgeTiming t = FastTiming();
    BridgeRecovery r = FastRecovery();
    PortStateTakeClient(s, getpid(), 0, PortNativeTicks());
    EXPECT_EQ(BridgeServe(s, &o, &t, &r), BRIDGE_EXIT_FAILED);
    EXPECT_EQ(fo.opens, 1);
    EXPECT_EQ(AtomicLoad(&s->helperState), uint32_t(HELPER_REFUSED));
    EXPECT_EQ(AtomicLoad(&s->fault), uint32_t(PORT_FAULT_PERMISSION));
    free(s);
}

}  // namespace
