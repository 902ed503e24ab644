// The library's side of the real-port benchmark, under Wine: calls
// INPOUT32.dll's entries as the test bench does (the 0 at start-up, three
// writes after quiet spells polling the status every 10 ms, then K2000
// passes at delay 0 with a poll between passes) and prints the mean cost of
// a write call in the passes. Which port the library drives is its own
// choice (TRAVEK_PORT).
//   realport_writer QUIET_MS PASSES
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include "testfacts.h"
#include "sharedport.h"

typedef void(__stdcall* WriteEntry)(short, short);
typedef short(__stdcall* ReadEntry)(short);

constexpr int QUIET_SPELLS = 3;
constexpr int PASS_WRITES = 32;
constexpr int PASS_PERIOD_MS = 10;
constexpr int GAP_MIN_US = 20;
constexpr int GAP_MAX_US = 90;
constexpr int POLL_PERIOD_MS = 10;  // the program's status poll
constexpr short DATA_PORT = 0x378;
constexpr short STATUS_PORT = 0x379;
constexpr short QUIET_VALUE = 0x55;

static LONG64 Frequency()
{
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f.QuadPart;
}

static ReadEntry Read;  // the library's ordinal 1

// Polls the status for ms milliseconds, as the program's poll timer does.
static void PollFor(int ms)
{
    for (int waited = 0; waited < ms; waited += POLL_PERIOD_MS) {
        Read(STATUS_PORT);
        Sleep(POLL_PERIOD_MS);
    }
}

// Runs the passes; returns the summed cost of their calls in counter ticks.
static LONG64 RunPasses(WriteEntry write, int passes, LONG64 frequency)
{
    const std::vector<int>& pattern = K2000_PASS;
    LONG64 spent = 0, passStart = SharedPortNow();
    unsigned seed = 1;
    for (int p = 0; p < passes; ++p) {
        Read(STATUS_PORT);
        LONG64 at = passStart;
        for (int i = 0; i < PASS_WRITES; ++i) {
            while (SharedPortNow() < at)
                Sleep(0);  // the effect's step delay of 0
            LONG64 t0 = SharedPortNow();
            write(DATA_PORT, i % 2 == 0 ? 0 : pattern[i / 2]);
            spent += SharedPortNow() - t0;
            seed = seed * 1103515245u + 12345u;
            int gap = GAP_MIN_US + static_cast<int>((seed >> 16) % (GAP_MAX_US - GAP_MIN_US));
            at = SharedPortNow() + gap * frequency / 1000000;
        }
        passStart += PASS_PERIOD_MS * frequency / 1000;
        LONG64 left = (passStart - SharedPortNow()) * 1000 / frequency;
        if (left > 0)
            Sleep(static_cast<DWORD>(left));
    }
    return spent;
}

int main(int argc, char** argv)
{
    if (argc != 3) {
        fprintf(stderr, "usage: realport_writer QUIET_MS PASSES\n");
        return 2;
    }
    int quietMs = atoi(argv[1]), passes = atoi(argv[2]);
    HMODULE lib = LoadLibraryA("INPOUT32.dll");
    WriteEntry write = lib ? reinterpret_cast<WriteEntry>(reinterpret_cast<void*>(GetProcAddress(lib, MAKEINTRESOURCEA(2))))
                           : nullptr;
    Read = lib ? reinterpret_cast<ReadEntry>(reinterpret_cast<void*>(GetProcAddress(lib, MAKEINTRESOURCEA(1))))
               : nullptr;
    if (!write || !Read || quietMs <= 0 || passes <= 0) {
        fprintf(stderr, "realport_writer: no library entry, or bad arguments\n");
        return 1;
    }
    write(DATA_PORT, 0);  // as the test bench at start-up: the library starts its helper
    for (int i = 0; i < QUIET_SPELLS; ++i) {
        PollFor(quietMs);
        write(DATA_PORT, QUIET_VALUE);
    }
    LONG64 frequency = Frequency();
    LONG64 spent = RunPasses(write, passes, frequency);
    printf("%.3f\n", 1e6 * static_cast<double>(spent) / static_cast<double>(frequency) / (passes * PASS_WRITES));
    return 0;
}
