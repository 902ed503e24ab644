// The real-port soak's rarer faults: a mistyped port name, a writer stalled
// between claiming its journal entry and completing it, and a killed
// helper's pid found alive in another process. Each is checked for its
// effect; the journal must still equal the wire under the recovery rule.
#include <windows.h>
#include <stdio.h>
#include "emudevice.h"
#include "realsession.h"
#include "realsoak.h"
#include "resource.h"
#include "unixcall.h"
#include "wineproc.h"

constexpr int LED_FIRST = IDC_LED2, STOP = IDC_STOP;
constexpr DWORD SETTLE_MS = 15000;  // the helper applies what is journaled, a program starts, within this
constexpr DWORD STALL_MS = 150;     // far beyond the readers' budget for a writer without a slot
constexpr int STALLED_VALUE = 0xA5;
static const char MISTYPED[] = "parprt0";

template <typename F> static bool Within(SoakRun& r, DWORD ms, F cond)
{
    DWORD start = GetTickCount();
    while (!cond()) {
        if (GetTickCount() - start > ms)
            return false;
        SoakCollect(r);
        Sleep(5);
    }
    return true;
}

// The program started with a name outside the grammar: a configuration fault
// that lists the accepted forms, a program that answers; then the right name
// again. Writes made under the wrong name were never for a port.
static void Mistyped(SoakRun& r)
{
    Click(Control(r.app, STOP));
    if (!Within(r, SETTLE_MS, [&] { return AtomicLoad(&r.state->applied) >= SharedPortWriteCount(r.state); }))
        return SoakFail("the journal is not applied before the mistyped name");
    StopProgram(r.app);
    SoakCollect(r);
    SetEnvironmentVariableA("TRAVEK_PORT", MISTYPED);
    bool started = StartProgram(r.app);
    SetEnvironmentVariableA("TRAVEK_PORT", EmuDevice().c_str());
    if (!started)
        return SoakFail("the program does not start with a mistyped name");
    if (!Within(r, SETTLE_MS, [&] { return AtomicLoad(&r.state->fault) == PORT_FAULT_CONFIG; }) ||
        std::string(r.state->faultText).find("n'est pas un nom de port : donnez sim") == std::string::npos)
        return SoakFail(std::string("mistyped name without a clear fault: ") + r.state->faultText);
    Click(Control(r.app, LED_FIRST));
    if (!Responds(r.app, SETTLE_MS))
        return SoakFail("the program does not answer with a mistyped name");
    StopProgram(r.app);
    r.cursor = SharedPortWriteCount(r.state);  // its writes stay in the journal, for no port
    if (!StartProgram(r.app) || !WaitHelper(r, 0))
        return SoakFail("no recovery after the mistyped name");
    ++r.recoveries;
}

// Claims a journal entry as a writer with a client slot does, is preempted
// while the program writes on, then completes it: the entry is waited for,
// reaches the wire in its place, and is no loss.
static void StalledWriter(SoakRun& r)
{
    PortState* s = r.state;
    int slot = SharedPortClientSlot();
    if (slot < 0)
        return;
    uint32_t faults = AtomicLoad(&s->faults);
    AtomicAdd(&s->clientWriting[slot], uint8_t(1));
    int64_t n, ticks;
    do {
        n = AtomicLoad(&s->writes);
        ticks = SharedPortNow();
    } while (!AtomicCas(&s->writes, n, n + 1));
    PortEntry* e = &s->journal[static_cast<uint64_t>(n) % PORTSTATE_JOURNAL_CAPACITY];
    AtomicStore(&e->stamp, 2 * n + 1);
    Click(Control(r.app, LED_FIRST));  // later writes complete meanwhile
    Sleep(STALL_MS);
    AtomicStore(&e->ticks, ticks);
    AtomicStore(&e->port, PORT_DATA);
    AtomicStore(&e->value, uint16_t(STALLED_VALUE));
    AtomicStore(&e->stamp, 2 * n + 2);
    AtomicAdd(&s->clientWriting[slot], uint8_t(0xFF));
    if (!Within(r, SETTLE_MS, [&] { return AtomicLoad(&s->applied) > n; }))
        return SoakFail("the stalled write is never applied");
    if (AtomicLoad(&s->faults) != faults && AtomicLoad(&s->fault) == PORT_FAULT_WRITES_LOST)
        return SoakFail(std::string("stalled write counted as lost: ") + s->faultText);
}

// The helper killed, its pid then found in a live process of another
// identity (a reused pid), with a fresh lease: the next helper must not take
// it for a helper holding the port.
static void ReusedPid(SoakRun& r)
{
    PortState* s = r.state;
    int32_t pid = AtomicLoad(&s->helperPid);
    if (pid <= 0 || !KillNative(pid))
        return SoakFail("the helper could not be killed (reused pid)");
    ++r.kills;
    if (!Within(r, SETTLE_MS, [&] { return WineProcessIdentity(pid) == 0; }))
        return SoakFail("the killed helper still lives");
    long self = UnixGetPid();
    AtomicStore(&s->helperPid, static_cast<int32_t>(self));
    AtomicStore(&s->helperStart, WineProcessIdentity(self) ^ 1u);
    AtomicStore(&s->helperState, uint32_t(HELPER_STARTING));
    AtomicStore(&s->helperBeat, SharedPortNow());
    Click(Control(r.app, LED_FIRST));
    if (!WaitHelper(r, static_cast<int32_t>(self)))
        return SoakFail("reused pid taken for a live helper: no recovery");
    if (AtomicLoad(&s->fault) == PORT_FAULT_HELPER_DUPLICATE)
        return SoakFail(std::string("reused pid: ") + s->faultText);
    ++r.recoveries;
}

void RareFault(SoakRun& r, int kind)
{
    ++r.rare[kind];
    switch (kind) {
    case RARE_MISTYPED: Mistyped(r); break;
    case RARE_STALLED_WRITER: StalledWriter(r); break;
    default: ReusedPid(r); break;
    }
}
