// Timing of the light effects and the sensor polling on the simulated port,
// from the journal's QueryPerformanceCounter stamps: K2000 passes at several
// step delays, the 0 glitch of WriteOutputs, and the idle poll period.
#include <windows.h>
#include <commctrl.h>
#include <stdio.h>
#include <algorithm>
#include <vector>
#include "effects.h"
#include "handles.h"
#include "indicators.h"
#include "port.h"
#include "testwin.h"

constexpr int K2000_STEPS = 16;
constexpr DWORD POLL_SECONDS = 3;
constexpr size_t MAX_POLLS = 4096;

static LONG64 PollTicks[MAX_POLLS];  // QueryPerformanceCounter at each poll
static size_t PollCount;             // polls recorded in PollTicks

static LONG64 Now()
{
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return t.QuadPart;
}

// The program's timer dispatch, recording the time of every poll.
static LRESULT CALLBACK BenchWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_TIMER && wParam == TIMER_SENSOR_POLL && PollCount < MAX_POLLS)
        PollTicks[PollCount++] = Now();
    return TimerDispatchProc(window, message, wParam, lParam);
}

struct PassFigures {
    double meanPassMs;
    double longestPassMs;
    double worstStepErrorMs;  // largest |step - delay| over all steps
};

// Runs K2000 passes back to back. A step lasts from the clear that begins its
// WriteOutputs to the clear of the next step; the last one ends when the pass
// returns. glitchesUs, if given, receives the width of every 0 glitch.
static PassFigures MeasureK2000(DWORD delay, int passes, std::vector<double>* glitchesUs)
{
    SendMessageA(DelaySlider, TBM_SETPOS, TRUE, static_cast<LPARAM>(delay));
    PassFigures f = { 0.0, 0.0, 0.0 };
    for (int n = 0; n < passes; ++n) {
        int64_t mark = JournalMark();
        RunK2000();
        LONG64 end = Now();
        std::vector<SimPortWrite> w = JournalSince(mark);
        if (w.size() != 2 * K2000_STEPS) {
            printf("  a pass wrote %u times instead of %d\n", static_cast<unsigned>(w.size()), 2 * K2000_STEPS);
            continue;
        }
        double pass = TicksToMs(end - w[0].ticks);
        f.meanPassMs += pass / passes;
        f.longestPassMs = std::max(f.longestPassMs, pass);
        for (int s = 0; s < K2000_STEPS; ++s) {
            LONG64 stepEnd = s + 1 < K2000_STEPS ? w[2 * s + 2].ticks : end;
            double error = TicksToMs(stepEnd - w[2 * s].ticks) - static_cast<double>(delay);
            f.worstStepErrorMs = std::max(f.worstStepErrorMs, error < 0 ? -error : error);
            if (glitchesUs)
                glitchesUs->push_back(1000.0 * TicksToMs(w[2 * s + 1].ticks - w[2 * s].ticks));
        }
    }
    return f;
}

static double Percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return 0.0;
    std::sort(v.begin(), v.end());
    size_t i = static_cast<size_t>(p * static_cast<double>(v.size() - 1) + 0.5);
    return v[i];
}

static double Mean(const std::vector<double>& v)
{
    double sum = 0.0;
    for (double x : v)
        sum += x;
    return v.empty() ? 0.0 : sum / static_cast<double>(v.size());
}

static void PrintPlatform()
{
    typedef const char*(__cdecl * WineVersion)();
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    WineVersion version = reinterpret_cast<WineVersion>(
        reinterpret_cast<void*>(GetProcAddress(ntdll, "wine_get_version")));
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    printf("Platform: %s %s, %d-bit build, performance counter %lld Hz\n\n",
           version ? "Wine" : "Windows", version ? version() : "", static_cast<int>(8 * sizeof(void*)),
           static_cast<long long>(frequency.QuadPart));
}

