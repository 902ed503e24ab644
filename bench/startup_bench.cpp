// Where the start-up of the program goes: probe builds of Travek.exe, of the
// bare program and of the bare dialog program (the same sources with the
// calls that bound each phase stamped, see startup_probe.h) are started a few
// times, and each phase's time is the gap between two stamps. The bare dialog
// program has the program's shape and dialog template and none of its own
// work: what it spends before its first write is the window system's share.
#include <windows.h>
#include <vector>
#include "bench.h"
#include "startup_stamps.h"

constexpr int PROBE_ROUNDS = 5;
constexpr DWORD PROBE_TIMEOUT_MS = 20000;
static const char PROGRAM_PROBE[] = "startup_probe.exe";
static const char BARE_PROBE[] = "bare_probe.exe";
static const char DIALOG_PROBE[] = "bare_dialog_probe.exe";

struct PhaseSpan {
    const char* name;
    int from;             // a StartupPhase, or -1: just before CreateProcess
    int to;
    const char* verdict;  // what holds the phase up
};

static const char PLATFORM_LOAD[] = "platform: the loader and the DLLs imported";
static const char PLATFORM_WINDOWS[] = "platform: Wine's window system, in the order the program must follow";
static const char PROGRAM_OWN[] = "program: its own work";

static const PhaseSpan PROGRAM_PHASES[] = {
    { "process start and DLL load (to the first initialiser)", -1, STAMP_FIRST_CODE, PLATFORM_LOAD },
    { "runtime start (to WinMain)", STAMP_FIRST_CODE, STAMP_WINMAIN, PLATFORM_LOAD },
    { "class registration (icon twice, cursor)", STAMP_WINMAIN, STAMP_CLASS_REGISTERED, PROGRAM_OWN },
    { "window creation (to WM_CREATE)", STAMP_CLASS_REGISTERED, STAMP_COMCTL_START, PLATFORM_WINDOWS },
    { "common controls (InitCommonControls)", STAMP_COMCTL_START, STAMP_COMCTL_END, PLATFORM_LOAD },
    { "dialog creation (template, font, 32 controls)", STAMP_DIALOG_START, STAMP_BITMAPS_START, PLATFORM_WINDOWS },
    { "bitmap loading (four bitmaps)", STAMP_BITMAPS_START, STAMP_BITMAPS_END, PROGRAM_OWN },
    { "indicators shown, extinguish timer set", STAMP_BITMAPS_END, STAMP_INITDIALOG_END, PROGRAM_OWN },
    { "dialog manager after WM_INITDIALOG (focus)", STAMP_INITDIALOG_END, STAMP_DIALOG_END, PLATFORM_WINDOWS },
    { "panel shown, to the first write", STAMP_DIALOG_END, STAMP_FIRST_WRITE, PLATFORM_WINDOWS },
    { "total: process start to the first write", -1, STAMP_FIRST_WRITE, "the phases above" },
};
constexpr int PROGRAM_PHASE_COUNT = sizeof(PROGRAM_PHASES) / sizeof(PROGRAM_PHASES[0]);

static const PhaseSpan BARE_PHASES[] = {
    { "process start and DLL load", -1, STAMP_FIRST_CODE, PLATFORM_LOAD },
    { "runtime start", STAMP_FIRST_CODE, STAMP_WINMAIN, PLATFORM_LOAD },
    { "to the first write", STAMP_WINMAIN, STAMP_FIRST_WRITE, PROGRAM_OWN },
};
constexpr int BARE_PHASE_COUNT = sizeof(BARE_PHASES) / sizeof(BARE_PHASES[0]);

