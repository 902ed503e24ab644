// Soak of the real-port road on the emulated ppdev device, under Wine, inside
// the emulated port's fixture (with-emuport.sh): the program runs both
// repeating effects, random clicks and random status pins for SECONDS while
// the native helper is killed at random moments and the device is made to
// fail (busy, EIO, ENOTTY, vanished). At the end, the device's record of data
// writes must equal the journal's data writes exactly.
//
// What the wire gets after a recovery:
// - helper killed: the library starts a new one, which carries on from the
//   first write not yet applied. Every journaled write reaches the wire once,
//   in order; only the write the killed helper had on the wire but not yet
//   counted may come a second time, right after itself.
// - device failure: the helper stops with the fault's message; the program
//   keeps answering and journals its writes. Recovery is the user's: the
//   device repaired, the program started again. The new helper then carries
//   the writes journaled meanwhile to the wire, in order, before the new ones.
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
#include "simport.h"

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
    static std::vector<SimPortWrite> batch(SIMPORT_JOURNAL_CAPACITY);
    for (;;) {
        int64_t next = r.cursor, dropped = 0;
        size_t n = SimPortCopyJournal(r.state, r.cursor, batch.data(), batch.size(), &next, &dropped);
        r.torn += dropped;
        for (size_t i = 0; i < n; ++i)
            if (batch[i].port == SIMPORT_DATA)
                r.journal.push_back(batch[i].value & 0xFF);
        r.cursor = next;
        if (n < batch.size())
            return;
    }
}

void SoakCollect(SoakRun& r)
{
    ReadJournal(r);
    ReadRecord(r);
}

// Every journaled data write on the wire once, in order; a repeat allowed
// only right after itself, at most once per helper kill.
static void Compare(SoakRun& r)
{
    size_t j = 0, w = 0;
    for (; j < r.journal.size() && w < r.wire.size(); ++j, ++w) {
        if (r.journal[j] == r.wire[w])
            continue;
        if (j > 0 && r.wire[w] == r.journal[j - 1] && r.repeats < r.kills) {
            ++r.repeats;
            --j;
            continue;
        }
        SoakFail("fil et journal differents a l'ecriture " + std::to_string(j) + " : journal " +
                 std::to_string(r.journal[j]) + ", fil " + std::to_string(r.wire[w]));
        return;
    }
    if (j != r.journal.size())
        SoakFail(std::to_string(r.journal.size() - j) + " ecritures du journal jamais arrivees sur le fil");
    if (w != r.wire.size())
        SoakFail(std::to_string(r.wire.size() - w) + " ecritures sur le fil en trop");
}

static bool Setup(SoakRun& r)
{
    if (!EmuControl("normal\nstatus 127\nclear")) {
        SoakFail("le peripherique emule ne repond pas");
        return false;
    }
    SetEnvironmentVariableA("TRAVEK_PORT", EmuDevice().c_str());
    r.state = SimPortAttach();
    r.cursor = SimPortWriteCount(r.state);
    if (!StartProgram(r.app)) {
        SoakFail("le programme n'a pas demarre");
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
    printf("realsoak: %d passes d'actions, %zu ecritures comparees (%lld entrees dechirees dans le journal), "
           "%d helpers tues, %d reprises, %d repetees apres un arret, pannes : %d occupe, %d EIO, "
           "%d ENOTTY, %d disparu ; etat affiche en %lu ms au plus\n", r.steps, r.journal.size(), static_cast<long long>(r.torn), r.kills,
           r.recoveries, r.repeats, r.faults[FAULT_BUSY], r.faults[FAULT_EIO], r.faults[FAULT_ENOTTY],
           r.faults[FAULT_VANISH], r.slowestBoxMs);
    if (!Failure.empty()) {
        printf("REALSOAK FAILED (seed %u): %s\n", r.seed, Failure.c_str());
        return 1;
    }
    printf("realsoak passed: 0 lost, 0 reordered, 0 merged\n");
    return 0;
}
