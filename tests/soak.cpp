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
#include <psapi.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <algorithm>
#include <random>
#include <string>
#include <vector>
#include "program.h"
#include "simport.h"
#include "testwin.h"
#include "resource.h"

static const int LED_IDS[8] = { 1008, 1001, 1002, 1003, 1004, 1005, 1006, 1007 };  // bit 0 first
static const int SENSOR_VALUES[] = { 119, 111, 95, 255, 63, 127 };  // the five codes and idle
static const int FONTAINE_VALUES[4] = { 24, 36, 66, 129 };
constexpr DWORD ANSWER_MS = 10000;     // longer than this without an answer is a hang
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

enum Effect { K2000 = 0, CHENILLARD = 1 };

// ---------------------------------------------------------------- failures

static std::string Failure;  // the first failure; the soak stops at it

static void Fail(const char* format, ...)
{
    if (!Failure.empty())
        return;
    char text[1024];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof(text), format, args);
    va_end(args);
    Failure = text;
}

static std::string Join(const SimPortWrite* w, size_t n)
{
    std::string s;
    for (size_t i = 0; i < n; ++i)
        s += (i ? "," : "") + std::to_string(w[i].value);
    return s;
}

static std::string Join(const std::vector<int>& v)
{
    std::string s;
    for (size_t i = 0; i < v.size(); ++i)
        s += (i ? "," : "") + std::to_string(v[i]);
    return s;
}

// ---------------------------------------------------------------- clicks

// One command given to the program, with the data writes it must make.
struct Command {
    std::string name;
    std::vector<int> writes;  // exactly these, between two passes
    int starts;               // -1, or the effect whose timer it starts
    bool stops;               // "Arreter": both effects stop after its writes
    int64_t sent;             // journal count before it was sent
    int64_t handled;          // journal count once it had been handled
    int passesBefore;         // passes begun after it was sent, before its writes
};

static Command MakeCommand(const std::string& name, std::vector<int> writes)
{
    Command c;
    c.name = name;
    c.writes = writes;
    c.starts = -1;
    c.stops = false;
    c.sent = c.handled = 0;
    c.passesBefore = 0;
    return c;
}

// Writes of WriteOutputs(v): the outputs are cleared first.
static std::vector<int> Written(int v)
{
    return { 0, v };
}

// ---------------------------------------------------------------- journal

// The journal as read so far, and the parse of it into passes and commands.
struct JournalCheck {
    int64_t next;                       // sequence number of the next write to copy
    int64_t lastTicks;
    std::vector<SimPortWrite> pending;  // copied, not yet parsed
    size_t pos;                         // first unparsed write in pending
    int64_t checked;                    // writes copied and checked
    std::vector<Command> commands;      // in the order given
    size_t nextCommand;
    bool running[2];
    int64_t runsFrom[2];  // a pass of a started effect begins at or after this
    int64_t passes[2];
    double longestPassMs[2];
    int64_t fontaines;
    int worstPassesBefore;  // passes a command waited for, at most
};

static SimPortWrite Copied[SIMPORT_JOURNAL_CAPACITY];

// Copies the new writes and checks their form: consecutive, ticks never going
// back, only data-port writes of 0..255.
static void ReadJournal(JournalCheck& j)
{
    int64_t next = 0, dropped = 0;
    size_t n = SimPortCopyJournal(SimPortAttach(), j.next, Copied, SIMPORT_JOURNAL_CAPACITY, &next, &dropped);
    if (dropped != 0)
        Fail("journal: %lld writes from seq %lld lost (overwritten before they were read, or torn)",
             static_cast<long long>(dropped), static_cast<long long>(j.next));
    for (size_t i = 0; i < n && Failure.empty(); ++i) {
        const SimPortWrite& w = Copied[i];
        if (w.seq != j.next)
            Fail("journal: seq %lld where %lld was due", static_cast<long long>(w.seq),
                 static_cast<long long>(j.next));
        else if (w.ticks < j.lastTicks)
            Fail("journal: ticks go back at seq %lld (%lld after %lld)", static_cast<long long>(w.seq),
                 static_cast<long long>(w.ticks), static_cast<long long>(j.lastTicks));
        else if (w.port != SIMPORT_DATA)
            Fail("journal: seq %lld writes port 0x%X", static_cast<long long>(w.seq), w.port);
        else if (w.value > 255)
            Fail("journal: seq %lld writes %u, beyond anything the soak asked for",
                 static_cast<long long>(w.seq), w.value);
        j.next = w.seq + 1;
        j.lastTicks = w.ticks;
        j.pending.push_back(w);
        ++j.checked;
    }
}

