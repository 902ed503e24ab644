// The helper program itself on the emulated parallel port (run inside the
// emulated port's fixture, TRAVEK_EMUPORT): writes reach the device in order,
// the status follows the pins, it ends without clients, a vanished device or
// a second helper each end as they should, and a held port is waited for.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <string>
#include <vector>
#include "portnative.h"

namespace {

constexpr int64_t LIMIT_TICKS = 10 * PORTSTATE_NATIVE_FREQUENCY;  // bound on every wait
constexpr int POLL_US = 1000;

std::string Mount()
{
    const char* m = getenv("TRAVEK_EMUPORT");
    return m ? m : "";
}

void Control(const std::string& line)
{
    FILE* f = fopen((Mount() + "/parport0.ctl").c_str(), "w");
    ASSERT_NE(f, nullptr);
    fprintf(f, "%s\n", line.c_str());
    fclose(f);
}

std::vector<int> WireValues()
{
    std::vector<int> values;
    FILE* f = fopen((Mount() + "/parport0.writes").c_str(), "r");
    unsigned v;
    long long t;
    while (f && fscanf(f, "%u %lld", &v, &t) == 2)
        values.push_back(static_cast<int>(v));
    if (f)
        fclose(f);
    return values;
}

template <typename F> bool WaitFor(F cond)
{
    int64_t end = PortNativeTicks() + LIMIT_TICKS;
    while (!cond() && PortNativeTicks() < end)
        usleep(POLL_US);
    return cond();
}

// A state file of its own for each test, set for the emulated device.
struct Session {
    std::string dir, path;
    PortState* s = nullptr;
    int slot = -1;
};

void Open(Session* x)
{
    char tmpl[] = "/tmp/travek-helper-run-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    x->dir = tmpl;
    x->path = x->dir + "/port-state";
    char err[PORTSTATE_ERROR_MAX];
    x->s = PortStateMapNative(x->path.c_str(), true, err, sizeof err);
    ASSERT_NE(x->s, nullptr) << err;
    AtomicStore(&x->s->backend, uint32_t(PORT_BACKEND_PPDEV));
    PortStateSetTarget(x->s, (Mount() + "/parport0").c_str());
    x->slot = PortStateTakeClient(x->s, getpid(), 0, PortNativeTicks());
    Control("normal");
    Control("clear");
}

void Close(Session* x)
{
    if (x->s)
        PortStateUnmapNative(x->s);
    unlink(x->path.c_str());
    rmdir(x->dir.c_str());
}

pid_t Start(const Session& x)
{
    pid_t pid = fork();
    if (pid == 0) {
        execl(HELPER_PATH, HELPER_PATH, x.path.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    return pid;
}

// The helper's exit code, or -1 if it has not ended within the limit (then killed).
int Ended(pid_t pid)
{
    int status = 0;
    bool reaped = false;
    if (!WaitFor([&] { return reaped || (reaped = waitpid(pid, &status, WNOHANG) == pid); })) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool Serving(PortState* s)
{
    return PortHelperHoldsPort(AtomicLoad(&s->helperState));
}

void LibraryWrite(PortState* s, uint16_t value)
{
    PortNativeWrite(s, -1, PORT_DATA, value);
}

class HelperOnEmulatedPort : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (Mount().empty())
            GTEST_SKIP() << "run inside the emulated port's fixture";
        Open(&x);
    }
    void TearDown() override { Close(&x); }
    Session x;
};

TEST_F(HelperOnEmulatedPort, WritesArriveInOrderStatusFollowsAndItEndsWithoutClients)
{
    pid_t helper = Start(x);
    ASSERT_TRUE(WaitFor([&] { return Serving(x.s); }));
    std::vector<int> expected;
    for (int i = 0; i < 60; ++i) {
        LibraryWrite(x.s, 0);
        LibraryWrite(x.s, static_cast<uint16_t>(0x100 | i));  // the high byte never reaches the wire
        expected.push_back(0);
        expected.push_back(i);
        if (i % 20 == 0) {
            EXPECT_TRUE(WaitFor([&] { return AtomicLoad(&x.s->helperState) == HELPER_SLEEPING; }))
                << "quiet: the helper sleeps, the next write rings it";
        }
    }
    ASSERT_TRUE(WaitFor([&] { return AtomicLoad(&x.s->applied) == AtomicLoad(&x.s->writes); }));
    EXPECT_EQ(WireValues(), expected);
    Control("status 95");
    EXPECT_TRUE(WaitFor([&] {
        PortStateNoteRead(x.s, PortNativeTicks());  // a read, as the library stamps it
        return AtomicLoad(&x.s->status) == 95;
    }));
    PortStateFreeClient(x.s, x.slot);
    EXPECT_EQ(Ended(helper), 0);
    EXPECT_EQ(AtomicLoad(&x.s->helperState), uint32_t(HELPER_EXITED));
    EXPECT_EQ(AtomicLoad(&x.s->helperPid), 0);
    EXPECT_EQ(AtomicLoad(&x.s->fault), uint32_t(PORT_FAULT_NONE));
}

TEST_F(HelperOnEmulatedPort, AVanishedDeviceIsReportedTriedAgainAndResumedWithoutARestart)
{
    pid_t helper = Start(x);
    ASSERT_TRUE(WaitFor([&] { return Serving(x.s); }));
    LibraryWrite(x.s, 0);
    LibraryWrite(x.s, 7);
    ASSERT_TRUE(WaitFor([&] { return AtomicLoad(&x.s->applied) == 2; }));
    Control("vanish");
    LibraryWrite(x.s, 0);
    LibraryWrite(x.s, 9);
    ASSERT_TRUE(WaitFor([&] { return AtomicLoad(&x.s->fault) == PORT_FAULT_DEVICE_LOST; }));
    EXPECT_NE(strstr(x.s->faultText, "parport0"), nullptr) << x.s->faultText;
    EXPECT_EQ(AtomicLoad(&x.s->helperState), uint32_t(HELPER_WAITING)) << "beating, trying again";
    EXPECT_EQ(AtomicLoad(&x.s->wireWrites), 2);
    EXPECT_EQ(AtomicLoad(&x.s->applied), 2) << "journaled, waiting for the port";
    EXPECT_TRUE(WaitFor([&] { return AtomicLoad(&x.s->deviceRetries) >= 2; }));
    Control("normal");
    ASSERT_TRUE(WaitFor([&] { return AtomicLoad(&x.s->applied) == 4; })) << "resumed by itself";
    // The written rule: a short outage replays in order, a long one gives the current value.
    std::vector<int> wire = WireValues();
    if (AtomicLoad(&x.s->unapplied) == 0)
        EXPECT_EQ(wire, (std::vector<int>{ 0, 7, 0, 9 }));
    else
        EXPECT_EQ(wire, (std::vector<int>{ 0, 7, 9 }));
    PortStateFreeClient(x.s, x.slot);
    EXPECT_EQ(Ended(helper), 0);
}

TEST_F(HelperOnEmulatedPort, ASecondHelperIsRefusedAndAHeldPortIsWaitedFor)
{
    pid_t first = Start(x);
    ASSERT_TRUE(WaitFor([&] { return Serving(x.s); }));
    EXPECT_EQ(Ended(Start(x)), 2);
    EXPECT_EQ(AtomicLoad(&x.s->fault), uint32_t(PORT_FAULT_HELPER_DUPLICATE)) << "said, with its cause";
    EXPECT_TRUE(Serving(x.s));
    PortStateFreeClient(x.s, x.slot);
    EXPECT_EQ(Ended(first), 0);

    x.slot = PortStateTakeClient(x.s, getpid(), 0, PortNativeTicks());
    Control("busy");
    pid_t waiting = Start(x);
    ASSERT_TRUE(WaitFor([&] { return AtomicLoad(&x.s->fault) == PORT_FAULT_BUSY; }));
    EXPECT_EQ(AtomicLoad(&x.s->helperState), uint32_t(HELPER_WAITING));
    LibraryWrite(x.s, 0);
    LibraryWrite(x.s, 5);
    Control("normal");
    ASSERT_TRUE(WaitFor([&] { return Serving(x.s) && AtomicLoad(&x.s->applied) == AtomicLoad(&x.s->writes); }))
        << "the port taken once the holder lets go";
    PortStateFreeClient(x.s, x.slot);
    EXPECT_EQ(Ended(waiting), 0);
}

}  // namespace
