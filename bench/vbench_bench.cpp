// Figures of the virtual bench, vbench.exe: its CPU share while the port is
// quiet, and its frame rate and CPU share while the port changes (a thread of
// this process writes the data port every millisecond).
#include <windows.h>
#include "bench.h"
#include "port.h"
#include "vbench.h"

constexpr DWORD QUIET_SETTLE_MS = 6000;  // longer than the chart's default 5 s span
constexpr DWORD QUIET_MS = 10000;
constexpr DWORD CHANGING_MS = 5000;
constexpr DWORD WRITE_PERIOD_MS = 1;
constexpr double FRAMES_WANTED = 50.0;  // a frame rate at which the LEDs and chart look smooth
static const char VBENCH_EXE[] = "vbench.exe";

static volatile LONG KeepWriting;  // the writer thread runs while it is 1

static DWORD WINAPI WriteSweep(LPVOID)
{
    short value = 1;
    while (KeepWriting) {
        PortWrite(DATA_PORT, value);
        value = static_cast<short>(value == 128 ? 1 : value * 2);
        Sleep(WRITE_PERIOD_MS);
    }
    return 0;
}

struct Stretch {
    double cpuPercent;
    double framesPerS;
};

static LONG64 Frames(HWND window)
{
    DWORD_PTR frames = 0;
    SendMessageTimeoutA(window, VB_GET_FRAMES, 0, 0, SMTO_ABORTIFHUNG, 2000, &frames);
    return static_cast<LONG64>(frames);
}

static Stretch Measure(const Started& s, HWND window, DWORD ms)
{
    LONG64 start = SharedPortNow();
    CpuMark before = CpuNow(s);
    LONG64 framesBefore = Frames(window);
    WaitPumping([] { return false; }, ms);
    double wallS = TicksMs(SharedPortNow() - start) / 1000.0;
    bool fromThreads = false;
    Stretch st;
    st.cpuPercent = CpuPercent(before, CpuNow(s), wallS, &fromThreads);
    st.framesPerS = static_cast<double>(Frames(window) - framesBefore) / wallS;
    return st;
}

static void AddRows(const Stretch& quiet, const Stretch& changing)
{
    AddSection("Virtual bench vbench.exe beside no test bench: quiet port, then a write every millisecond");
    AddRow("CPU share, port quiet", Text("%.2f %% of one processor, %.1f frames/s", quiet.cpuPercent, quiet.framesPerS),
           "ideal 0 %: nothing on screen changes",
           quiet.cpuPercent > 1.0 ? "program: it repaints what did not change" : "platform: its refresh timer's wake-ups");
    AddRow("Frames while the port changes", Text("%.1f frames/s, %.2f %% of one processor", changing.framesPerS,
                                                 changing.cpuPercent),
           Text("wanted at least %.0f frames/s; the refresh timer asks 15 ms", FRAMES_WANTED),
           "platform: the timer's period sets the frame rate");
    AddFigure("vbench_idle_cpu_percent", quiet.cpuPercent, "percent");
    AddFigure("vbench_fps_changing", changing.framesPerS, "frames/s");
}

void BenchVirtualBench()
{
    Progress("  %s: %lu s quiet, then %lu s of writes", VBENCH_EXE,
             static_cast<unsigned long>((QUIET_SETTLE_MS + QUIET_MS) / 1000),
             static_cast<unsigned long>(CHANGING_MS / 1000));
    Started s = {};
    HWND window = nullptr;
    bool ok = Launch(VBENCH_EXE, &s) && WaitPumping([&] {
        window = FindWindowA(VBENCH_CLASS, nullptr);
        return window && WindowShown(s);
    }, 20000);
    if (!ok) {
        Progress("  %s did not show its window", VBENCH_EXE);
        Stop(&s);
        return;
    }
    WaitPumping([] { return false; }, QUIET_SETTLE_MS);
    Stretch quiet = Measure(s, window, QUIET_MS);
    KeepWriting = 1;
    HANDLE writer = CreateThread(nullptr, 0, WriteSweep, nullptr, 0, nullptr);
    Stretch changing = Measure(s, window, CHANGING_MS);
    KeepWriting = 0;
    if (writer) {
        WaitForSingleObject(writer, 5000);
        CloseHandle(writer);
    }
    Stop(&s);
    AddRows(quiet, changing);
}
