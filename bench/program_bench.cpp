// Figures of the real Travek.exe, started as a user starts it, each beside the
// same figure of bench_bare.exe, the least program of the same shape (binds
// the port library, writes 0, shows a plain window, runs the same three idle
// timers with no work): start-up times from the process's creation, and the
// idle CPU share, working set and poll period over a stretch of idling.
#include <windows.h>
#include <psapi.h>
#include <tlhelp32.h>
#include <cmath>
#include <vector>
#include "bench.h"
#include "testwin.h"
#include "sharedport.h"
#include "testwin.h"

constexpr int START_ROUNDS = 3;
constexpr DWORD IDLE_MS = 30000;
constexpr DWORD SETTLE_MS = 1000;  // after the window shows, before the idle stretch
static const char PROGRAM_EXE[] = "Travek.exe";
static const char BARE_EXE[] = "bench_bare.exe";

struct StartTimes {
    std::vector<double> firstZeroMs;  // to the first write of 0 on the data port
    std::vector<double> shownMs;      // to a visible top-level window
};

struct IdleFigures {
    double cpuPercent;    // of one processor
    bool cpuFromThreads;  // summed over the threads: GetProcessTimes was of no use
    double workingSetMb;
    double peakWorkingSetMb;
};

struct ShownArgs {
    DWORD pid;
    bool shown;
};

bool Launch(const char* exe, Started* s)
{
    *s = Started();
    std::string cmd = "\"" + TestFolder() + exe + "\"";
    std::vector<char> line(cmd.begin(), cmd.end());
    line.push_back('\0');
    STARTUPINFOA si = {};
    si.cb = sizeof(si);
    s->start = SharedPortNow();
    return CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, TestFolder().c_str(), &si,
                          &s->process) != 0;
}

void Stop(Started* s)
{
    if (!s->process.hProcess)
        return;
    TerminateProcess(s->process.hProcess, 0);
    WaitForSingleObject(s->process.hProcess, 10000);
    CloseHandle(s->process.hProcess);
    CloseHandle(s->process.hThread);
    *s = Started();
}

static BOOL CALLBACK FindShown(HWND w, LPARAM lp)
{
    ShownArgs* args = reinterpret_cast<ShownArgs*>(lp);
    DWORD pid = 0;
    GetWindowThreadProcessId(w, &pid);
    if (pid == args->pid && IsWindowVisible(w)) {
        args->shown = true;
        return FALSE;
    }
    return TRUE;
}

bool WindowShown(const Started& s)
{
    ShownArgs args = { s.process.dwProcessId, false };
    EnumWindows(FindShown, reinterpret_cast<LPARAM>(&args));
    return args.shown;
}

static LONG64 FirstZeroWrite(int64_t mark)
{
    for (const JournalWrite& w : JournalSince(mark))
        if (w.port == PORT_DATA && w.value == 0)
            return w.ticks;
    return 0;
}

static bool TimeOneStart(const char* exe, StartTimes* t)
{
    int64_t mark = JournalMark();
    Started s;
    if (!Launch(exe, &s))
        return false;
    LONG64 shown = 0, zero = 0;
    bool ok = WaitPumping([&] {
        if (!WindowShown(s))
            return false;
        shown = SharedPortNow();
        return true;
    }, 20000);
    ok = ok && WaitPumping([&] { return (zero = FirstZeroWrite(mark)) != 0; }, 5000);
    if (ok) {
        t->shownMs.push_back(TicksMs(shown - s.start));
        t->firstZeroMs.push_back(TicksToMs(zero - s.start));
    }
    Stop(&s);
    return ok;
}

static void AddStartRow(const char* figure, const std::vector<double>& program, const std::vector<double>& bare,
                        const char* programCause)
{
    Summary p = Summarise(program), b = Summarise(bare);
    std::string measured = Text("mean %.1f ms, worst %.1f ms (%u starts)", p.mean, p.worst,
                                static_cast<unsigned>(p.count));
    std::string limit = Text("bare program: mean %.1f ms, worst %.1f ms", b.mean, b.worst);
    std::string verdict = ProgramLimits(p.mean, 0.0, b.mean)
        ? Text("program: %s takes %.0f ms more", programCause, p.mean - b.mean)
        : Text("platform: starting any Win32 program here takes %.0f ms; the program adds %.0f ms", b.mean,
               p.mean - b.mean);
    AddRow(figure, measured, limit, verdict);
}

