// The claim behind every session (PpdevClaimPort) on the emulated device:
// its three outcomes, the wait bounded and cut by the beat, and nothing of
// it left on the port's wait list.
#include <gtest/gtest.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>
#include <string>
#include "portnative.h"
#include "ppdev.h"

namespace {

constexpr int SHORT_LIMIT_MS = 300;  // a wait bound that keeps the test short

std::string Device(int n = 0)
{
    const char* m = getenv("TRAVEK_EMUPORT");
    return std::string(m ? m : "") + "/parport" + std::to_string(n);
}

void Control(const std::string& line, int n = 0)
{
    FILE* f = fopen((Device(n) + ".ctl").c_str(), "w");
    ASSERT_NE(f, nullptr);
    fprintf(f, "%s\n", line.c_str());
    fclose(f);
}

std::string State(const std::string& key)
{
    FILE* f = fopen((Device() + ".ctl").c_str(), "r");
    char k[64], v[64];
    std::string value;
    while (f && fscanf(f, "%63s %63s", k, v) == 2)
        if (key == k)
            value = v;
    if (f)
        fclose(f);
    return value;
}

class Claim : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!getenv("TRAVEK_EMUPORT"))
            GTEST_SKIP() << "run inside with-emuport.sh";
        Control("normal\nclaimwait 0");
    }
};

TEST_F(Claim, AFreePortIsClaimedAtOnce)
{
    PpdevClaim c = PpdevClaimPort(Device().c_str(), SHORT_LIMIT_MS, nullptr, nullptr);
    ASSERT_EQ(c.result, PPDEV_CLAIMED);
    EXPECT_EQ(State("claimed"), "1");
    PpdevClose(c.fd);
    EXPECT_EQ(State("claimed"), "0");
}

TEST_F(Claim, AHeldPortIsStillHeldAfterTheLimitWithNothingLeftWaiting)
{
    Control("busy");
    int beats = 0;
    int64_t start = PortNativeMs();
    PpdevClaim c = PpdevClaimPort(Device().c_str(), SHORT_LIMIT_MS,
                                  [](void* n) { ++*static_cast<int*>(n); return true; }, &beats);
    int64_t waited = PortNativeMs() - start;
    EXPECT_EQ(c.result, PPDEV_STILL_HELD);
    EXPECT_EQ(c.fd, -1);
    EXPECT_GE(waited, SHORT_LIMIT_MS);
    EXPECT_LT(waited, SHORT_LIMIT_MS + 1000);
    EXPECT_GE(beats, SHORT_LIMIT_MS / PPDEV_CLAIM_PERIOD_MS / 2) << "beats between the tries";
    EXPECT_EQ(State("waiters"), "0") << "every cut claim's file closed";
    EXPECT_EQ(State("requeued"), "0") << "no claim retried on a file still waiting";
}

TEST_F(Claim, TheBeatEndsTheWaitAndAFreedPortIsTakenDuringIt)
{
    Control("busy");
    int64_t start = PortNativeMs();
    PpdevClaim c = PpdevClaimPort(Device().c_str(), PPDEV_CLAIM_LIMIT_MS, [](void*) { return false; }, nullptr);
    EXPECT_EQ(c.result, PPDEV_STILL_HELD);
    EXPECT_LT(PortNativeMs() - start, PPDEV_CLAIM_LIMIT_MS / 2) << "ended at the first beat";

    // The other program lets go at the third beat: the next try takes the port.
    int beats = 0;
    c = PpdevClaimPort(Device().c_str(), PPDEV_CLAIM_LIMIT_MS,
                       [](void* n) {
                           if (++*static_cast<int*>(n) == 3)
                               Control("normal");
                           return true;
                       },
                       &beats);
    ASSERT_EQ(c.result, PPDEV_CLAIMED);
    EXPECT_EQ(beats, 3);
    PpdevClose(c.fd);
}

TEST_F(Claim, ErrorsSayTheirStep)
{
    PpdevClaim c = PpdevClaimPort(Device(9).c_str(), SHORT_LIMIT_MS, nullptr, nullptr);
    EXPECT_EQ(c.result, PPDEV_CLAIM_ERROR);
    EXPECT_EQ(c.step, PPDEV_STEP_OPEN);
    EXPECT_EQ(c.err, ENOENT);
    Control("noport");
    c = PpdevClaimPort(Device().c_str(), SHORT_LIMIT_MS, nullptr, nullptr);
    EXPECT_EQ(c.result, PPDEV_CLAIM_ERROR);
    EXPECT_EQ(c.step, PPDEV_STEP_CLAIM);
    EXPECT_EQ(c.err, ENXIO);
    EXPECT_EQ(c.fd, -1);
}

}  // namespace
