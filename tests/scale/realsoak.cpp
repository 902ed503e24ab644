// Soak of the real-port road on the emulated ppdev device, under Wine, inside
// the emulated port's fixture (with-emuport.sh): the program runs both
// repeating effects, random clicks and random status pins for SECONDS while
// the native helper is killed at random moments and the device is made to
// fail (busy, EIO, ENOTTY, vanished). At the end, the device's record of data
// writes must equal the journal's data writes exactly.
//
// Now and then it also meets a mistyped port name, a writer stalled mid-entry
// and a helper's pid reused (realsoak_faults.cpp).
//
// What the wire gets after a recovery is the rule of portstate.h, checked by
// WireFollowsJournal:
// - helper killed: the library starts a new one, which carries on from the
//   first write not yet applied. Every journaled write reaches the wire once,
//   in order; only the write the killed helper had on the wire but not yet
//   counted may come a second time, right after itself.
// - device failure: the helper says the fault and waits, trying the device
//   again; the program keeps answering and journals its writes. Once the
//   device answers, the port resumes by itself: a backlog younger than
//   PORT_REPLAY_LIMIT_MS goes out in order; an older one is passed over,
//   the current value put on the wire at once, the writes passed over
//   counted in `unapplied`.
// - mistyped name: the program runs with the fault said; its writes are for
//   no port and stay out of the comparison.
// Usage: realsoak [SECONDS [SEED]]. Exit 77 outside the fixture.
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <random>
#include <string>
#include <vector>
#include "emudevice.h"
#include "emuport.h"
#include "program.h"
#include "realsoak.h"
#include "sharedport.h"
#include "wirerule.h"

static std::string Failure;  // the first fault found, empty while all is well

void SoakFail(const std::string& what)
{
    if (Failure.empty())
        Failure = what;
    printf("REALSOAK: %s\n", what.c_str());
}

bool SoakFailed()
{
    return !Failure.empty();
}

// The device's record from write number `from` on, read from that offset.
static void ReadRecord(SoakRun& r)
{
    std::string path = WindowsPathOf(EmuDevice() + EMUPORT_WRITES_SUFFIX);
    HANDLE f = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE)
        return;  // vanished for now
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(r.wire.size()) * EMUPORT_RECORD_LINE;
    SetFilePointerEx(f, at, nullptr, FILE_BEGIN);
    std::string text;
    char buf[1 << 16];
    DWORD n = 0;
    while (ReadFile(f, buf, sizeof buf, &n, nullptr) && n > 0)
        text.append(buf, n);
    CloseHandle(f);
    for (size_t i = 0; i + EMUPORT_RECORD_LINE <= text.size(); i += EMUPORT_RECORD_LINE)
        r.wire.push_back(atoi(text.c_str() + i));
}

// New complete journal entries: the data writes, in order.
static void ReadJournal(SoakRun& r)
{
    static std::vector<JournalWrite> batch(PORTSTATE_JOURNAL_CAPACITY);
    for (;;) {
        int64_t next = r.cursor, dropped = 0;
        size_t n = SharedPortCopyJournal(r.state, r.cursor, batch.data(), batch.size(), &next, &dropped);
        r.torn += dropped;
        for (size_t i = 0; i < n; ++i)
            if (batch[i].port == PORT_DATA)
                r.journal.push_back(batch[i]);
        r.cursor = next;
        if (n < batch.size())
            return;
    }
}

// A stale backlog passed over since the last look (each needs an outage of
// seconds: never two between looks).
static void ReadSkip(SoakRun& r)
{
    WireSkip k;
    if (AtomicLoad(&r.state->lastSkipEnd) != r.lastSkipEnd && LastWireSkip(r.state, &k)) {
        r.lastSkipEnd = k.to;
        r.skips.push_back(k);
    }
}

void SoakCollect(SoakRun& r)
{
    ReadSkip(r);
    ReadJournal(r);
    ReadRecord(r);
}

// The wire against the journal, by the recovery rule.
static void Compare(SoakRun& r)
{
    std::string why;
    int64_t unapplied = AtomicLoad(&r.state->unapplied) - r.unappliedStart;
    if (!WireFollowsJournal(r.journal, r.wire, r.kills, r.skips, unapplied, &why))
        SoakFail(why);
}

static bool Setup(SoakRun& r)
{
    if (!EmuControl("normal\nstatus 127\nclear")) {
        SoakFail("the emulated device does not answer");
        return false;
    }
    SetEnvironmentVariableA("TRAVEK_PORT", EmuDevice().c_str());
    r.state = SharedPortAttach();
    r.cursor = SharedPortWriteCount(r.state);
    r.unappliedStart = AtomicLoad(&r.state->unapplied);
    r.lastSkipEnd = AtomicLoad(&r.state->lastSkipEnd);
    if (!StartProgram(r.app)) {
        SoakFail("the program did not start");
        return false;
    }
    return true;
}

int main(int argc, char** argv)
{
    setvbuf(stdout, nullptr, _IONBF, 0);
    if (EmuMount().empty()) {
        printf("SKIP: realsoak runs inside with-emuport.sh\n");
        return EMUPORT_SKIP;
    }
    static SoakRun r;
    r.seconds = argc > 1 ? strtoul(argv[1], nullptr, 10) : SOAK_DEFAULT_SECONDS;
    r.seed = argc > 2 ? static_cast<unsigned>(strtoul(argv[2], nullptr, 10)) : GetTickCount();
    r.rng.seed(r.seed);
    printf("realsoak: %lu s, seed %u (replay: scripts/realsoak.sh %lu %u)\n", r.seconds, r.seed, r.seconds, r.seed);
    if (Setup(r)) {
        SoakRunActions(r);
        if (Failure.empty() && SoakDrain(r))
            Compare(r);
    }
    StopProgram(r.app);
    printf("realsoak: %d rounds of actions, %zu writes compared (%lld torn journal entries), "
           "%d helpers killed, %d recoveries, faults: %d busy, %d EIO, "
           "%d ENOTTY, %d vanished; %d mistyped names, %d stalled writers, %d reused pids; "
           "%lld writes unapplied after a long outage; status shown within %lu ms at most\n", r.steps,
           r.journal.size(), static_cast<long long>(r.torn), r.kills, r.recoveries, r.faults[FAULT_BUSY],
           r.faults[FAULT_EIO], r.faults[FAULT_ENOTTY], r.faults[FAULT_VANISH], r.rare[RARE_MISTYPED],
           r.rare[RARE_STALLED_WRITER], r.rare[RARE_REUSED_PID],
           static_cast<long long>(AtomicLoad(&r.state->unapplied) - r.unappliedStart), r.slowestBoxMs);
    if (!Failure.empty()) {
        printf("REALSOAK FAILED (seed %u): %s\n", r.seed, Failure.c_str());
        return 1;
    }
    printf("realsoak passed: 0 lost, 0 reordered, 0 merged\n");
    return 0;
}
