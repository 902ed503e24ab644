// travek-portctl: portctl built natively for Linux, on the same shared state
// file as the program under Wine, with no Wine: the same commands and output
// as portctl.exe (commands.h), and the self-test of a real port.
#include <errno.h>
#include <sched.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/prctl.h>
#include <time.h>
#include "commands.h"
#include "selftest_native.h"
#include "session_native.h"

constexpr char NAME[] = "travek-portctl";
constexpr unsigned long TIMER_SLACK_NS = 1;  // timed steps must end on time
constexpr int64_t TICKS_PER_US = PORTSTATE_NATIVE_FREQUENCY / 1000000;
constexpr int64_t SPIN_TICKS = 100 * TICKS_PER_US;   // the last stretch before a due time: no sleep
constexpr int64_t SLICE_TICKS = 50000 * TICKS_PER_US;  // sleeps are cut to look for Ctrl+C
constexpr int64_t NS_PER_TICK = NS_PER_S / PORTSTATE_NATIVE_FREQUENCY;

static volatile sig_atomic_t StopAsked = 0;  // set on SIGINT or SIGTERM
static NativeSession Session;                // the session of the state commands

static void OnStop(int)
{
    StopAsked = 1;
}

static bool Stopped()
{
    return StopAsked != 0;
}

// No SA_RESTART: a sleep returns at once on Ctrl+C.
static void InstallSignals()
{
    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_handler = OnStop;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
}

static void SleepTicks(int64_t ticks)
{
    int64_t ns = ticks * NS_PER_TICK;
    timespec t = { static_cast<time_t>(ns / NS_PER_S), static_cast<long>(ns % NS_PER_S) };
    nanosleep(&t, nullptr);
}

static void SleepUntil(int64_t ticks)
{
    for (;;) {
        int64_t left = ticks - PortNativeTicks();
        if (left <= 0 || StopAsked)
            return;
        if (left > SPIN_TICKS)
            SleepTicks(left - SPIN_TICKS < SLICE_TICKS ? left - SPIN_TICKS : SLICE_TICKS);
        else
            sched_yield();
    }
}

static void Pause(int64_t ns)
{
    SleepUntil(PortNativeTicks() + ns / NS_PER_TICK);
}

static void SleepMs(int ms)
{
    PortNativeSleep(ms);
}

static void Validate(PortState*)
{
    SessionValidate(&Session);
}

static bool OthersShare()
{
    return SessionShared(&Session);
}

static int RunOnState(const PortctlArgs& a)
{
    char path[PORTSTATE_PATH_MAX], err[PORTSTATE_ERROR_MAX];
    if (!PortStatePath(path, sizeof path, err, sizeof err) || !JoinSession(&Session, path, err, sizeof err)) {
        fprintf(stderr, "%s : état partagé du port inaccessible : %s\n", NAME, err);
        return PORTCTL_EXIT_FAILED;
    }
    PortctlHost h = { NAME, Session.state, PORTSTATE_NATIVE_FREQUENCY, PortNativeTicks, SleepMs,
                      SleepUntil, Validate, OthersShare, Stopped };
    int rc = RunPortctlCommand(a, h);
    fflush(stdout);
    LeaveSession(&Session);
    return rc;
}

int main(int argc, char** argv)
{
    PortctlArgs a;
    std::string error;
    if (!ParsePortctlArguments(argc, argv, &a, &error))
        return PortctlUsageError(NAME, error);
    if (a.command == PORTCTL_HELP) {
        fputs(PortctlUsage(NAME).c_str(), stdout);
        return PORTCTL_EXIT_OK;
    }
    prctl(PR_SET_TIMERSLACK, TIMER_SLACK_NS);
    InstallSignals();
    if (a.command == PORTCTL_SELFTEST)
        return RunNativeSelftest(a, NAME, Pause, Stopped);
    return RunOnState(a);
}
