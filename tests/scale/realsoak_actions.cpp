// The real-port soak's actions: clicks, status pins, helper kills and device
// faults, each checked for its effect and its message.
#include <windows.h>
#include <commctrl.h>
#include <stdio.h>
#include <algorithm>
#include "emudevice.h"
#include "realsoak.h"
#include "realsession.h"
#include "resource.h"
#include "testfacts.h"

constexpr int LED_FIRST = IDC_LED2, LED_LAST = IDC_LED1, K2000 = IDC_K2000, CHENILLARD = IDC_CHENILLARD;
constexpr int FONTAINE = IDC_FONTAINE, STOP = IDC_STOP, SLIDER = IDC_DELAY_SLIDER, NUMBER_BOX = IDC_NUMBER_BOX;
constexpr int ENVOI = IDC_SEND, STATUS_BOX = IDC_STATUS_BOX;
constexpr int SLIDER_MAX = 100;
static const DWORD ANSWER_MS = WaitMs();  // the program answers within this, faults or not
constexpr DWORD HELPER_MS = 8000;      // a new helper beats within this (restart pace, claim)
constexpr DWORD FAULT_MS = 8000;       // a device fault is reported within this
constexpr DWORD DRAIN_MS = 15000;      // the helper catches up with the journal within this
constexpr int PASS_STEPS_MAX = 16;     // an effect pass holds the GUI thread this many step delays
constexpr int REPEATING_EFFECTS = 2;   // K2000 and Chenillard may repeat at once
// A poll waiting behind repeating effects may see each run once more before
// its turn comes (their timers expire first), so two rounds of both passes.
constexpr DWORD GUI_BLOCK_MS = 2 * REPEATING_EFFECTS * PASS_STEPS_MAX * SLIDER_MAX;
constexpr int OUTAGE_EXTRA_MS = 500;   // a long outage: this much past the replay limit
constexpr int KILL_EVERY = 12;         // one helper kill per this many actions, on average
constexpr int FAULT_EVERY = 40;        // one device fault per this many actions, on average
static const int SENSOR_CODES[] = { 119, 111, 95, 255, 63, 127 };

static int Pick(SoakRun& r, int lo, int hi)
{
    return std::uniform_int_distribution<int>(lo, hi)(r.rng);
}

bool HelperBeating(SoakRun& r, int32_t notPid)
{
    PortState* s = r.state;
    int32_t pid = AtomicLoad(&s->helperPid);
    PortHelperJudge judge = { s->frequency, HELPER_LOST_MS, false, true, nullptr };
    return pid != 0 && pid != notPid && PortHelperHoldsPort(AtomicLoad(&s->helperState)) &&
           PortHelperAlive(s, SharedPortNow(), judge);
}

bool WaitHelper(SoakRun& r, int32_t notPid)
{
    DWORD start = GetTickCount();
    while (!HelperBeating(r, notPid)) {
        if (GetTickCount() - start > HELPER_MS)
            return false;
        SoakCollect(r);
        Sleep(5);
    }
    return true;
}

// SIGKILL through the system's kill, started as a Linux program from Z:.
bool KillNative(int32_t pid)
{
    return RunLinux("/bin/kill", "-KILL " + std::to_string(pid));
}

static void KillHelper(SoakRun& r)
{
    int32_t pid = AtomicLoad(&r.state->helperPid);
    if (pid <= 0 || !KillNative(pid))
        return SoakFail("the helper could not be killed");
    ++r.kills;
    Click(Control(r.app, LED_FIRST + Pick(r, 0, LED_LAST - LED_FIRST)));  // a write while it is down
    if (!WaitHelper(r, pid))
        return SoakFail("no new helper after kill number " + std::to_string(r.kills));
    ++r.recoveries;
}

// Keeps the device down past the replay limit, the program clicked meanwhile.
static void LongOutage(SoakRun& r)
{
    DWORD start = GetTickCount();
    while (GetTickCount() - start < DWORD(PORT_REPLAY_LIMIT_MS + OUTAGE_EXTRA_MS)) {
        Click(Control(r.app, LED_FIRST + Pick(r, 0, LED_LAST - LED_FIRST)));
        SoakCollect(r);
        Sleep(50);
    }
}

static const char* FAULT_COMMANDS[FAULT_KINDS] = { "busy", "eio", "enotty", "vanish" };
// UTF-8, as the helper writes its messages; an ENOTTY device tried again
// answers as no parallel port.
static const char* FAULT_WORDS[FAULT_KINDS] = { "occupé", "a disparu ou a échoué", "parallèle",
                                                "a disparu ou a échoué" };