static size_t Available(const JournalCheck& j)
{
    return j.pending.size() - j.pos;
}

static int ValueAt(const JournalCheck& j, size_t i)
{
    return j.pending[j.pos + i].value;
}

// The writes of a pass from its start: 0, 1, 0, 2 ... 0, 128, and for K2000
// then 0, 128, 0, 64 ... 0, 1.
static int PassValue(int effect, size_t i)
{
    if (i % 2 == 0)
        return 0;
    int step = static_cast<int>(i / 2);
    if (effect == K2000 && step >= 8)
        return 1 << (15 - step);
    return 1 << step;
}

static size_t PassLength(int effect)
{
    return effect == K2000 ? 32 : 16;
}

static std::string Around(const JournalCheck& j, size_t count)
{
    size_t n = std::min(count, Available(j));
    return Join(&j.pending[j.pos], n);
}

// Parses one whole pass at the head; false if more writes are needed.
static bool ParsePass(JournalCheck& j, bool final)
{
    size_t have = Available(j);
    // After the sweep up, K2000 goes on with 0, 128; no command begins so.
    if (have < 18 && !final)
        return false;
    int effect = have >= 18 && ValueAt(j, 16) == 0 && ValueAt(j, 17) == 128 ? K2000 : CHENILLARD;
    size_t length = PassLength(effect);
    if (have < length) {
        if (final)
            Fail("journal: pass at seq %lld cut short: %s", static_cast<long long>(j.pending[j.pos].seq),
                 Around(j, length).c_str());
        return false;
    }
    for (size_t i = 0; i < length; ++i) {
        if (ValueAt(j, i) != PassValue(effect, i)) {
            Fail("journal: %s pass at seq %lld broken at its write %u: %s",
                 effect == K2000 ? "K2000" : "Chenillard", static_cast<long long>(j.pending[j.pos].seq),
                 static_cast<unsigned>(i), Around(j, length).c_str());
            return false;
        }
    }
    int64_t first = j.pending[j.pos].seq;
    if (!j.running[effect] || first < j.runsFrom[effect]) {
        Fail("journal: %s pass at seq %lld while that effect was stopped",
             effect == K2000 ? "K2000" : "Chenillard", static_cast<long long>(first));
        return false;
    }
    double ms = TicksToMs(j.pending[j.pos + length - 1].ticks - j.pending[j.pos].ticks);
    j.longestPassMs[effect] = std::max(j.longestPassMs[effect], ms);
    ++j.passes[effect];
    if (j.nextCommand < j.commands.size()) {
        Command& c = j.commands[j.nextCommand];
        if (first >= c.handled) {
            Fail("journal: the writes of \"%s\" (sent at seq %lld, handled by %lld) are missing; a pass "
                 "follows at %lld", c.name.c_str(), static_cast<long long>(c.sent),
                 static_cast<long long>(c.handled), static_cast<long long>(first));
            return false;
        }
        if (first >= c.sent)
            ++c.passesBefore;
    }
    j.pos += length;
    return true;
}

// Takes the commands that write nothing, up to the next that writes.
static void TakeSilentCommands(JournalCheck& j)
{
    while (j.nextCommand < j.commands.size() && j.commands[j.nextCommand].writes.empty()) {
        const Command& c = j.commands[j.nextCommand++];
        if (c.starts >= 0 && !j.running[c.starts]) {
            j.running[c.starts] = true;
            j.runsFrom[c.starts] = c.sent;
        }
    }
}

