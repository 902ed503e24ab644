// The cost of the library in front of another port library: the same calls
// made to the tests' chained library directly and through INPOUT32.dll with
// TRAVEK_PORT naming it, side by side in interleaved rounds.
#include "bench.h"
#include "chaintest.h"
#include "testwin.h"

typedef short(__stdcall* ReadEntry)(short port);
typedef void(__stdcall* WriteEntry)(short port, short value);

constexpr int CALLS_PER_ROUND = 20000;
constexpr int ROUNDS = 15;
constexpr double CHAIN_OVERHEAD_LIMIT_US = 0.2;
constexpr short DATA = 0x378, STATUS = 0x379;

struct Entries {
    ReadEntry read;
    WriteEntry write;
};

static bool Bind(HMODULE m, Entries* e)
{
    e->read = m ? reinterpret_cast<ReadEntry>(reinterpret_cast<void*>(GetProcAddress(m, MAKEINTRESOURCEA(1)))) : nullptr;
    e->write = m ? reinterpret_cast<WriteEntry>(reinterpret_cast<void*>(GetProcAddress(m, MAKEINTRESOURCEA(2)))) : nullptr;
    return e->read && e->write;
}

// Microseconds per call of a round: a write and a read alternately, as the
// program's effects and polling do.
static double Round(const Entries& e)
{
    LONG64 start = Now();
    for (int i = 0; i < CALLS_PER_ROUND / 2; ++i) {
        e.write(DATA, static_cast<short>(i & 0xFF));
        e.read(STATUS);
    }
    return 1000.0 * TicksMs(Now() - start) / CALLS_PER_ROUND;
}

void BenchChain()
{
    AddSection("Chained port library (TRAVEK_PORT naming another library)");
    std::string chainPath = TestFolder() + CHAINTEST_DLL;
    SetEnvironmentVariableA("TRAVEK_PORT", chainPath.c_str());
    SetEnvironmentVariableA("TRAVEK_PORT_BASE", nullptr);
    // A copy of the library: the one this process already has chose the
    // simulated port at its first call.
    std::string copy = TestFolder() + "chainbench-INPOUT32.dll";
    CopyFileA((TestFolder() + "INPOUT32.dll").c_str(), copy.c_str(), FALSE);
    Entries direct, chained;
    HMODULE ours = LoadLibraryA(copy.c_str());
    bool ok = Bind(LoadLibraryA(chainPath.c_str()), &direct) && Bind(ours, &chained);
    if (ok)
        chained.write(DATA, 0);  // the library chooses its backend at its first call
    SetEnvironmentVariableA("TRAVEK_PORT", nullptr);
    if (!ok) {
        AddNote("chained_call_overhead_us: the libraries could not be loaded from " + TestFolder());
        return;
    }
    if (SimPortAttach()->backend != PORT_BACKEND_CHAINED) {
        AddNote("chained_call_overhead_us: INPOUT32.dll did not chain: " + std::string(SimPortAttach()->faultText));
        return;
    }
    Progress("chained calls: %d rounds of %d calls each way", ROUNDS, CALLS_PER_ROUND);
    std::vector<double> directUs, chainedUs, overheadUs;
    for (int r = 0; r < ROUNDS; ++r) {
        double d = Round(direct), c = Round(chained);
        directUs.push_back(d);
        chainedUs.push_back(c);
        overheadUs.push_back(c - d);
    }
    Summary d = Summarise(directUs), c = Summarise(chainedUs), o = Summarise(overheadUs);
    AddRow("chained_call_overhead_us (mean of rounds, best)", Text("%.3f us (%.3f)", o.mean, c.best - d.best),
           Text("<= %.1f us over the direct call of %.3f us", CHAIN_OVERHEAD_LIMIT_US, d.mean),
           o.mean <= CHAIN_OVERHEAD_LIMIT_US ? "met" : "program");
    AddRow("chained call through INPOUT32.dll", Text("%.3f us", c.mean), Text("%.3f us direct", d.mean), "");
    FreeLibrary(ours);
    DeleteFileA(copy.c_str());
}
