// The test bench itself on the emulated port (part "realport", which
// bench/realport.sh runs inside the emulated port's fixture): the 0 before
// each value as the wire gets it, the time from a pin change to the status
// box, the time from each journaled write to the wire, and the native
// helper's wake-ups and processor while the program idles and while it runs
// K2000 at delay 0. The helper's figures come from Linux's /proc, through Z:.
#include <windows.h>
#include <commctrl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <string>
#include <vector>
#include "bench.h"
#include "emudevice.h"
#include "realsession.h"
#include "resource.h"

constexpr DWORD SETTLE_MS = 2000;       // after start-up, before the idle stretch
constexpr DWORD IDLE_MS = 10000;
constexpr DWORD K2000_MS = 5000;
constexpr int PIN_CHANGES = 100;
constexpr DWORD BOX_LIMIT_MS = 1000;    // a change the box has not shown by then counts as this
constexpr DWORD SESSION_LIMIT_MS = 20000;
constexpr int STAGGER_MS = 17;          // pin changes land at every phase of the poll
static const int PIN_VALUES[] = { 119, 127, 111, 127, 95, 63, 127, 255 };

// Processor time and wake-ups of the helper: its voluntary switches (one a
// sleep) less the emulated device's ioctls (each a sleep of the caller while
// the FUSE server answers, which a real port's is not).
struct ProcMark {
    double cpuMs;
    double wakeups;
    double ioctls;  // the device's
    double wireWrites;
    LONG64 at;
    bool ok;
};

static std::string ProcText(int pid, const char* file)
{
    return EmuFileText("/proc/" + std::to_string(pid) + "/" + file);
}

static ProcMark MarkOf(RealSession& s)
{
    int pid = AtomicLoad(&s.state->helperPid);
    ProcMark m = { 0.0, 0.0, 0.0, static_cast<double>(AtomicLoad(&s.state->wireWrites)), SharedPortNow(), false };
    unsigned long long runNs = 0;
    std::string sched = ProcText(pid, "schedstat"), status = ProcText(pid, "status");
    static const char SLEEPS[] = "\nvoluntary_ctxt_switches:";
    size_t at = status.find(SLEEPS);
    if (sscanf(sched.c_str(), "%llu", &runNs) != 1 || at == std::string::npos)
        return m;
    m.cpuMs = static_cast<double>(runNs) / 1e6;
    m.ioctls = atof(EmuState("ioctls").c_str());
    m.wakeups = atof(status.c_str() + at + strlen(SLEEPS)) - m.ioctls;
    m.ok = true;
    return m;
}

struct HelperShare {
    double cpuPercent;
    double wakeupsPerS;
    double callsPerS;   // device calls
    double writesPerS;  // applied to the device
};

static HelperShare Between(const ProcMark& a, const ProcMark& b)
{
    double wallMs = TicksMs(b.at - a.at);
    HelperShare h = { -1.0, -1.0, 0.0, 0.0 };
    if (a.ok && b.ok && wallMs > 0.0) {
        h.cpuPercent = 100.0 * (b.cpuMs - a.cpuMs) / wallMs;
        h.wakeupsPerS = 1000.0 * (b.wakeups - a.wakeups) / wallMs;
        h.callsPerS = 1000.0 * (b.ioctls - a.ioctls) / wallMs;
        h.writesPerS = 1000.0 * (b.wireWrites - a.wireWrites) / wallMs;
    }
    return h;
}

// Milliseconds from each pin change to the status box showing it.
static std::vector<double> PinToBox(RealSession& s)
{
    std::vector<double> ms;
    HWND box = Control(s.program, IDC_STATUS_BOX);
    for (int i = 0; i < PIN_CHANGES; ++i) {
        int value = PIN_VALUES[i % (sizeof(PIN_VALUES) / sizeof(PIN_VALUES[0]))];
        std::wstring want = std::to_wstring(value);
        LONG64 start = SharedPortNow();
        if (!EmuControl("status " + std::to_string(value)))
            break;
        bool shown = WaitPumping([&] { return TextOf(box) == want; }, BOX_LIMIT_MS);
        ms.push_back(shown ? TicksMs(SharedPortNow() - start) : BOX_LIMIT_MS);
        Sleep(static_cast<DWORD>(i * 7 % STAGGER_MS));  // a change made at another phase of the poll
    }
    EmuControl("status 127");
    return ms;
}

static void RunK2000AtDelayZero(RealSession& s, HelperShare* share)
{
    SendMessageA(Control(s.program, IDC_DELAY_SLIDER), TBM_SETPOS, TRUE, 0);
    ProcMark before = MarkOf(s);
    Click(Control(s.program, IDC_K2000));
    WaitPumping([] { return false; }, K2000_MS);
    *share = Between(before, MarkOf(s));
    Click(Control(s.program, IDC_STOP));
}

// The wire's record against the journal, write by write: the 0 before each
// value (from the 0's arrival on the wire to the value's) and the time from
// each journaled write to the wire.
static void WireFigures(RealSession& s, size_t from, std::vector<double>* zeroUs, std::vector<double>* wireUs)
{
    std::vector<JournalWrite> journal = JournalDataWrites(s);
    std::vector<EmuWrite> wire = EmuRecord();
    if (journal.size() != wire.size()) {
        AddNote(Text("realport: %u writes journaled, %u on the wire: no wire figures",
                     static_cast<unsigned>(journal.size()), static_cast<unsigned>(wire.size())));
        return;
    }
    for (size_t i = from; i < journal.size(); ++i) {
        wireUs->push_back(1000.0 * TicksMs(wire[i].ticks - journal[i].ticks));
        if (i + 1 < journal.size() && journal[i].value == 0 && journal[i + 1].value != 0)
            zeroUs->push_back(1000.0 * TicksMs(wire[i + 1].ticks - wire[i].ticks));
    }
}

