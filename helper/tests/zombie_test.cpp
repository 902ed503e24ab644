// A process that has ended but is not reaped yet (as a killed helper is until
// its Wine parent waits for it) holds neither the port nor a client slot.
#include <gtest/gtest.h>
#include <stdio.h>
#include <sys/wait.h>
#include <unistd.h>
#include "fakedevice.h"
#include "portnative.h"

namespace {

constexpr int ZOMBIE_WAIT_MS = 5000;

// True once /proc shows pid as a zombie.
bool BecomesZombie(pid_t pid)
{
    char path[32];
    snprintf(path, sizeof path, "/proc/%d/stat", static_cast<int>(pid));
    for (int i = 0; i < ZOMBIE_WAIT_MS; ++i) {
        FILE* f = fopen(path, "r");
        char text[256] = "";
        if (f) {
            size_t n = fread(text, 1, sizeof text - 1, f);
            text[n] = '\0';
            fclose(f);
        }
        const char* end = strrchr(text, ')');
        if (end && end[2] == 'Z')
            return true;
        usleep(1000);
    }
    return false;
}

TEST(BridgeLiveness, AnEndedUnreapedProcessCountsAsGone)
{
    PortState* s = NewState();
    pid_t child = fork();
    if (child == 0)
        _exit(0);
    ASSERT_TRUE(BecomesZombie(child));
    int64_t now = PortNativeTicks();
    AtomicStore(&s->helperPid, static_cast<int32_t>(child));
    AtomicStore(&s->helperState, uint32_t(HELPER_STARTING));
    AtomicStore(&s->helperBeat, now);  // a fresh lease, as the library leaves it
    EXPECT_FALSE(BridgeOtherHelper(s, now)) << "a killed helper does not hold the port";
    AtomicStore(&s->clients[0].unixPid, static_cast<int32_t>(child));
    EXPECT_FALSE(BridgeClientsAlive(s));
    AtomicStore(&s->clients[1].unixPid, static_cast<int32_t>(getpid()));
    EXPECT_TRUE(BridgeClientsAlive(s)) << "a live client still counts";
    waitpid(child, nullptr, 0);
}

}  // namespace