static void AddStartRows()
{
    Progress("  %d starts each of %s and %s", START_ROUNDS, PROGRAM_EXE, BARE_EXE);
    StartTimes program, bare;
    for (int round = 0; round < START_ROUNDS; ++round) {
        if (!TimeOneStart(PROGRAM_EXE, &program))
            Progress("  %s did not show its window and write 0", PROGRAM_EXE);
        if (!TimeOneStart(BARE_EXE, &bare))
            Progress("  %s did not show its window and write 0", BARE_EXE);
    }
    AddSection("Start-up of Travek.exe from just before CreateProcess (QPC ticks: journal stamp, window seen)");
    double bareMean = Summarise(bare.firstZeroMs).mean;
    if (bareMean > 0.0)
        AddFigure("startup_first_write_ratio_to_bare", Summarise(program.firstZeroMs).mean / bareMean, "ratio");
    AddStartRow("Process start to first write of 0", program.firstZeroMs, bare.firstZeroMs,
                "creating the main window and its panel before the write");
    AddStartRow("Process start to window shown", program.shownMs, bare.shownMs,
                "building the panel (controls, bitmaps, slider)");
}

// ---- Idling

static double Seconds(const FILETIME& t)
{
    ULARGE_INTEGER u = { { t.dwLowDateTime, t.dwHighDateTime } };
    return static_cast<double>(u.QuadPart) / 1e7;
}

static double ProcessCpuSeconds(HANDLE process)
{
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(process, &created, &exited, &kernel, &user))
        return 0.0;
    return Seconds(kernel) + Seconds(user);
}

// The same from the times of each of the process's threads, for a platform
// whose GetProcessTimes does not count another process (Wine gives the
// caller's own times).
static double ThreadsCpuSeconds(DWORD pid)
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return 0.0;
    double total = 0.0;
    THREADENTRY32 te = {};
    te.dwSize = sizeof(te);
    for (BOOL more = Thread32First(snapshot, &te); more; more = Thread32Next(snapshot, &te)) {
        if (te.th32OwnerProcessID != pid)
            continue;
        HANDLE thread = OpenThread(THREAD_QUERY_INFORMATION, FALSE, te.th32ThreadID);
        FILETIME created, exited, kernel, user;
        if (thread && GetThreadTimes(thread, &created, &exited, &kernel, &user))
            total += Seconds(kernel) + Seconds(user);
        if (thread)
            CloseHandle(thread);
    }
    CloseHandle(snapshot);
    return total;
}

CpuMark CpuNow(const Started& s)
{
    return CpuMark{ ProcessCpuSeconds(s.process.hProcess), ThreadsCpuSeconds(s.process.dwProcessId),
                    ProcessCpuSeconds(GetCurrentProcess()) };
}

// Percent of one processor between two marks, from GetProcessTimes unless it
// counted nothing or gave this process's own times instead (as Wine does).
double CpuPercent(const CpuMark& before, const CpuMark& after, double wallS, bool* fromThreads)
{
    double process = after.process - before.process, threads = after.threads - before.threads;
    double own = after.own - before.own;
    *fromThreads = process <= 0.0 || std::abs(process - own) < 0.02;
    return 100.0 * (*fromThreads ? threads : process) / wallS;
}

static void WorkingSet(HANDLE process, IdleFigures* f)
{
    PROCESS_MEMORY_COUNTERS pmc = {};
    pmc.cb = sizeof(pmc);
    if (GetProcessMemoryInfo(process, &pmc, sizeof(pmc))) {
        f->workingSetMb = static_cast<double>(pmc.WorkingSetSize) / (1024.0 * 1024.0);
        f->peakWorkingSetMb = static_cast<double>(pmc.PeakWorkingSetSize) / (1024.0 * 1024.0);
    }
}

// Follows the program's status reads: the gap between two successive reads,
// kept only when exactly one read happened between two looks.
struct PollWatch {
    LONG64 reads;
    LONG64 ticks;
    std::vector<double> gapsMs;
};

static void WatchPolls(PortState* s, PollWatch* w)
{
    LONG64 ticks = s->lastReadTicks;
    LONG64 reads = s->reads;
    if (ticks == w->ticks)
        return;
    if (w->ticks != 0 && reads == w->reads + 1)
        w->gapsMs.push_back(TicksToMs(ticks - w->ticks));
    w->ticks = ticks;
    w->reads = reads;
}

