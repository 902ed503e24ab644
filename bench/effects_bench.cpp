// Figures measured inside this process on the simulated port, on the same
// test windows as the tests: the passes of the three light effects at several
// step delays, the 0 glitch of WriteOutputs, the periods of the poll and
// extinguish timers, and the cost of one call of each library entry. Times of
// port writes come from the journal's QueryPerformanceCounter stamps.
#include <windows.h>
#include <commctrl.h>
#include <stdio.h>
#include <algorithm>
#include <cmath>
#include <vector>
#include "bench.h"
#include "effects.h"
#include "handles.h"
#include "indicators.h"
#include "port.h"
#include "portentries.h"
#include "testwin.h"

struct Effect {
    const char* name;
    void (*run)();
    int steps;  // WriteOutputs per pass, each followed by a sleep of the step delay
};

static const Effect EFFECTS[] = {
    { "K2000", RunK2000, 16 },
    { "Chenillard", RunChenillard, 8 },
    { "Fontaine", RunFontaine, 4 },
};
static const DWORD DELAYS[] = { 0, 1, 10, 100, 200 };
constexpr int DELAY_COUNT = sizeof(DELAYS) / sizeof(DELAYS[0]);
constexpr double PASS_BUDGET_MS = 1000.0;  // passes per case: about this long, 2 to 30 of them
constexpr DWORD TIMER_RUN_MS = 3000;       // each timer measurement
constexpr double HARDWARE_IO_US = 1.0;     // one IN or OUT on an ISA/LPC parallel port

// Per-call cost of the library entries and of a clock read, in microseconds.
struct EntryCosts {
    Summary readUs;
    Summary writeUs;
    Summary clockUs;
};

struct PassFigures {
    Summary passMs;           // from the call to its return
    double programMs;         // mean per pass: slider query and WriteOutputs
    double sleptMs;           // mean per pass: the sleeps, with what little follows them
    double worstStepErrorMs;  // step length minus delay, the largest in size, with its sign
    int badPasses;            // passes that did not write 2 x steps values
};

static std::vector<LONG64> PollStamps;        // timer 101 events while the timers run
static std::vector<LONG64> ExtinguishStamps;  // timer 106 events
static std::vector<LONG64> BareStamps;        // the bare 1 ms timer's events
static std::vector<double> StepOverheadsMs;   // the program's own time per step, one per case

static std::string Ms(double ms)
{
    return Text(ms < 1.0 ? "%.3f ms" : ms < 100.0 ? "%.2f ms" : "%.1f ms", ms);
}

static std::string SignedMs(double ms)
{
    return Text("%+.2f ms", ms);
}

static std::string Us(double us)
{
    return Text(us < 1.0 ? "%.3f us" : us < 100.0 ? "%.2f us" : "%.0f us", us);
}

// The program's timer dispatch, recording the time of every poll and tick.
static LRESULT CALLBACK BenchWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_TIMER && wParam == TIMER_SENSOR_POLL)
        PollStamps.push_back(SharedPortNow());
    if (message == WM_TIMER && wParam == TIMER_EXTINGUISH)
        ExtinguishStamps.push_back(SharedPortNow());
    return TimerDispatchProc(window, message, wParam, lParam);
}

