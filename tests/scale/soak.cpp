// Soak of the real program: K2000 and Chenillard repeating, every button of
// the panel clicked at random and the status register changed at random for a
// given time. The program must keep answering between passes, its windows, GUI
// objects and memory must not grow, and its journal must stay well formed with
// every effect pass whole and uninterleaved.
//
//   soak [SECONDS [SEED [DELAY_MS]]]    600 s, a seed from the clock, 2 ms
//
// The seed is printed first, so that a failing run can be replayed.
#include <windows.h>
#include <commctrl.h>
#include <stdio.h>
#include <stdlib.h>
#include <algorithm>
#include <random>
#include <string>
#include <vector>
#include "resource.h"
#include "sensorcodes.h"
#include "soak.h"
#include "testwin.h"

constexpr DWORD PROBE_EVERY_MS = 200;  // WM_NULL latency probes
constexpr DWORD SAMPLE_EVERY_MS = 2000;
constexpr DWORD STATUS_CHECK_EVERY_MS = 1000;
constexpr DWORD BOX_EVERY_MS = 100000;  // the invalid-number box, rare: ~2 s each under Wine
// Growth allowed to the private bytes after the warm-up. Wine reports no
// private bytes but gives the anonymous resident memory as the page-file usage,
// the same figure as the private bytes on Windows. It stays within a few KiB
// over minutes; a leak of a few dozen bytes per pass or click exceeds the limit
// in a long run, and one of a GDI object (its pixels live in the process
// under Wine) per pass in any run.
constexpr SIZE_T PRIVATE_GROWTH_LIMIT = 256 * 1024;

struct Options {
    DWORD seconds;
    unsigned seed;
    int delay;
};

static Options ParseOptions(int argc, char** argv)
{
    Options o = { 600, GetTickCount() ^ (GetCurrentProcessId() << 16), 2 };
    if (argc > 1)
        o.seconds = static_cast<DWORD>(strtoul(argv[1], nullptr, 10));
    if (argc > 2)
        o.seed = static_cast<unsigned>(strtoul(argv[2], nullptr, 10));
    if (argc > 3)
        o.delay = atoi(argv[3]);
    return o;
}

// The whole run: the program, the journal's check and the figures.
struct Soak {
    Options options;
    std::mt19937 rng;
    Program program;
    JournalCheck journal;
    LONG resets;  // of the shared state, at the start
    DWORD start, elapsed;
    int clicks, statusChanges, boxes, probes;
    DWORD worstLatency;
    bool baselineTaken, endTaken;
    Footprint launch, baseline, end;
    std::vector<LRESULT> images;
};

static int RandomStatus(std::mt19937& rng)
{
    // Half of the time a sensor code or the idle value, otherwise any byte.
    if (rng() % 2 == 0)
        return static_cast<int>(rng() % 256);
    unsigned pick = rng() % (SENSOR_SLOTS + 1);
    return pick < SENSOR_SLOTS ? SENSOR_CODES[pick].value : PORT_STATUS_IDLE;
}

static void PrintFootprint(const char* when, const Footprint& f)
{
    printf("  %-9s windows %d, GDI %lu, USER %lu, private %.2f MiB, working set %.2f MiB\n", when, f.windows,
           f.gdi, f.user, Mb(f.privateBytes), Mb(f.workingSet));
}

static bool GuiCounted(const Soak& s)
{
    return s.launch.gdi != 0 || s.launch.user != 0;
}

// Starts the program with the step delay set and both effects running.
static bool Begin(Soak& s)
{
    PortState* port = SharedPortAttach();
    SimPortSetStatus(port, PORT_STATUS_IDLE);
    s.resets = port->resets;
    if (!StartProgram(s.program)) {
        Fail("the program did not start");
        return false;
    }
    JournalCheck& j = s.journal;
    j.next = s.program.startMark;
    j.commands.push_back(MakeCommand("start-up", { 0 }));
    j.commands.back().sent = s.program.startMark;
    j.commands.back().handled = JournalMark();
    s.launch = Measure(s.program);

    // The effects read the slider's position at every pass.
    HWND slider = Control(s.program, IDC_DELAY_SLIDER);
    LRESULT delay = 0;
    TimedSend(slider, TBM_SETPOS, TRUE, s.options.delay);
    TimedSend(slider, TBM_GETPOS, 0, 0, &delay);
    if (delay != s.options.delay)
        Fail("the delay slider reads %ld after being set to %d", static_cast<long>(delay), s.options.delay);
    StartBoth(j, s.program, s.rng);
    s.start = GetTickCount();
    return Failure.empty();
}