// Parses the next command's writes at the head; false if more are needed.
static bool ParseCommand(JournalCheck& j, bool final)
{
    if (j.nextCommand >= j.commands.size()) {
        if (Available(j) >= 2 || final)
            Fail("journal: writes at seq %lld that no command and no pass explain: %s",
                 static_cast<long long>(j.pending[j.pos].seq), Around(j, 34).c_str());
        return false;
    }
    Command& c = j.commands[j.nextCommand];
    size_t n = c.writes.size();
    if (Available(j) < n) {
        if (final)
            Fail("journal: \"%s\" wrote %s, not %s", c.name.c_str(), Around(j, n).c_str(),
                 Join(c.writes).c_str());
        return false;
    }
    int64_t first = j.pending[j.pos].seq, last = first + static_cast<int64_t>(n) - 1;
    for (size_t i = 0; i < n; ++i) {
        if (ValueAt(j, i) != c.writes[i]) {
            Fail("journal: at seq %lld neither a whole pass nor the writes of \"%s\" (%s): %s",
                 static_cast<long long>(first), c.name.c_str(), Join(c.writes).c_str(),
                 Around(j, 34).c_str());
            return false;
        }
    }
    if (first < c.sent || last >= c.handled) {
        Fail("journal: the writes of \"%s\" at seq %lld..%lld, outside the time it was handled (%lld..%lld)",
             c.name.c_str(), static_cast<long long>(first), static_cast<long long>(last),
             static_cast<long long>(c.sent), static_cast<long long>(c.handled));
        return false;
    }
    j.worstPassesBefore = std::max(j.worstPassesBefore, c.passesBefore);
    if (c.stops)
        j.running[K2000] = j.running[CHENILLARD] = false;
    if (c.name == "Fontaine")
        ++j.fontaines;
    ++j.nextCommand;
    j.pos += n;
    return true;
}

// Parses as far as the writes allow. Every pass begins 0, 1, which no command
// writes (the soak never sends 1 or 128), so the head is told apart by its
// first two writes. With `final`, everything must be parsed.
static void ParseJournal(JournalCheck& j, bool final)
{
    while (Failure.empty()) {
        TakeSilentCommands(j);
        size_t have = Available(j);
        if (have == 0)
            break;
        if (have < 2 && !final)
            break;
        bool pass = have >= 2 && ValueAt(j, 0) == 0 && ValueAt(j, 1) == 1;
        if (!(pass ? ParsePass(j, final) : ParseCommand(j, final)))
            break;
    }
    if (j.pos > 4096) {
        j.pending.erase(j.pending.begin(), j.pending.begin() + static_cast<ptrdiff_t>(j.pos));
        j.pos = 0;
    }
}

// ---------------------------------------------------------------- the program

static bool TimedSend(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result = nullptr)
{
    DWORD_PTR r = 0;
    bool answered = SendMessageTimeoutA(window, message, wParam, lParam, SMTO_NORMAL, ANSWER_MS, &r) != 0;
    if (result)
        *result = static_cast<LRESULT>(r);
    return answered;
}

// Gives a command: a click, handled when the current pass has ended.
static void Give(JournalCheck& j, const Program& p, int id, Command c)
{
    c.sent = JournalMark();
    j.commands.push_back(c);
    if (!TimedSend(Control(p, id), BM_CLICK, 0, 0))
        Fail("no answer within %lu ms to a click on \"%s\"", ANSWER_MS, c.name.c_str());
    j.commands.back().handled = JournalMark();
}

static Command StartCommand(int effect)
{
    Command c = MakeCommand(effect == K2000 ? "K2000" : "Chenillard", {});
    c.starts = effect;
    return c;
}

static void StartBoth(JournalCheck& j, const Program& p, std::mt19937& rng)
{
    int first = static_cast<int>(rng() % 2);
    Give(j, p, first == K2000 ? IDC_K2000 : IDC_CHENILLARD, StartCommand(first));
    Give(j, p, first == K2000 ? IDC_CHENILLARD : IDC_K2000, StartCommand(1 - first));
}