static LRESULT CALLBACK BareTimerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_TIMER) {
        BareStamps.push_back(SharedPortNow());
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

// ---- Library entries

// Per-call microseconds of batches of calls.
template <class Call> static Summary TimeCalls(Call call)
{
    const int batches = 10, calls = 20000;
    std::vector<double> perCall;
    for (int b = 0; b < batches; ++b) {
        LONG64 start = SharedPortNow();
        for (int i = 0; i < calls; ++i)
            call(i);
        perCall.push_back(1000.0 * TicksMs(SharedPortNow() - start) / calls);
    }
    return Summarise(perCall);
}

static EntryCosts MeasureEntries()
{
    HMODULE library = LoadLibraryA("INPOUT32.dll");
    PortReadEntry read = FindPortRead(library);
    PortWriteEntry write = FindPortWrite(library);
    EntryCosts c = {};
    if (!read || !write) {
        Progress("INPOUT32.dll ordinals 1 and 2 not found");
        return c;
    }
    volatile short sink = 0;
    volatile LONG64 clockSink = 0;
    c.readUs = TimeCalls([&](int) { sink = read(STATUS_PORT); });
    c.writeUs = TimeCalls([&](int i) { write(DATA_PORT, static_cast<short>(i & 0xFF)); });
    c.clockUs = TimeCalls([&](int) { clockSink = SharedPortNow(); });
    (void)sink;
    (void)clockSink;
    return c;
}

static void AddEntryRow(const char* figure, const Summary& us, const EntryCosts& c)
{
    std::string measured = Text("mean %s, best batch %s", Us(us.mean).c_str(), Us(us.best).c_str());
    std::string limit = Text("real port ~%.0f us per I/O; clock read %s", HARDWARE_IO_US, Us(c.clockUs.mean).c_str());
    std::string verdict = us.mean < HARDWARE_IO_US
        ? Text("platform: a real port's ~1 us bus cycle would dominate; the library adds %s", Us(us.mean).c_str())
        : Text("program: the simulated library costs more than a hardware access");
    AddRow(figure, measured, limit, verdict);
}

// ---- Effect passes

static Summary MeasureSleep(DWORD delay)
{
    int samples = std::max(10, std::min(200, static_cast<int>(2000 / (delay + 1))));
    std::vector<double> ms;
    for (int i = 0; i < samples; ++i) {
        LONG64 start = SharedPortNow();
        Sleep(delay);
        ms.push_back(TicksMs(SharedPortNow() - start));
    }
    return Summarise(ms);
}

static int PassesFor(const Effect& e, DWORD delay)
{
    double passMs = std::max(1.0, static_cast<double>(e.steps) * static_cast<double>(delay));
    return std::max(2, std::min(30, static_cast<int>(PASS_BUDGET_MS / passMs)));
}

// One pass split at its writes. A step lasts from the clear that begins its
// WriteOutputs to the clear of the next step (the last one ends when the pass
// returns); its redraw is the time from that clear to the value's write, the
// rest is its sleep. The slider query before the first step counts as redraw.
struct PassSplit {
    double programMs;  // slider query and WriteOutputs of every step
    double sleptMs;    // from each value's write to the next step, or the return
};

static PassSplit SplitPass(const std::vector<JournalWrite>& w, int steps, LONG64 start, LONG64 end, DWORD delay,
                           double* worstErrorMs, std::vector<double>* glitchesUs)
{
    PassSplit split = { TicksToMs(w[0].ticks - start), 0.0 };
    for (int s = 0; s < steps; ++s) {
        LONG64 stepEnd = s + 1 < steps ? w[2 * s + 2].ticks : end;
        double error = TicksToMs(stepEnd - w[2 * s].ticks) - static_cast<double>(delay);
        if (std::abs(error) > std::abs(*worstErrorMs))
            *worstErrorMs = error;
        double redrawMs = TicksToMs(w[2 * s + 1].ticks - w[2 * s].ticks);
        glitchesUs->push_back(1000.0 * redrawMs);
        split.programMs += redrawMs;
        split.sleptMs += TicksToMs(stepEnd - w[2 * s + 1].ticks);
    }
    return split;
}

static PassFigures MeasurePasses(const Effect& e, DWORD delay, std::vector<double>* glitchesUs)
{
    SendMessageA(DelaySlider, TBM_SETPOS, TRUE, static_cast<LPARAM>(delay));
    PassFigures f = {};
    std::vector<double> passMs, programMs, sleptMs;
    int passes = PassesFor(e, delay);
    for (int n = 0; n < passes; ++n) {
        int64_t mark = JournalMark();
        LONG64 start = SharedPortNow();
        e.run();
        LONG64 end = SharedPortNow();
        std::vector<JournalWrite> w = JournalSince(mark);
        if (w.size() != static_cast<size_t>(2 * e.steps)) {
            ++f.badPasses;
            continue;
        }
        passMs.push_back(TicksMs(end - start));
        PassSplit split = SplitPass(w, e.steps, start, end, delay, &f.worstStepErrorMs, glitchesUs);
        programMs.push_back(split.programMs);
        sleptMs.push_back(split.sleptMs);
    }
    f.passMs = Summarise(passMs);
    f.programMs = Summarise(programMs).mean;
    f.sleptMs = Summarise(sleptMs).mean;
    return f;
}

// The verdict splits the pass's own excess over n x delay: the program's
// redraws against the sleeps' overshoot, both measured in the same passes.
static void AddPassRow(const Effect& e, DWORD delay, const Summary& sleepMs, std::vector<double>* glitchesUs)
{
    PassFigures f = MeasurePasses(e, delay, glitchesUs);
    double steps = e.steps;
    double ideal = steps * static_cast<double>(delay);
    double overshootMs = (f.sleptMs - ideal) / steps, redrawMs = f.programMs / steps;
    StepOverheadsMs.push_back(redrawMs);
    std::string figure = Text("%s pass, delay %lu ms (%d steps)", e.name, static_cast<unsigned long>(delay), e.steps);
    std::string measured = Text("%s (%u passes), worst step %s", Ms(f.passMs.mean).c_str(),
                                static_cast<unsigned>(f.passMs.count), SignedMs(f.worstStepErrorMs).c_str());
    if (f.badPasses)
        measured += Text(", %d passes with a wrong write count", f.badPasses);
    std::string limit = Text("ideal %s; %d x Sleep(%lu) alone %s, worst %s", Ms(ideal).c_str(), e.steps,
                             static_cast<unsigned long>(delay), Ms(steps * sleepMs.mean).c_str(),
                             SignedMs(sleepMs.worst - static_cast<double>(delay)).c_str());
    std::string verdict = redrawMs > overshootMs
        ? Text("program: LED redraws %s a step, Sleep overshoot %s", Ms(redrawMs).c_str(), Ms(overshootMs).c_str())
        : Text("platform: Sleep overshoot %s a step, LED redraws %s", Ms(overshootMs).c_str(), Ms(redrawMs).c_str());
    AddRow(figure, measured, limit, verdict);
}

static void AddPassRows(std::vector<double>* glitchesUs)
{
    Summary sleepMs[DELAY_COUNT];
    for (int d = 0; d < DELAY_COUNT; ++d)
        sleepMs[d] = MeasureSleep(DELAYS[d]);
    AddSection("Light effect passes, from the call to its return (in this process, simulated port)");
    for (const Effect& e : EFFECTS) {
        Progress("  %s passes at 0, 1, 10, 100 and 200 ms", e.name);
        for (int d = 0; d < DELAY_COUNT; ++d)
            AddPassRow(e, DELAYS[d], sleepMs[d], glitchesUs);
    }
    AddFigure("step_overhead_ms", Summarise(StepOverheadsMs).mean, "ms");
}

static void AddGlitchRow(const std::vector<double>& glitchesUs, const EntryCosts& c)
{
    Summary g = Summarise(glitchesUs);
    double p99 = Percentile(glitchesUs, 0.99), median = Percentile(glitchesUs, 0.5);
    AddFigure("zero_glitch_mean_us", g.mean, "us");
    AddFigure("zero_glitch_p99_us", p99, "us");
    AddFigure("zero_glitch_worst_us", g.worst, "us");
    AddSection("Output writes");
    AddRow("0 glitch before each value (WriteOutputs)",
           Text("mean %s, median %s, 99th percentile %s, worst %s (%u writes)", Us(g.mean).c_str(),
                Us(median).c_str(), Us(p99).c_str(), Us(g.worst).c_str(), static_cast<unsigned>(g.count)),
           Text("ideal: two writes back to back, %s apart", Us(c.writeUs.mean).c_str()),
           ProgramLimits(g.mean, 0.0, c.writeUs.mean)
               ? "program: it updates its LED model between the 0 and the value"
               : "platform: the library write itself");
}

// ---- Timers

// Dispatches messages for a while; the running timers keep the queue busy.
static void RunLoopFor(DWORD ms)
{
    LONG64 start = SharedPortNow();
    MSG msg;
    while (TicksMs(SharedPortNow() - start) < ms && GetMessageA(&msg, nullptr, 0, 0)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

// The platform's own shortest timer period: a window with nothing but SetTimer(1 ms).
static Summary MeasureBareTimer()
{
    WNDCLASSA wc = {};
    wc.lpfnWndProc = BareTimerProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "TravekBenchTimer";
    RegisterClassA(&wc);
    HWND w = CreateWindowExA(0, wc.lpszClassName, "", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr,
                             wc.hInstance, nullptr);
    BareStamps.clear();
    SetTimer(w, 1, 1, nullptr);
    RunLoopFor(TIMER_RUN_MS);
    KillTimer(w, 1);
    DestroyWindow(w);
    return Summarise(Gaps(BareStamps));
}

// The program's three idle timers on the test window, as MainWindow runs them.
static void RunProgramTimers(HWND main)
{
    SimPortSetStatus(SharedPortAttach(), PORT_STATUS_IDLE);
    PollStamps.clear();
    ExtinguishStamps.clear();
    SetTimer(main, TIMER_SENSOR_POLL, SENSOR_POLL_PERIOD_MS, nullptr);
    SetTimer(main, TIMER_SENSOR_RESET, SENSOR_RESET_PERIOD_MS, nullptr);
    SetTimer(main, TIMER_EXTINGUISH, EXTINGUISH_PERIOD_MS, nullptr);
    RunLoopFor(TIMER_RUN_MS);
    KillTimer(main, TIMER_SENSOR_POLL);
    KillTimer(main, TIMER_SENSOR_RESET);
    KillTimer(main, TIMER_EXTINGUISH);
}

static void AddTimerRow(const char* figure, const Summary& ms, const Summary& bare)
{
    std::string measured = Text("mean %s (%.0f/s), worst %s", Ms(ms.mean).c_str(), 1000.0 / ms.mean,
                                Ms(ms.worst).c_str());
    std::string limit = Text("bare SetTimer(1 ms): mean %s, worst %s; minimum %u ms", Ms(bare.mean).c_str(),
                             Ms(bare.worst).c_str(), static_cast<unsigned>(USER_TIMER_MINIMUM));
    std::string verdict = ProgramLimits(ms.mean, 1.0, bare.mean)
        ? Text("program: its handlers delay the next tick by %s", Ms(ms.mean - bare.mean).c_str())
        : "platform: timers never fire faster than every 10 ms, whatever the program asks";
    AddRow(figure, measured, limit, verdict);
}

static Summary AddTimerRows(HWND main)
{
    Progress("  bare 1 ms timer, then the program's poll, reset and extinguish timers");
    Summary bare = MeasureBareTimer();
    RunProgramTimers(main);
    AddSection("Timers: the program's three idle timers on its timer dispatch (in this process)");
    AddTimerRow("Poll period, timer 101 (asks 1 ms)", Summarise(Gaps(PollStamps)), bare);
    AddTimerRow("Extinguish tick, timer 106 (asks 1 ms)", Summarise(Gaps(ExtinguishStamps)), bare);
    return bare;
}

TimerFigures BenchInProcess()
{
    Progress("In this process:");
    TestPanel panel = CreateTestPanel(BenchWndProc);
    ShowWindow(panel.main, SW_SHOWNOACTIVATE);  // visible buttons, as in the program
    LetTimePass(300);
    EntryCosts entries = MeasureEntries();
    std::vector<double> glitchesUs;
    AddPassRows(&glitchesUs);
    AddGlitchRow(glitchesUs, entries);
    TimerFigures t;
    t.barePeriodMs = AddTimerRows(panel.main);
    AddSection("Port library INPOUT32.dll, entries looked up by ordinal with GetProcAddress");
    AddEntryRow("Entry 1 (read), one call", entries.readUs, entries);
    AddEntryRow("Entry 2 (write), one call", entries.writeUs, entries);
    return t;
}
