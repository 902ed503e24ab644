// portctl: the port's shared state from the command line, for scripts, on
// Windows or under Wine. The commands are those of commands.h, shared with
// the native travek-portctl; this file is their host on Windows.
#include <windows.h>
#include <stdio.h>
#include "commands.h"
#include "selftest_win.h"
#include "sharedport.h"

constexpr char NAME[] = "portctl";
constexpr int64_t SPIN_MS = 2;     // the last stretch before a due time: no sleep
constexpr DWORD SLICE_MS = 50;     // sleeps are cut to look for Ctrl+C
constexpr UINT TIMER_PERIOD_MS = 1;  // the system timer's finest period, asked for timed steps

static volatile LONG StopAsked;  // set by Ctrl+C
static int64_t Frequency;         // QueryPerformanceCounter's ticks per second

static BOOL WINAPI OnControl(DWORD)
{
    InterlockedExchange(&StopAsked, 1);
    return TRUE;
}

static bool Stopped()
{
    return InterlockedCompareExchange(&StopAsked, 0, 0) != 0;
}

static void SleepMs(int ms)
{
    Sleep(static_cast<DWORD>(ms));
}

static void SleepUntil(int64_t ticks)
{
    for (;;) {
        int64_t left = ticks - SharedPortNow();
        if (left <= 0 || Stopped())
            return;
        int64_t ms = left * 1000 / Frequency;
        if (ms > SPIN_MS)
            Sleep(static_cast<DWORD>(ms - SPIN_MS < SLICE_MS ? ms - SPIN_MS : SLICE_MS));
        else
            Sleep(0);
    }
}

static void Pause(int64_t ns)
{
    SleepUntil(SharedPortNow() + NsToTicks(ns, Frequency));
}

static void Validate(PortState* s)
{
    SharedPortValidate(s);
}

// The system timer at its finest for the timed commands, asked of winmm at
// run time so that portctl needs no other DLL at load.
static void FineTimer()
{
    HMODULE winmm = LoadLibraryW(L"winmm.dll");
    typedef UINT(WINAPI * TimeBeginPeriod)(UINT);
    TimeBeginPeriod begin = winmm ? reinterpret_cast<TimeBeginPeriod>(
        reinterpret_cast<void*>(GetProcAddress(winmm, "timeBeginPeriod"))) : nullptr;
    if (begin)
        begin(TIMER_PERIOD_MS);
}

static int RunOnState(const PortctlArgs& a)
{
    PortState* s = SharedPortAttach();
    if (const char* e = SharedPortAttachError()) {
        fprintf(stderr, "%s : état partagé du port inaccessible : %s\n", NAME, e);
        return PORTCTL_EXIT_FAILED;
    }
    PortctlHost h = { NAME, s, Frequency, SharedPortNow, SleepMs, SleepUntil, Validate, SharedPortExists, Stopped };
    int rc = RunPortctlCommand(a, h);
    fflush(stdout);
    return rc;
}

int main(int argc, char** argv)
{
    SetConsoleOutputCP(CP_UTF8);  // the texts are UTF-8
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    Frequency = f.QuadPart;
    PortctlArgs a;
    std::string error;
    if (!ParsePortctlArguments(argc, argv, &a, &error))
        return PortctlUsageError(NAME, error);
    if (a.command == PORTCTL_HELP) {
        fputs(PortctlUsage(NAME).c_str(), stdout);
        return PORTCTL_EXIT_OK;
    }
    SetConsoleCtrlHandler(OnControl, TRUE);
    if (a.command == PORTCTL_PLAY || (a.command == PORTCTL_SELFTEST && a.leds))
        FineTimer();
    if (a.command == PORTCTL_SELFTEST)
        return RunWindowsSelftest(a, NAME, Pause, Stopped);
    return RunOnState(a);
}