static void Probe(Soak& s, bool afterBox)
{
    DWORD sent = GetTickCount();
    if (!Responds(s.program, ANSWER_MS))
        Fail("no answer to WM_NULL within %lu ms", ANSWER_MS);
    if (!afterBox)  // closing a box costs seconds under Wine, whatever the program does
        s.worstLatency = std::max(s.worstLatency, GetTickCount() - sent);
    ++s.probes;
}

static void Run(Soak& s)
{
    DWORD total = s.options.seconds * 1000;
    DWORD warmUp = std::min<DWORD>(std::max<DWORD>(total / 10, 3000), 30000);
    DWORD lastProbe = 0, lastSample = 0, lastStatusCheck = 0, lastReport = 0, nextBox = total * 2 / 5;
    JournalCheck& j = s.journal;
    for (DWORD now = 0; now < total && Failure.empty(); now = GetTickCount() - s.start) {
        if (WaitForSingleObject(s.program.process.hProcess, 0) != WAIT_TIMEOUT) {
            Fail("the program ended during the soak");
            break;
        }
        if (s.rng() % 4 == 0) {
            SimPortSetStatus(SharedPortAttach(), RandomStatus(s.rng));
            ++s.statusChanges;
        }
        bool box = now >= nextBox && s.baselineTaken;
        if (box) {
            RefusedNumber(j, s.program);
            ++s.boxes;
            nextBox += BOX_EVERY_MS;
        } else {
            RandomClick(j, s.program, s.rng);
        }
        ++s.clicks;
        // Clicks come before timer events: leave the effects time to run.
        LetTimePass(s.rng() % (20 * static_cast<unsigned>(s.options.delay) + 20));
        if (box || now - lastProbe >= PROBE_EVERY_MS) {
            Probe(s, box);
            lastProbe = now;
        }
        if (now - lastStatusCheck >= STATUS_CHECK_EVERY_MS) {
            StatusShown(s.program, RandomStatus(s.rng));
            ++s.statusChanges;
            lastStatusCheck = now;
        }
        if (now >= warmUp && (!s.baselineTaken || now - lastSample >= SAMPLE_EVERY_MS)) {
            if (!s.baselineTaken)
                s.baseline = Measure(s.program);
            s.baselineTaken = true;
            CollectImages(s.program, s.images);
            lastSample = now;
        }
        ReadJournal(j);
        ParseJournal(j, false);
        if (now - lastReport >= 60000) {
            printf("  %3lu s: %lld K2000, %lld Chenillard, %lld Fontaine passes, %d clicks, private %.2f MiB\n",
                   now / 1000, static_cast<long long>(j.passes[K2000]),
                   static_cast<long long>(j.passes[CHENILLARD]), static_cast<long long>(j.fontaines), s.clicks,
                   Mb(Measure(s.program).privateBytes));
            lastReport = now;
        }
    }
    s.elapsed = GetTickCount() - s.start;
}

// Stops the effects and lets the journal settle: everything in it must then
// parse, every command's writes found.
static void Finish(Soak& s)
{
    JournalCheck& j = s.journal;
    Stop(j, s.program);
    if (!Responds(s.program, ANSWER_MS))
        Fail("no answer within %lu ms after the final stop", ANSWER_MS);
    LetTimePass(200);  // nothing more may come
    ReadJournal(j);
    ParseJournal(j, true);
    if (Failure.empty() && j.nextCommand != j.commands.size())
        Fail("journal: the writes of \"%s\" and %u later commands are missing",
             j.commands[j.nextCommand].name.c_str(),
             static_cast<unsigned>(j.commands.size() - j.nextCommand - 1));
    // A window that comes and goes is no leak: look again for a moment.
    WaitFor([&] {
        s.end = Measure(s.program);
        return s.end.windows == s.baseline.windows;
    }, 1000);
    s.endTaken = true;
    CollectImages(s.program, s.images);
}