static void Stop(JournalCheck& j, const Program& p)
{
    Command c = MakeCommand("Arreter", Written(0));
    c.stops = true;
    Give(j, p, IDC_STOP, c);
}

// A number for "Envoi" that no pass begins with: 0..255 but 1 and 128,
// sometimes with leading zeros, sometimes empty (which sends 0).
static std::string NumberText(std::mt19937& rng, int* value)
{
    int v;
    do
        v = static_cast<int>(rng() % 256);
    while (v == 1 || v == 128);
    *value = v;
    switch (rng() % 10) {
    case 0:
        *value = 0;
        return "";
    case 1:
        return "00" + std::to_string(v);
    }
    return std::to_string(v);
}

static void SetNumberText(const Program& p, const std::string& text)
{
    if (!TimedSend(Control(p, IDC_NUMBER_BOX), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str())))
        Fail("no answer within %lu ms to setting the number box", ANSWER_MS);
}

// One click on a button drawn at random, all of the panel's buttons in turn
// likely; "Arreter" is rarer and is followed by both effects started again.
static void RandomClick(JournalCheck& j, const Program& p, std::mt19937& rng)
{
    unsigned r = rng() % 100;
    if (r < 40) {
        int bit = static_cast<int>(rng() % 8);
        Give(j, p, LED_IDS[bit], MakeCommand("LED " + std::to_string(bit + 1), { 0, 0, 1 << bit }));
    } else if (r < 52) {
        Give(j, p, IDC_RESET, MakeCommand("Reset", { 0 }));
    } else if (r < 70) {
        int value = 0;
        std::string text = NumberText(rng, &value);
        SetNumberText(p, text);
        Give(j, p, IDC_SEND, MakeCommand(text.empty() ? "Envoi, box empty" : "Envoi " + text, Written(value)));
    } else if (r < 80) {
        std::vector<int> writes;
        for (int v : FONTAINE_VALUES) {
            writes.push_back(0);
            writes.push_back(v);
        }
        Give(j, p, IDC_FONTAINE, MakeCommand("Fontaine", writes));
    } else if (r < 88) {
        int n = static_cast<int>(rng() % 5);
        Give(j, p, IDC_SENSOR1 + n, MakeCommand("Capteur " + std::to_string(n + 1), {}));
    } else if (r < 97) {
        int effect = static_cast<int>(rng() % 2);
        Give(j, p, effect == K2000 ? IDC_K2000 : IDC_CHENILLARD, StartCommand(effect));
    } else {
        Stop(j, p);
        StartBoth(j, p, rng);
    }
}

// "Envoi" with a text that is not a number: the message box, answered. The
// program writes nothing for it, and its effects run on in the box's loop.
static void RefusedNumber(JournalCheck& j, const Program& p)
{
    SetNumberText(p, "12a");
    j.commands.push_back(MakeCommand("Envoi 12a", {}));
    ClickLater(Control(p, IDC_SEND));
    HWND box = WaitForBox(L"Chiffre incorrect", ANSWER_MS);
    if (!box) {
        Fail("no \"Chiffre incorrect\" box within %lu ms after \"Envoi\" with 12a", ANSWER_MS);
        return;
    }
    ReadJournal(j);
    AnswerBox(box, IDOK);
    if (IsWindow(box))
        Fail("the \"Chiffre incorrect\" box did not close when answered");
    if (!Responds(p, ANSWER_MS))
        Fail("no answer within %lu ms after the box closed", ANSWER_MS);
}

// ---------------------------------------------------------------- measures

struct Footprint {
    int windows;      // the program's windows, top-level and children
    DWORD gdi, user;  // GetGuiResources; 0 where the system does not count
    DWORD guiError;   // GetLastError after GetGuiResources returned 0
    SIZE_T privateBytes, workingSet;
};

struct CountArgs {
    DWORD pid;
    int count;
};

static BOOL CALLBACK CountChild(HWND, LPARAM lp)
{
    ++reinterpret_cast<CountArgs*>(lp)->count;
    return TRUE;
}

