// The shared state under processes that run at once: counters read in an
// order that a helper advancing them cannot make look corrupt, a state that
// a live helper serves never cleared under it, a writer preempted between
// claiming its entry and completing it waited for, and the age of a status
// nobody reads any more.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>
#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include "portnative.h"
#include "procstat.h"

namespace {

constexpr int64_t TICKS_PER_MS = PORTSTATE_NATIVE_FREQUENCY / 1000;
static int Sleeps;
void CountSleep(int) { ++Sleeps; }

std::unique_ptr<PortState> Fresh()
{
    std::unique_ptr<PortState> s(new PortState);
    PortStateInit(s.get(), PORTSTATE_NATIVE_FREQUENCY, 0);
    return s;
}

// A writer and a helper as fast as they go, with `applied` right behind
// `writes`: a reader checking the counters must never see them wrong.
TEST(PortRaces, CountersReadWhileTheHelperAdvancesNeverLookCorrupt)
{
    std::unique_ptr<PortState> s = Fresh();
    std::atomic<bool> stop{ false };
    std::thread helper([&] {
        while (!stop) {
            int64_t n = AtomicLoad(&s->writes) + 1;
            AtomicStore(&s->writes, n);
            AtomicStore(&s->applied, n);
        }
    });
    int bad = 0;
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(500);
    while (std::chrono::steady_clock::now() < end && bad == 0)
        for (int i = 0; i < 10000; ++i)
            bad += PortStateCountersOk(s.get()) ? 0 : 1;
    stop = true;
    helper.join();
    EXPECT_EQ(bad, 0) << "a healthy state looked corrupt";
}

TEST(PortRaces, AStateALiveHelperServesIsMendedNeverCleared)
{
    std::unique_ptr<PortState> s = Fresh();
    PortState* p = s.get();
    AtomicStore(&p->backend, uint32_t(PORT_BACKEND_PPDEV));
    PortStateSetTarget(p, "/dev/parport0");
    for (uint16_t v = 1; v <= 5; ++v)
        PortStateAppend(p, PORT_DATA, v, PortNativeTicks);
    AtomicStore(&p->applied, int64_t(3));
    AtomicStore(&p->helperPid, static_cast<int32_t>(getpid()));
    AtomicStore(&p->helperStart, PortProcessIdentity(getpid()));
    AtomicStore(&p->helperState, uint32_t(HELPER_AWAKE));
    AtomicStore(&p->helperBeat, PortNativeTicks());
    ASSERT_TRUE(PortHelperServes(p, PortNativeTicks()));
    AtomicStore(&p->version, uint32_t(99));
    AtomicStore(&p->reads, int64_t(-4));
    EXPECT_FALSE(PortStateRepair(p, PORTSTATE_NATIVE_FREQUENCY, PortHelperServes(p, PortNativeTicks())));
    EXPECT_TRUE(PortStateValid(p));
    EXPECT_EQ(p->resets, 1);
    EXPECT_EQ(PortStateWriteCount(p), 5) << "the journal kept";
    EXPECT_EQ(AtomicLoad(&p->applied), 3);
    EXPECT_STREQ(p->target, "/dev/parport0") << "the target kept, not sim";
    EXPECT_EQ(AtomicLoad(&p->backend), uint32_t(PORT_BACKEND_PPDEV));
    AtomicStore(&p->writes, int64_t(-1));
    PortStateRepair(p, PORTSTATE_NATIVE_FREQUENCY, true);
    EXPECT_EQ(PortStateWriteCount(p), 3) << "a corrupt count comes back to what was applied";
    AtomicStore(&p->helperStart, PortProcessIdentity(getpid()) ^ 7);
    EXPECT_FALSE(PortHelperServes(p, PortNativeTicks())) << "a reused pid serves nothing";
}

TEST(PortRaces, AWriterPreemptedMidEntryIsWaitedForOneThatDiedIsALoss)
{
    std::unique_ptr<PortState> s = Fresh();
    PortState* p = s.get();
    int slot = PortStateTakeClient(p, getpid(), 0, 1, PortProcessIdentity(getpid()));
    PortStateAppendAs(p, slot, PORT_DATA, 1, PortNativeTicks);
    // The slot's writer claims entry 1 and is preempted before completing it.
    AtomicAdd(&p->clientWriting[slot], uint8_t(1));
    AtomicStore(&p->writes, int64_t(2));
    AtomicStore(&p->journal[1].stamp, int64_t(2 * 1 + 1));
    PortStateAppend(p, PORT_DATA, 3, PortNativeTicks);  // another writer goes on
    JournalWrite out[8];
    int64_t next = 0;
    JournalLosses lost;
    Sleeps = 0;
    for (int look = 0; look < 3; ++look) {  // however long it takes
        size_t n = PortStateCopyJournalLosses(p, 0, out, 8, &next, &lost, CountSleep);
        EXPECT_EQ(n, 1u);
        EXPECT_EQ(next, 1) << "the reader stops at the claimed entry";
        EXPECT_EQ(lost.torn, 0);
    }
    EXPECT_EQ(Sleeps, 0) << "nor does it spend a budget on it";
    // It completes: nothing lost, order kept.
    p->journal[1].ticks = PortNativeTicks();
    p->journal[1].port = PORT_DATA;
    p->journal[1].value = 2;
    AtomicStore(&p->journal[1].stamp, int64_t(2 * 1 + 2));
    AtomicAdd(&p->clientWriting[slot], uint8_t(0xFF));
    ASSERT_EQ(PortStateCopyJournalLosses(p, 0, out, 8, &next, &lost, CountSleep), 3u);
    EXPECT_EQ(out[1].value, 2);
    EXPECT_EQ(lost.torn + lost.overwritten, 0);
    // A writer that died mid-entry: once its slot is freed, a loss by that name.
    AtomicAdd(&p->clientWriting[slot], uint8_t(1));
    AtomicStore(&p->writes, int64_t(4));
    AtomicStore(&p->journal[3].stamp, int64_t(2 * 3 + 1));
    PortStateAppend(p, PORT_DATA, 5, PortNativeTicks);
    PortStateFreeClient(p, slot);
    EXPECT_EQ(PortStateCopyJournalLosses(p, 3, out, 8, &next, &lost, CountSleep), 1u);
    EXPECT_EQ(lost.torn, 1);
    EXPECT_EQ(lost.overwritten, 0);
}

TEST(PortRaces, AStatusNobodyReadsAnyMoreIsStaleWithItsAge)
{
    std::unique_ptr<PortState> s = Fresh();
    PortState* p = s.get();
    int64_t now = PortNativeTicks();
    AtomicStore(&p->statusTicks, now - 3200 * TICKS_PER_MS);
    EXPECT_EQ(PortStatusAgeUpdate(p, now), 0u) << "the simulated port has no age";
    AtomicStore(&p->backend, uint32_t(PORT_BACKEND_PPDEV));
    EXPECT_EQ(PortStatusAgeUpdate(p, now), 3200u);
    EXPECT_EQ(AtomicLoad(&p->statusAge), 3200u) << "published for every reader";
    AtomicStore(&p->statusTicks, now - (HELPER_LOST_MS - 10) * TICKS_PER_MS);
    EXPECT_EQ(PortStatusAgeUpdate(p, now), 0u);
    EXPECT_EQ(AtomicLoad(&p->statusAge), 0u);
}

TEST(ProcStat, IdentityFromStatAndMapsLines)
{
    const char stat[] = "77 (a) b) c) S 1 77 77 0 -1 4194304 1 0 0 0 0 0 0 0 20 0 1 0 4242 1000 10";
    char state = 0;
    uint64_t start = 0;
    ASSERT_TRUE(ParseProcStat(stat, strlen(stat), &state, &start));
    EXPECT_EQ(state, 'S');
    EXPECT_EQ(start, 4242u) << "a name with parentheses and spaces";
    EXPECT_EQ(ProcIdentityFromStat(stat, strlen(stat)), ProcIdentityOf(4242));
    std::string zombie(stat);
    zombie[zombie.find(") S") + 2] = 'Z';
    EXPECT_EQ(ProcIdentityFromStat(zombie.c_str(), zombie.size()), 0u) << "a zombie has ended";
    EXPECT_FALSE(ParseProcStat(stat, 20, &state, &start)) << "cut short";
    EXPECT_NE(ProcIdentityOf(0), 0u);
    EXPECT_NE(PortProcessIdentity(getpid()), 0u);
    EXPECT_EQ(PortProcessIdentity(getpid()), PortProcessIdentity(getpid()));

    const char line[] = "7f12a000-7f13b000 rw-s 00000000 103:0a 9876543   /run/user/1000/travek/port-state.v2";
    uint64_t at = 0, inode = 0;
    uint32_t major = 0, minor = 0;
    ASSERT_TRUE(ParseMapsLine(line, strlen(line), &at, &major, &minor, &inode));
    EXPECT_EQ(at, 0x7f12a000u);
    EXPECT_EQ(major, 0x103u);
    EXPECT_EQ(minor, 0x0au);
    EXPECT_EQ(inode, 9876543u);
    uint64_t dev = (uint64_t(0x103) << 8) | 0x0a;
    EXPECT_EQ(DeviceMajor(dev), 0x103u);
    EXPECT_EQ(DeviceMinor(dev), 0x0au);
}

}  // namespace
