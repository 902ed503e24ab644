// The cost of the library in front of another port library: the same calls
// made to the tests' chained library directly and through INPOUT32.dll with
// TRAVEK_PORT naming it, side by side in interleaved rounds. And the 0 before
// each value as Travek.exe itself writes it, K2000 at delay 0, on the
// simulated port and through the chained library.
#include <windows.h>
#include <commctrl.h>
#include "bench.h"
#include "chaintest.h"
#include "program.h"
#include "resource.h"
#include "testwin.h"

typedef short(__stdcall* ReadEntry)(short port);
typedef void(__stdcall* WriteEntry)(short port, short value);

constexpr int CALLS_PER_ROUND = 20000;
constexpr int ROUNDS = 15;
constexpr double CHAIN_OVERHEAD_LIMIT_US = 0.2;
constexpr short DATA = 0x378, STATUS = 0x379;
constexpr int64_t K2000_WRITES = 1600;  // 50 passes
constexpr DWORD K2000_LIMIT_MS = 30000;

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
    LONG64 start = SharedPortNow();
    for (int i = 0; i < CALLS_PER_ROUND / 2; ++i) {
        e.write(DATA, static_cast<short>(i & 0xFF));
        e.read(STATUS);
    }
    return 1000.0 * TicksMs(SharedPortNow() - start) / CALLS_PER_ROUND;
}

// Microseconds from each 0 to the value after it, from the journal's stamps
// (a chained library is called right after each stamp), while Travek.exe runs
// K2000 at delay 0 on the port TRAVEK_PORT names (null: the simulated port).
static std::vector<double> ProgramZeroPulsesUs(const char* port)
{
    std::vector<double> us;
    SetEnvironmentVariableA("TRAVEK_PORT", port);
    Program p;
    bool started = StartProgram(p);
    SetEnvironmentVariableA("TRAVEK_PORT", nullptr);
    if (started) {
        SendMessageA(Control(p, IDC_DELAY_SLIDER), TBM_SETPOS, TRUE, 0);
        int64_t mark = JournalMark();
        Click(Control(p, IDC_K2000));
        WaitPumping([&] { return JournalMark() - mark >= K2000_WRITES; }, K2000_LIMIT_MS);
        Click(Control(p, IDC_STOP));
        std::vector<JournalWrite> w = JournalSince(mark);
        for (size_t i = 0; i + 1 < w.size(); ++i)
            if (w[i].port == DATA && w[i].value == 0 && w[i + 1].port == DATA && w[i + 1].value != 0)
                us.push_back(1000.0 * TicksToMs(w[i + 1].ticks - w[i].ticks));
    }
    StopProgram(p);
    return us;
}

static void AddPulseRow(const char* where, const char* name, const std::vector<double>& us)
{
    if (us.empty()) {
        AddNote(Text("%s: Travek.exe wrote no K2000 pass", name));
        return;
    }
    Summary s = Summarise(us);
    double p99 = Percentile(us, 0.99);
    AddFigure(Text("%s_mean_us", name).c_str(), s.mean, "us");
    AddFigure(Text("%s_p99_us", name).c_str(), p99, "us");
    AddRow(Text("0 before each value, Travek.exe K2000 at delay 0, %s", where),
           Text("mean %.2f us, 99th percentile %.2f us, worst %.1f us (%u values)", s.mean, p99, s.worst,
                static_cast<unsigned>(s.count)),
           "mean <= 5 us, 99th percentile <= 50 us", s.mean <= 5.0 && p99 <= 50.0 ? "met" : "program");
}

void BenchChain()
{
    Progress("Travek.exe K2000 at delay 0, simulated port then chained library");
    AddSection("The 0 before each value as Travek.exe writes it (journal stamps)");
    AddPulseRow("simulated port", "zero_glitch_program", ProgramZeroPulsesUs(nullptr));
    std::string chainLibrary = TestFolder() + CHAINTEST_DLL;
    AddPulseRow("chained library", "zero_glitch_chained", ProgramZeroPulsesUs(chainLibrary.c_str()));

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
    if (SharedPortAttach()->backend != PORT_BACKEND_CHAINED) {
        AddNote("chained_call_overhead_us: INPOUT32.dll did not chain: " + std::string(SharedPortAttach()->faultText));
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
    AddFigure("chained_call_overhead_us", o.mean, "us");
    AddRow("chained call through INPOUT32.dll", Text("%.3f us", c.mean), Text("%.3f us direct", d.mean), "");
    FreeLibrary(ours);
    DeleteFileA(copy.c_str());
}