static void PrintPasses(std::vector<double>& glitchesUs)
{
    static const DWORD DELAYS[] = { 0, 10, 50, 100 };
    static const int PASSES[] = { 50, 5, 3, 3 };
    printf("K2000 pass (16 steps, each a WriteOutputs and a sleep of the delay)\n");
    printf("  %8s %7s %12s %14s %14s %18s\n", "delay", "passes", "16 x delay", "mean pass", "longest pass",
           "worst step error");
    for (int i = 0; i < 4; ++i) {
        PassFigures f = MeasureK2000(DELAYS[i], PASSES[i], DELAYS[i] == 0 ? &glitchesUs : nullptr);
        printf("  %5lu ms %7d %9lu ms %11.3f ms %11.3f ms %15.3f ms\n", static_cast<unsigned long>(DELAYS[i]),
               PASSES[i], static_cast<unsigned long>(K2000_STEPS * DELAYS[i]), f.meanPassMs, f.longestPassMs,
               f.worstStepErrorMs);
    }
    printf("\n");
}

static void PrintWriteCost(const std::vector<double>& glitchesUs)
{
    const int calls = 2000;
    LONG64 start = Now();
    for (int i = 0; i < calls; ++i)
        WriteOutputs(DATA_PORT, static_cast<short>(1 << (i % 8)));
    double callUs = 1000.0 * TicksToMs(Now() - start) / calls;
    printf("WriteOutputs at delay 0\n");
    printf("  0 glitch (clear to value write, journal), %u writes: mean %.1f us, median %.1f us, "
           "99%% %.1f us, max %.1f us\n",
           static_cast<unsigned>(glitchesUs.size()), Mean(glitchesUs), Percentile(glitchesUs, 0.5),
           Percentile(glitchesUs, 0.99), Percentile(glitchesUs, 1.0));
    printf("  one whole call (clock around %d calls): mean %.1f us\n\n", calls, callUs);
}

// Runs the message loop with the program's three idle timers for a while.
static void PrintIdlePolling(HWND main)
{
    SimPortSetStatus(SimPortAttach(), SIMPORT_STATUS_IDLE);
    PollCount = 0;
    LONG64 readsBefore = SimPortAttach()->reads;
    SetTimer(main, TIMER_SENSOR_POLL, 1, nullptr);
    SetTimer(main, TIMER_SENSOR_RESET, 500, nullptr);
    SetTimer(main, TIMER_EXTINGUISH, 1, nullptr);
    LONG64 start = Now();
    MSG msg;
    while (TicksToMs(Now() - start) < 1000.0 * POLL_SECONDS && GetMessageA(&msg, nullptr, 0, 0)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    KillTimer(main, TIMER_SENSOR_POLL);
    KillTimer(main, TIMER_SENSOR_RESET);
    KillTimer(main, TIMER_EXTINGUISH);
    long long reads = static_cast<long long>(SimPortAttach()->reads - readsBefore);

    std::vector<double> periods;
    for (size_t i = 1; i < PollCount; ++i)
        periods.push_back(TicksToMs(PollTicks[i] - PollTicks[i - 1]));
    printf("Idle polling (timer 101 requested at 1 ms, with timers 103 and 106 running), %lu s\n",
           static_cast<unsigned long>(POLL_SECONDS));
    printf("  %u polls (%lld status reads): mean period %.3f ms, median %.3f ms, min %.3f ms, max %.3f ms\n",
           static_cast<unsigned>(PollCount), reads, Mean(periods), Percentile(periods, 0.5),
           Percentile(periods, 0.0), Percentile(periods, 1.0));
    printf("  platform timer minimum (USER_TIMER_MINIMUM): %u ms\n", static_cast<unsigned>(USER_TIMER_MINIMUM));
}

int main()
{
    PrintPlatform();
    TestPanel panel = CreateTestPanel(BenchWndProc);
    ShowWindow(panel.main, SW_SHOWNOACTIVATE);  // visible buttons, as in the program
    PumpFor(300);
    std::vector<double> glitchesUs;
    PrintPasses(glitchesUs);
    PrintWriteCost(glitchesUs);
    PrintIdlePolling(panel.main);
    fflush(stdout);
    return 0;
}
