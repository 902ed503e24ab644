// The bridge loop end to end against a fake device: the doorbell wakes it,
// every write arrives, the status follows a reader and is left alone without
// one, it ends without clients and fails cleanly when the device does.
#include <errno.h>
#include <gtest/gtest.h>
#include <string.h>
#include <unistd.h>
#include <chrono>
#include <algorithm>
#include <future>
#include <thread>
#include "fakedevice.h"

namespace {

constexpr auto LOOP_LIMIT = std::chrono::milliseconds(10000);  // bound on every wait here
constexpr int64_t TICKS_PER_MS = PORTSTATE_NATIVE_FREQUENCY / 1000;

BridgeTiming FastTiming()
{
    BridgeTiming t;
    t.statusMinGap = 1 * TICKS_PER_MS;
    t.statusLead = TICKS_PER_MS / 2;
    t.readerPeriod = 2 * TICKS_PER_MS;
    t.readerGone = 20 * TICKS_PER_MS;
    t.awakePoll = TICKS_PER_MS / 50;
    t.awakeWindow = TICKS_PER_MS / 5;
    t.clientCheck = 5 * TICKS_PER_MS;
    t.idleExit = 50 * TICKS_PER_MS;
    return t;
}

// The library's side of a write: journal it, ring only a sleeping helper.
void WriteAndRing(PortState* s, uint16_t value)
{
    PortNativeWrite(s, -1, PORT_DATA, value);
}

// Polls cond until it holds or LOOP_LIMIT passes.
template <typename F> bool WaitFor(F cond, std::chrono::milliseconds limit = LOOP_LIMIT)
{
    auto end = std::chrono::steady_clock::now() + limit;
    while (!cond()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::yield();
    }
    return true;
}

TEST(BridgeRun, SleepsWakesOnTheDoorbellFollowsTheStatusAndEndsWithoutClients)
{
    PortState* s = NewState();
    FakeDevice d;
    BridgeDevice dev = FakeBridgeDevice(&d);
    BridgeTiming t = FastTiming();
    int slot = PortStateTakeClient(s, getpid(), 0, PortNativeTicks());
    auto run = std::async(std::launch::async, [&] { return BridgeRun(s, &dev, &t); });

    ASSERT_TRUE(WaitFor([&] { return AtomicLoad(&s->helperState) == HELPER_SLEEPING; }));
    uint32_t bell = AtomicLoad(&s->doorbell);
    WriteAndRing(s, 0);
    WriteAndRing(s, 0x2A);
    EXPECT_EQ(AtomicLoad(&s->doorbell), bell + 1);  // rung once: the second found it awake
    ASSERT_TRUE(WaitFor([&] { return AtomicLoad(&s->applied) == 2; }));
    {
        std::lock_guard<std::mutex> g(d.lock);
        EXPECT_EQ(d.written, (std::vector<uint8_t>{ 0, 0x2A }));
        d.status = 0x3F;
    }
    ASSERT_TRUE(WaitFor([&] {
        StampRead(s);  // a program polling
        return AtomicLoad(&s->status) == 0x3F;
    }));

    PortStateFreeClient(s, slot);
    ASSERT_EQ(run.wait_for(LOOP_LIMIT), std::future_status::ready);
    EXPECT_EQ(run.get(), BRIDGE_EXIT_DONE);
    EXPECT_EQ(AtomicLoad(&s->helperState), uint32_t(HELPER_EXITED));
    EXPECT_EQ(AtomicLoad(&s->fault), uint32_t(PORT_FAULT_NONE));
    free(s);
}

TEST(BridgeRun, NoSleepWhileAWriteCameAfterTheLastLookOrAWholeEntryWaits)
{
    PortState* s = NewState();
    EXPECT_FALSE(BridgeHasWork(s, 0));
    PortStateAppend(s, PORT_DATA, 1, PortNativeTicks);
    EXPECT_TRUE(BridgeHasWork(s, 0));  // arrived after the look
    EXPECT_TRUE(BridgeHasWork(s, 1));  // looked at, complete, not applied
    AtomicStore(&s->applied, int64_t(1));
    EXPECT_FALSE(BridgeHasWork(s, 1));
    AtomicStore(&s->writes, int64_t(2));  // claimed, its entry not yet written:
    EXPECT_FALSE(BridgeHasWork(s, 2));    // its writer rings once it is
    free(s);
}

TEST(BridgeRun, FarBehindASlowDeviceItStillBeatsAndReadsTheStatus)
{
    PortState* s = NewState();
    FakeDevice d;
    d.writeDelayUs = 1000;
    BridgeDevice dev = FakeBridgeDevice(&d);
    BridgeTiming t = FastTiming();
    int slot = PortStateTakeClient(s, getpid(), 0, PortNativeTicks());
    const int count = 600;  // over half a second of device time
    for (int i = 0; i < count; ++i)
        PortStateAppend(s, PORT_DATA, static_cast<uint16_t>(i), PortNativeTicks);
    auto run = std::async(std::launch::async, [&] { return BridgeRun(s, &dev, &t); });
    int64_t worstBeatAge = 0;
    bool done = WaitFor([&] {
        StampRead(s);
        int64_t beat = AtomicLoad(&s->helperBeat);
        if (beat > 0 && AtomicLoad(&s->applied) < count)
            worstBeatAge = std::max(worstBeatAge, PortNativeTicks() - beat);
        return AtomicLoad(&s->applied) == count;
    });
    EXPECT_TRUE(done);
    EXPECT_LT(worstBeatAge, HELPER_LOST_MS * TICKS_PER_MS / 2);  // never near being taken for lost
    {
        std::lock_guard<std::mutex> g(d.lock);
        EXPECT_GT(d.statusReads, 1) << "the reader was served between batches";
    }
    PortStateFreeClient(s, slot);
    ASSERT_EQ(run.wait_for(LOOP_LIMIT), std::future_status::ready);
    EXPECT_EQ(run.get(), BRIDGE_EXIT_DONE);
    free(s);
}

int StatusReads(FakeDevice& d)
{
    std::lock_guard<std::mutex> g(d.lock);
    return d.statusReads;
}

// Status reads counted over `ms`.
int ReadsOver(FakeDevice& d, int ms, PortState* polled = nullptr)
{
    int before = StatusReads(d);
    for (int waited = 0; waited < ms; waited += 2) {
        if (polled)
            StampRead(polled);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return StatusReads(d) - before;
}

// Without a reader the register is read only at the beat; a reader polling
// every 2 ms gets about a read per poll, not a fixed clock's; once it stops
// the reads go back to the beat.
TEST(BridgeRun, TheStatusIsReadForAReaderAndElseOnlyAtTheBeat)
{
    PortState* s = NewState();
    FakeDevice d;
    BridgeDevice dev = FakeBridgeDevice(&d);
    BridgeTiming t = FastTiming();
    t.clientCheck = 20 * TICKS_PER_MS;
    const int ms = 200, beats = ms / 20;
    int slot = PortStateTakeClient(s, getpid(), 0, PortNativeTicks());
    auto run = std::async(std::launch::async, [&] { return BridgeRun(s, &dev, &t); });
    ASSERT_TRUE(WaitFor([&] { return StatusReads(d) >= 1; }));
    EXPECT_LE(ReadsOver(d, ms), beats + 2) << "no reader: at the beat only";

    int served = ReadsOver(d, ms, s);
    EXPECT_GE(served, 2 * beats) << "a polling reader is served more often than the beat";
    EXPECT_LE(served, ms / 2 * 2 + 2) << "at most twice per read: the reader's pace, not a clock's";

    std::this_thread::sleep_for(std::chrono::milliseconds(2 * t.readerGone / TICKS_PER_MS));
    EXPECT_LE(ReadsOver(d, ms), beats + 2) << "the reader gone: at the beat again";
    PortStateFreeClient(s, slot);
    ASSERT_EQ(run.wait_for(LOOP_LIMIT), std::future_status::ready);
    EXPECT_EQ(run.get(), BRIDGE_EXIT_DONE);
    free(s);
}

TEST(BridgeRun, ADeviceThatFailsMidSessionIsReportedInTheState)
{
    PortState* s = NewState();
    FakeDevice d;
    d.statusError = ENOTCONN;
    BridgeDevice dev = FakeBridgeDevice(&d);
    BridgeTiming t = FastTiming();
    PortStateTakeClient(s, getpid(), 0, PortNativeTicks());
    auto run = std::async(std::launch::async, [&] { return BridgeRun(s, &dev, &t); });
    ASSERT_EQ(run.wait_for(LOOP_LIMIT), std::future_status::ready);
    EXPECT_EQ(run.get(), BRIDGE_EXIT_FAILED);
    EXPECT_EQ(AtomicLoad(&s->helperState), uint32_t(HELPER_WAITING)) << "beating: its caller tries again";
    EXPECT_EQ(AtomicLoad(&s->fault), uint32_t(PORT_FAULT_DEVICE_LOST));
    EXPECT_EQ(AtomicLoad(&s->faults), 1u);
    EXPECT_GT(AtomicLoad(&s->faultTicks), 0);
    EXPECT_NE(strstr(s->faultText, "/dev/fauxport"), nullptr) << s->faultText;
    EXPECT_NE(strstr(s->faultText, "ENOTCONN"), nullptr) << s->faultText;
    free(s);
}

}  // namespace