// The checks on the whole run, the first failing one reported.
static void Judge(const Soak& s)
{
    const Footprint &from = s.baseline, &to = s.end;
    const JournalCheck& j = s.journal;
    double longestPass = std::max(j.longestPassMs[K2000], j.longestPassMs[CHENILLARD]);
    if (to.windows != from.windows)
        Fail("the program's windows went from %d to %d", from.windows, to.windows);
    else if (GuiCounted(s) && to.gdi > from.gdi + 16)
        Fail("GDI objects went from %lu to %lu", from.gdi, to.gdi);
    else if (GuiCounted(s) && to.user > from.user + 8)
        Fail("USER objects went from %lu to %lu", from.user, to.user);
    else if (s.images.size() > 4)
        Fail("the indicators showed %u distinct bitmaps; the program loads four",
             static_cast<unsigned>(s.images.size()));
    else if (to.privateBytes > from.privateBytes + PRIVATE_GROWTH_LIMIT)
        Fail("private bytes grew by %.0f KiB, more than %.0f KiB",
             (to.privateBytes - from.privateBytes) / 1024.0, PRIVATE_GROWTH_LIMIT / 1024.0);
    else if (SharedPortAttach()->resets != s.resets)
        Fail("the shared port state was found corrupt %ld times",
             static_cast<long>(SharedPortAttach()->resets - s.resets));
    else if (j.passes[K2000] == 0 || j.passes[CHENILLARD] == 0)
        Fail("no pass of %s in the journal", j.passes[K2000] == 0 ? "K2000" : "Chenillard");
    else if (j.worstPassesBefore > 2)
        Fail("a click waited for %d passes before it was handled", j.worstPassesBefore);
    else if (s.worstLatency > 4 * longestPass + 1000)
        Fail("the program took %lu ms to answer WM_NULL; a pass lasts at most %.0f ms", s.worstLatency,
             longestPass);
}

static void PrintSummary(const Soak& s)
{
    const JournalCheck& j = s.journal;
    printf("soak: %.1f s, seed %u, step delay %d ms\n", s.elapsed / 1000.0, s.options.seed, s.options.delay);
    printf("  passes: %lld K2000 (longest %.1f ms), %lld Chenillard (longest %.1f ms), %lld Fontaine\n",
           static_cast<long long>(j.passes[K2000]), j.longestPassMs[K2000],
           static_cast<long long>(j.passes[CHENILLARD]), j.longestPassMs[CHENILLARD],
           static_cast<long long>(j.fontaines));
    printf("  clicks %d (%d message boxes), status changes %d, writes checked %lld\n", s.clicks, s.boxes,
           s.statusChanges, static_cast<long long>(j.checked));
    printf("  worst WM_NULL latency %lu ms over %d probes; a click waited for at most %d passes\n",
           s.worstLatency, s.probes, j.worstPassesBefore);
    if (!GuiCounted(s))
        printf("  GetGuiResources gives 0 here (error %lu): windows counted instead, GDI through the "
               "indicator bitmaps (%u distinct) and memory\n",
               s.launch.guiError, static_cast<unsigned>(s.images.size()));
    PrintFootprint("launch", s.launch);
    if (s.baselineTaken)
        PrintFootprint("baseline", s.baseline);
    if (!s.endTaken)
        return;
    PrintFootprint("end", s.end);
    double growth = static_cast<double>(s.end.privateBytes) - static_cast<double>(s.baseline.privateBytes);
    int64_t events = j.passes[K2000] + j.passes[CHENILLARD] + s.clicks;
    printf("  private bytes since the baseline: %+.1f KiB (limit %.0f KiB), %+.2f bytes per pass or click\n",
           growth / 1024.0, PRIVATE_GROWTH_LIMIT / 1024.0,
           growth / static_cast<double>(std::max<int64_t>(1, events)));
}

int main(int argc, char** argv)
{
    setvbuf(stdout, nullptr, _IONBF, 0);
    static Soak s;
    s.options = ParseOptions(argc, argv);
    const Options& o = s.options;
    printf("soak: %lu s, seed %u, step delay %d ms (replay: scripts/soak.sh %lu %u %d)\n", o.seconds, o.seed,
           o.delay, o.seconds, o.seed, o.delay);
    s.rng.seed(o.seed);
    if (Begin(s)) {
        Run(s);
        if (Failure.empty())
            Finish(s);
        if (Failure.empty())
            Judge(s);
        PrintSummary(s);
    }
    StopProgram(s.program);
    if (!Failure.empty()) {
        printf("SOAK FAILED (seed %u): %s\n", o.seed, Failure.c_str());
        return 1;
    }
    printf("soak passed\n");
    return 0;
}