static void AddFigureRow(const char* name, double value, const char* unit, const std::string& measured,
                         const std::string& goal)
{
    AddFigure(name, value, unit);
    AddRow(name, measured, goal, "");
}

// The device's own ioctl round trip and its caller's processor time in it,
// in µs, measured natively just before this part (bench/realport.sh); -1
// when run otherwise.
static void DeviceCosts(double* roundTripUs, double* cpuUs)
{
    char text[64] = "";
    DWORD n = GetEnvironmentVariableA("REALPORT_DEVICE_US", text, sizeof text);
    *roundTripUs = *cpuUs = -1.0;
    if (n > 0 && n < sizeof text)
        sscanf(text, "%lf %lf", roundTripUs, cpuUs);
}

static void Report(const HelperShare& idle, const HelperShare& k2000, const std::vector<double>& boxMs,
                   const std::vector<double>& zeroUs, const std::vector<double>& wireUs)
{
    AddSection("The test bench on the emulated port (helper figures from /proc)");
    double floorUs = 0.0, callCpuUs = 0.0;
    DeviceCosts(&floorUs, &callCpuUs);
    AddFigureRow("device_round_trip_us", floorUs, "us",
                 Text("%.1f us; a write alone costs its caller %.1f us of processor", floorUs, callCpuUs),
                 "the device's own ioctl, outside the bridge: the floor of a write and of the 0");
    AddFigure("device_call_cpu_us", callCpuUs, "us");
    AddFigureRow("helper_idle_wakeups_per_s", idle.wakeupsPerS, "1/s", Text("%.1f a second", idle.wakeupsPerS),
                 "<= 100 a second, the program polling");
    double idleDevice = callCpuUs * idle.callsPerS / 1e4;  // percent of one processor in device calls
    AddFigureRow("helper_idle_cpu_percent", idle.cpuPercent, "%",
                 Text("%.2f %% (%.0f device calls a second, alone %.2f %%)", idle.cpuPercent, idle.callsPerS,
                      idleDevice),
                 "<= 0.5 %");
    AddFigure("helper_idle_device_cpu_percent", idleDevice, "%");
    double deviceShare = callCpuUs * k2000.callsPerS / 1e4;
    AddFigureRow("helper_k2000_cpu_percent", k2000.cpuPercent, "%",
                 Text("%.2f %% (%.0f wake-ups, %.0f device calls a second, alone %.2f %%)", k2000.cpuPercent,
                      k2000.wakeupsPerS, k2000.callsPerS, deviceShare),
                 "<= 5 %");
    AddFigure("helper_k2000_device_cpu_percent", deviceShare, "%");
    double p99 = Percentile(boxMs, 0.99);
    AddFigureRow("status_to_box_p99_ms", p99, "ms",
                 Text("median %.1f ms, 99th percentile %.1f ms, worst %.1f ms (%u changes)",
                      Percentile(boxMs, 0.5), p99, Summarise(boxMs).worst, static_cast<unsigned>(boxMs.size())),
                 "<= 25 ms at the 99th percentile");
    Summary z = Summarise(zeroUs);
    AddFigureRow("zero_glitch_mean_us", z.mean, "us",
                 Text("mean %.1f us, 99th percentile %.1f us (%u values)", z.mean, Percentile(zeroUs, 0.99),
                      static_cast<unsigned>(z.count)),
                 "mean <= 5 us; floor: one device write (device_round_trip_us)");
    AddFigure("zero_glitch_p99_us", Percentile(zeroUs, 0.99), "us");
    AddFigureRow("write_to_wire_median_us", Percentile(wireUs, 0.5), "us",
                 Text("median %.1f us, 99th percentile %.1f us", Percentile(wireUs, 0.5), Percentile(wireUs, 0.99)),
                 "median <= 60 us, 99th percentile <= 300 us");
    AddFigure("write_to_wire_p99_us", Percentile(wireUs, 0.99), "us");
}

void BenchRealProgram()
{
    if (EmuMount().empty()) {
        AddNote("realport: not inside the emulated port's fixture (bench/realport.sh runs this part)");
        return;
    }
    Progress("The test bench on the emulated port: idle, pin changes, K2000 at delay 0");
    EmuControl("normal\nstatus 127\nclear");
    RealSession s;
    if (!StartRealSession(s, EmuDevice()) ||
        !WaitFor([&] { return AtomicLoad(&s.state->helperState) == HELPER_SLEEPING; }, SESSION_LIMIT_MS)) {
        AddNote("realport: the test bench did not start on the emulated port");
        StopRealSession(s);
        return;
    }
    WaitPumping([] { return false; }, SETTLE_MS);
    ProcMark before = MarkOf(s);
    WaitPumping([] { return false; }, IDLE_MS);
    HelperShare idle = Between(before, MarkOf(s));
    std::vector<double> boxMs = PinToBox(s);
    size_t from = JournalDataWrites(s).size();
    HelperShare k2000 = {};
    RunK2000AtDelayZero(s, &k2000);
    std::vector<double> zeroUs, wireUs;
    if (AllApplied(s, SESSION_LIMIT_MS))
        WireFigures(s, from, &zeroUs, &wireUs);
    Report(idle, k2000, boxMs, zeroUs, wireUs);
    StopRealSession(s);
}