// Makes the device fail, checks the fault's message, that the program
// answers and that the helper waits (beating) instead of giving up; then
// repairs the device: the port resumes by itself, the program never
// restarted.
static void DeviceFault(SoakRun& r)
{
    int kind = Pick(r, 0, FAULT_KINDS - 1);
    uint32_t faultsBefore = AtomicLoad(&r.state->faults);
    if (!EmuControl(FAULT_COMMANDS[kind]))
        return SoakFail("command refused by the emulated device");
    ++r.faults[kind];
    if (kind == FAULT_BUSY && KillNative(AtomicLoad(&r.state->helperPid)))
        ++r.kills;  // held by another program: only a new claim meets it
    DWORD start = GetTickCount();
    auto said = [&] { return AtomicLoad(&r.state->faults) != faultsBefore &&
                             AtomicLoad(&r.state->fault) != PORT_FAULT_HELPER_LOST &&
                             AtomicLoad(&r.state->helperState) == HELPER_WAITING; };
    while (!said() && GetTickCount() - start < FAULT_MS) {
        Click(Control(r.app, LED_FIRST + Pick(r, 0, LED_LAST - LED_FIRST)));
        SoakCollect(r);
        Sleep(20);
    }
    std::string text(r.state->faultText);
    if (!said())
        return SoakFail(std::string("fault ") + FAULT_COMMANDS[kind] + " with no fault reported nor wait");
    if (text.find(FAULT_WORDS[kind]) == std::string::npos && text.find("a disparu ou a échoué") == std::string::npos)
        return SoakFail(std::string("fault ") + FAULT_COMMANDS[kind] + ", unexpected message: " + text);
    if (!Responds(r.app, ANSWER_MS))
        return SoakFail(std::string("the program does not answer during fault ") + FAULT_COMMANDS[kind]);
    if (Pick(r, 0, 2) == 0)
        LongOutage(r);  // the backlog then goes stale: the current value only, by the rule
    if (!EmuControl("normal"))
        return SoakFail(std::string("the emulated device refuses to resume after fault ") + FAULT_COMMANDS[kind]);
    if (!WaitHelper(r, 0))
        return SoakFail(std::string("no recovery without a restart after fault ") + FAULT_COMMANDS[kind]);
    ++r.recoveries;
}

// The helper's read of the status register after `since`: the value, or -1
// while the helper has not read since then. The stamp is stored after the
// value, so a stamp past `since` vouches for the value read with it.
static int StatusReadSince(SoakRun& r, int64_t since)
{
    if (AtomicLoad(&r.state->statusTicks) <= since)
        return -1;
    return AtomicLoad(&r.state->status);
}

// New status pins reach the shared state at the helper's next read, then
// the status box at the program's next poll, which repeating effect passes
// may hold back for up to GUI_BLOCK_MS.
static void StatusPins(SoakRun& r)
{
    int v = Pick(r, 0, 3) ? SENSOR_CODES[Pick(r, 0, 5)] : Pick(r, 0, 255);
    std::string pins = "broches d'etat " + std::to_string(v);
    if (!EmuControl("status " + std::to_string(v)))
        return SoakFail("the emulated device refuses the status command " + std::to_string(v));
    int64_t setAt = SharedPortNow();  // a read stamped later began after the pins changed
    DWORD start = GetTickCount();
    int read;
    while ((read = StatusReadSince(r, setAt)) < 0) {
        if (GetTickCount() - start > GUI_BLOCK_MS + ANSWER_MS)
            return SoakFail(pins + " never read by the helper");
        Sleep(1);
    }
    if (read != v)
        return SoakFail(pins + " read as " + std::to_string(read) + " by the helper");
    std::wstring want = std::to_wstring(v), shown;
    start = GetTickCount();
    while ((shown = TextOf(Control(r.app, STATUS_BOX))) != want) {
        if (GetTickCount() - start > GUI_BLOCK_MS + ANSWER_MS)
            return SoakFail(pins + " never shown (the box shows " + std::string(shown.begin(), shown.end()) + ")");
        Sleep(5);
    }
    r.slowestBoxMs = std::max<DWORD>(r.slowestBoxMs, GetTickCount() - start);
}

static void RandomClick(SoakRun& r)
{
    int what = Pick(r, 0, 9);
    if (what < 4) {
        Click(Control(r.app, LED_FIRST + Pick(r, 0, LED_LAST - LED_FIRST)));
    } else if (what < 7) {
        SendMessageA(Control(r.app, SLIDER), TBM_SETPOS, TRUE, Pick(r, 0, 3) ? Pick(r, 5, SLIDER_MAX) : 0);
        static const int EFFECTS[] = { K2000, CHENILLARD, FONTAINE, STOP };
        Click(Control(r.app, EFFECTS[Pick(r, 0, 3)]));
    } else {
        TypeText(Control(r.app, NUMBER_BOX), std::to_string(Pick(r, 0, 99999)));
        Click(Control(r.app, ENVOI));
    }
}

void SoakRunActions(SoakRun& r)
{
    if (!WaitHelper(r, 0))
        return SoakFail("the helper does not start");
    DWORD start = GetTickCount();
    while (GetTickCount() - start < r.seconds * 1000 && !SoakFailed()) {
        ++r.steps;
        int roll = Pick(r, 0, FAULT_EVERY * KILL_EVERY - 1);
        if (roll < KILL_EVERY)
            DeviceFault(r);
        else if (roll < KILL_EVERY + FAULT_EVERY)
            KillHelper(r);
        else if (roll < KILL_EVERY + FAULT_EVERY + RARE_EVERY)
            RareFault(r, Pick(r, 0, RARE_KINDS - 1));
        else if (Pick(r, 0, 3) == 0)
            StatusPins(r);
        else
            RandomClick(r);
        if (!Responds(r.app, ANSWER_MS))
            SoakFail("the program does not answer");
        SoakCollect(r);
        Sleep(Pick(r, 5, 60));
    }
}

bool SoakDrain(SoakRun& r)
{
    Click(Control(r.app, STOP));
    DWORD start = GetTickCount();
    for (;;) {
        SoakCollect(r);
        int64_t w = SharedPortWriteCount(r.state), a = AtomicLoad(&r.state->applied);
        int64_t passedOver = AtomicLoad(&r.state->unapplied) - r.unappliedStart;  // never for the wire
        if (a >= w && static_cast<int64_t>(r.wire.size()) + passedOver >= static_cast<int64_t>(r.journal.size()))
            break;
        if (GetTickCount() - start > DRAIN_MS) {
            SoakFail("the helper did not catch up with the journal (" + std::to_string(w - a) + " pending)");
            return false;
        }
        Sleep(10);
    }
    Sleep(50);  // nothing more may follow
    SoakCollect(r);
    return true;
}