static BOOL CALLBACK CountTopLevel(HWND w, LPARAM lp)
{
    CountArgs* args = reinterpret_cast<CountArgs*>(lp);
    DWORD pid = 0;
    GetWindowThreadProcessId(w, &pid);
    if (pid == args->pid) {
        ++args->count;
        EnumChildWindows(w, CountChild, lp);
    }
    return TRUE;
}

static Footprint Measure(const Program& p)
{
    Footprint f = {};
    CountArgs args = { p.process.dwProcessId, 0 };
    EnumWindows(CountTopLevel, reinterpret_cast<LPARAM>(&args));
    f.windows = args.count;
    SetLastError(0);
    f.gdi = GetGuiResources(p.process.hProcess, GR_GDIOBJECTS);
    f.user = GetGuiResources(p.process.hProcess, GR_USEROBJECTS);
    f.guiError = f.gdi == 0 && f.user == 0 ? GetLastError() : 0;
    PROCESS_MEMORY_COUNTERS_EX m = {};
    m.cb = sizeof(m);
    if (GetProcessMemoryInfo(p.process.hProcess, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&m), sizeof(m))) {
        f.privateBytes = m.PrivateUsage ? m.PrivateUsage : m.PagefileUsage;
        f.workingSet = m.WorkingSetSize;
    }
    return f;
}

// The picture handles the thirteen indicators show; the program loads four
// bitmaps once, so more than four distinct handles would be a GDI leak.
static void CollectImages(const Program& p, std::vector<LRESULT>& seen)
{
    static const int IDS[13] = { 1008, 1001, 1002, 1003, 1004, 1005, 1006, 1007, 1012, 1013, 1014, 1015, 1016 };
    for (int id : IDS) {
        LRESULT image = 0;
        if (!TimedSend(Control(p, id), BM_GETIMAGE, IMAGE_BITMAP, 0, &image)) {
            Fail("no answer within %lu ms to BM_GETIMAGE", ANSWER_MS);
            return;
        }
        if (std::find(seen.begin(), seen.end(), image) == seen.end())
            seen.push_back(image);
    }
}

// Sets the status register and, once two polls have begun since, checks that
// the status box shows the value.
static void StatusShown(const Program& p, int value)
{
    SimPortState* port = SimPortAttach();
    SimPortSetStatus(port, value);
    int64_t reads = port->reads;
    if (!WaitFor([&] { return port->reads >= reads + 2; }, ANSWER_MS)) {
        Fail("the status register was not polled for %lu ms", ANSWER_MS);
        return;
    }
    std::wstring shown = TextOf(Control(p, IDC_STATUS_BOX));
    if (shown != std::to_wstring(value))
        Fail("the status box shows \"%ls\" for a status of %d", shown.c_str(), value);
}

static double Mb(SIZE_T bytes)
{
    return static_cast<double>(bytes) / (1024.0 * 1024.0);
}

// ---------------------------------------------------------------- the soak

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
    return rng() % 2 ? SENSOR_VALUES[rng() % 6] : static_cast<int>(rng() % 256);
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
    SimPortState* port = SimPortAttach();
    SimPortSetStatus(port, SIMPORT_STATUS_IDLE);
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
            SimPortSetStatus(SimPortAttach(), RandomStatus(s.rng));
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
        Sleep(s.rng() % (20 * static_cast<unsigned>(s.options.delay) + 20));
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
    Sleep(200);
    ReadJournal(j);
    ParseJournal(j, true);
    if (Failure.empty() && j.nextCommand != j.commands.size())
        Fail("journal: the writes of \"%s\" and %u later commands are missing",
             j.commands[j.nextCommand].name.c_str(),
             static_cast<unsigned>(j.commands.size() - j.nextCommand - 1));
    // A window that comes and goes is no leak: look again for a moment.
    for (int look = 0; look < 5; ++look) {
        s.end = Measure(s.program);
        if (s.end.windows == s.baseline.windows)
            break;
        Sleep(200);
    }
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
    else if (SimPortAttach()->resets != s.resets)
        Fail("the shared port state was found corrupt %ld times",
             static_cast<long>(SimPortAttach()->resets - s.resets));
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