// The program's phases beside the bare dialog program's, which has them all
// but the bitmaps and the indicators (inside its WM_INITDIALOG).
static const PhaseSpan SHARED_PHASES[] = {
    { "process start, DLL load, runtime start (to WinMain)", -1, STAMP_WINMAIN, PLATFORM_LOAD },
    { "class registration (icon twice, cursor)", STAMP_WINMAIN, STAMP_CLASS_REGISTERED, PLATFORM_WINDOWS },
    { "window creation (to WM_CREATE)", STAMP_CLASS_REGISTERED, STAMP_COMCTL_START, PLATFORM_WINDOWS },
    { "common controls (InitCommonControls)", STAMP_COMCTL_START, STAMP_COMCTL_END, PLATFORM_LOAD },
    { "dialog creation to the end of WM_INITDIALOG", STAMP_DIALOG_START, STAMP_INITDIALOG_END, PLATFORM_WINDOWS },
    { "dialog manager after WM_INITDIALOG (focus)", STAMP_INITDIALOG_END, STAMP_DIALOG_END, PLATFORM_WINDOWS },
    { "panel shown, to the first write", STAMP_DIALOG_END, STAMP_FIRST_WRITE, PLATFORM_WINDOWS },
    { "total: process start to the first write", -1, STAMP_FIRST_WRITE, "the phases above" },
};
constexpr int SHARED_PHASE_COUNT = sizeof(SHARED_PHASES) / sizeof(SHARED_PHASES[0]);

static double SpanMs(const StartupStamps& s, LONG64 start, const PhaseSpan& p)
{
    LONG64 from = p.from < 0 ? start : s.ticks[p.from];
    LONG64 to = s.ticks[p.to];
    return from && to ? TicksMs(to - from) : -1.0;
}

// One sample per phase of a start (-1 where a stamp is missing).
struct Phases {
    const PhaseSpan* spans;
    int count;
    std::vector<std::vector<double>>* samples;
};

// Starts the probe once; fills one sample per phase of each list.
static bool ProbeOnce(const char* exe, StartupStamps* stamps, Phases a, Phases b = Phases{ nullptr, 0, nullptr })
{
    ZeroMemory(stamps, sizeof(*stamps));
    Started s;
    if (!Launch(exe, &s))
        return false;
    bool ok = WaitPumping([&] { return stamps->ticks[STAMP_FIRST_WRITE] != 0 && WindowShown(s); },
                          PROBE_TIMEOUT_MS);
    StartupStamps copy = *stamps;
    LONG64 start = s.start;
    Stop(&s);
    if (!ok)
        return false;
    for (const Phases& list : { a, b })
        for (int i = 0; i < list.count; ++i)
            (*list.samples)[i].push_back(SpanMs(copy, start, list.spans[i]));
    return true;
}

static double MeanOf(const std::vector<double>& v)
{
    std::vector<double> known;
    for (double x : v)
        if (x >= 0.0)
            known.push_back(x);
    return known.empty() ? -1.0 : Summarise(known).mean;
}

static void AddPhaseRows(const std::vector<std::vector<double>>& program, const std::vector<std::vector<double>>& bare)
{
    AddSection(Text("Start-up by phase: probe builds of Travek.exe and of the bare program, %d starts each",
                    PROBE_ROUNDS));
    double bareTotal = MeanOf(bare[BARE_PHASE_COUNT - 1]) + MeanOf(bare[0]) + MeanOf(bare[1]);
    std::string bareText[PROGRAM_PHASE_COUNT];
    bareText[0] = Text("bare program: %.1f ms", MeanOf(bare[0]));
    bareText[1] = Text("bare program: %.1f ms", MeanOf(bare[1]));
    bareText[PROGRAM_PHASE_COUNT - 1] = Text("bare program: %.1f ms (its write comes first, %.1f ms after WinMain)",
                                             bareTotal, MeanOf(bare[2]));
    AddNote("Start-up phases: the program writes its first 0 only once its window and panel exist (window\n"
            "creation, dialog creation, focus); the bare program writes it before any window.");
    for (int i = 0; i < PROGRAM_PHASE_COUNT; ++i) {
        double ms = MeanOf(program[i]);
        Summary all = Summarise(program[i]);
        AddRow(Text("  %s", PROGRAM_PHASES[i].name), Text("mean %.1f ms, worst %.1f ms", ms, all.worst),
               bareText[i].empty() ? "bare program: none of this before its write" : bareText[i],
               PROGRAM_PHASES[i].verdict);
    }
}