// Idles both programs side by side, so that they share the same background.
static void MeasureIdle(const Started& program, const Started& bare, IdleFigures* p, IdleFigures* b,
                        PollWatch* polls, double* pollMeanMs)
{
    PortState* s = SharedPortAttach();
    LONG64 start = SharedPortNow();
    CpuMark cpuProgram = CpuNow(program), cpuBare = CpuNow(bare);
    LONG64 readsBefore = s->reads;
    WaitPumping([&] {
        WatchPolls(s, polls);
        return false;
    }, IDLE_MS);
    double wallS = TicksMs(SharedPortNow() - start) / 1000.0;
    LONG64 reads = s->reads - readsBefore;
    *pollMeanMs = reads > 0 ? 1000.0 * wallS / static_cast<double>(reads) : 0.0;
    p->cpuPercent = CpuPercent(cpuProgram, CpuNow(program), wallS, &p->cpuFromThreads);
    b->cpuPercent = CpuPercent(cpuBare, CpuNow(bare), wallS, &b->cpuFromThreads);
    WorkingSet(program.process.hProcess, p);
    WorkingSet(bare.process.hProcess, b);
}

static void AddIdleRows(const IdleFigures& p, const IdleFigures& b, const PollWatch& polls, double pollMeanMs,
                        const TimerFigures& timers)
{
    AddSection(Text("Travek.exe idling for %lu s, panel shown, no effect running, beside the bare program",
                    static_cast<unsigned long>(IDLE_MS / 1000)));
    if (p.cpuFromThreads)
        AddNote("CPU share: GetProcessTimes of another process is of no use here (Wine gives the caller's own\n"
                "times), so the share is the sum of GetThreadTimes over the process's threads.");
    if (b.cpuPercent > 0.0)
        AddFigure("idle_cpu_ratio_to_bare", p.cpuPercent / b.cpuPercent, "ratio");
    AddRow(p.cpuFromThreads ? "CPU share (summed GetThreadTimes)" : "CPU share (GetProcessTimes)",
           Text("%.2f %% of one processor", p.cpuPercent),
           Text("ideal 0 %%; bare program, same timers: %.2f %%", b.cpuPercent),
           ProgramLimits(p.cpuPercent, 0.0, b.cpuPercent)
               ? "program: the work of its poll and tick handlers"
               : "platform: waking for the timers costs as much in any program");
    AddRow("Working set (GetProcessMemoryInfo)", Text("%.1f MB, peak %.1f MB", p.workingSetMb, p.peakWorkingSetMb),
           Text("bare program: %.1f MB, peak %.1f MB", b.workingSetMb, b.peakWorkingSetMb),
           ProgramLimits(p.workingSetMb, 0.0, b.workingSetMb)
               ? Text("program: its panel and bitmaps take %.1f MB more", p.workingSetMb - b.workingSetMb)
               : Text("platform: the system libraries are most of it; the program adds %.1f MB",
                      p.workingSetMb - b.workingSetMb));
    Summary gaps = Summarise(polls.gapsMs);
    const Summary& bare = timers.barePeriodMs;
    AddRow("Poll period (status reads of Travek.exe)",
           Text("mean %.2f ms, worst %.2f ms", pollMeanMs, gaps.worst),
           Text("bare SetTimer(1 ms): mean %.2f ms, worst %.2f ms", bare.mean, bare.worst),
           ProgramLimits(pollMeanMs, 1.0, bare.mean)
               ? "program: its handlers delay the next poll"
               : "platform: the 10 ms timer minimum, not the 1 ms the program asks");
}

static void AddIdle(const TimerFigures& timers)
{
    Progress("  %s and %s idling side by side for %lu s", PROGRAM_EXE, BARE_EXE,
             static_cast<unsigned long>(IDLE_MS / 1000));
    Started program = {}, bare = {};
    bool ok = Launch(PROGRAM_EXE, &program) && Launch(BARE_EXE, &bare) &&
              WaitPumping([&] { return WindowShown(program) && WindowShown(bare); }, 20000);
    if (ok) {
        WaitPumping([] { return false; }, SETTLE_MS);
        IdleFigures p = {}, b = {};
        PollWatch polls = {};
        double pollMeanMs = 0.0;
        MeasureIdle(program, bare, &p, &b, &polls, &pollMeanMs);
        AddIdleRows(p, b, polls, pollMeanMs, timers);
    } else {
        Progress("  the programs did not show their windows");
    }
    Stop(&program);
    Stop(&bare);
}

void BenchProgram(const TimerFigures& timers)
{
    Progress("Out of process:");
    AddStartRows();
    AddIdle(timers);
}