// Phase by phase against the bare dialog program; the figures: the program's
// first write against the bare dialog program's, and the window system's
// share of the program's time from WinMain to its first write (what the bare
// dialog program spends in the same span; process start is left out, the
// same for both and the noisiest phase).
static void AddDialogRows(const std::vector<std::vector<double>>& program, const std::vector<std::vector<double>>& dialog)
{
    AddSection(Text("Start-up against the bare dialog program (same window, class and template 104), %d starts each",
                    PROBE_ROUNDS));
    for (int i = 0; i < SHARED_PHASE_COUNT; ++i) {
        double p = MeanOf(program[i]), d = MeanOf(dialog[i]);
        AddRow(Text("  %s", SHARED_PHASES[i].name), Text("mean %.1f ms", p), Text("bare dialog program: %.1f ms", d),
               p - d > d ? PROGRAM_OWN : SHARED_PHASES[i].verdict);
    }
    double p = MeanOf(program[SHARED_PHASE_COUNT - 1]), d = MeanOf(dialog[SHARED_PHASE_COUNT - 1]);
    double pWindows = p - MeanOf(program[0]), dWindows = d - MeanOf(dialog[0]);  // from WinMain on
    if (p <= 0.0 || d <= 0.0 || pWindows <= 0.0)
        return;
    AddFigure("startup_first_write_ratio_to_bare_dialog", p / d, "ratio");
    AddFigure("startup_window_system_share", dWindows / pWindows, "ratio");
    AddNote(Text("Start-up: from WinMain to its first write the program takes %.1f ms, the bare dialog program\n"
                 "%.1f ms: the window system's share is %.0f %% (the program's own work: bitmaps, indicators).",
                 pWindows, dWindows, 100.0 * dWindows / pWindows));
}

void BenchStartupPhases()
{
    Progress("  %d starts each of %s, %s and %s", PROBE_ROUNDS, PROGRAM_PROBE, BARE_PROBE, DIALOG_PROBE);
    HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(StartupStamps),
                                        STARTUP_STAMPS_NAME);
    StartupStamps* stamps = mapping ? static_cast<StartupStamps*>(
        MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, sizeof(StartupStamps))) : nullptr;
    if (!stamps) {
        Progress("  no mapping for the start-up stamps");
        return;
    }
    std::vector<std::vector<double>> program(PROGRAM_PHASE_COUNT), bare(BARE_PHASE_COUNT);
    std::vector<std::vector<double>> shared(SHARED_PHASE_COUNT), dialog(SHARED_PHASE_COUNT);
    for (int round = 0; round < PROBE_ROUNDS; ++round) {
        if (!ProbeOnce(PROGRAM_PROBE, stamps, Phases{ PROGRAM_PHASES, PROGRAM_PHASE_COUNT, &program },
                       Phases{ SHARED_PHASES, SHARED_PHASE_COUNT, &shared }))
            Progress("  %s did not reach its first write", PROGRAM_PROBE);
        if (!ProbeOnce(BARE_PROBE, stamps, Phases{ BARE_PHASES, BARE_PHASE_COUNT, &bare }))
            Progress("  %s did not reach its first write", BARE_PROBE);
        if (!ProbeOnce(DIALOG_PROBE, stamps, Phases{ SHARED_PHASES, SHARED_PHASE_COUNT, &dialog }))
            Progress("  %s did not reach its first write", DIALOG_PROBE);
    }
    UnmapViewOfFile(stamps);
    CloseHandle(mapping);
    if (!program[0].empty() && !bare[0].empty())
        AddPhaseRows(program, bare);
    if (!shared[0].empty() && !dialog[0].empty())
        AddDialogRows(shared, dialog);
}
