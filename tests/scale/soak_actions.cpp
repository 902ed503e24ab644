// The soak's actions on the program: clicks given as commands the journal
// check expects, the refused number, and the measures of the program's footprint.
#include "soak.h"
#include <commctrl.h>
#include <psapi.h>
#include <algorithm>
#include "resource.h"
#include "testwin.h"

bool TimedSend(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result)
{
    DWORD_PTR r = 0;
    bool answered = SendMessageTimeoutA(window, message, wParam, lParam, SMTO_NORMAL, ANSWER_MS, &r) != 0;
    if (result)
        *result = static_cast<LRESULT>(r);
    return answered;
}

void Give(JournalCheck& j, const Program& p, int id, Command c)
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

void StartBoth(JournalCheck& j, const Program& p, std::mt19937& rng)
{
    int first = static_cast<int>(rng() % 2);
    Give(j, p, first == K2000 ? IDC_K2000 : IDC_CHENILLARD, StartCommand(first));
    Give(j, p, first == K2000 ? IDC_CHENILLARD : IDC_K2000, StartCommand(1 - first));
}

void Stop(JournalCheck& j, const Program& p)
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

void RandomClick(JournalCheck& j, const Program& p, std::mt19937& rng)
{
    unsigned r = rng() % 100;
    if (r < 40) {
        int bit = static_cast<int>(rng() % 8);
        Give(j, p, SLOT_CONTROLS[bit], MakeCommand("LED " + std::to_string(bit + 1), { 0, 0, 1 << bit }));
    } else if (r < 52) {
        Give(j, p, IDC_RESET, MakeCommand("Reset", { 0 }));
    } else if (r < 70) {
        int value = 0;
        std::string text = NumberText(rng, &value);
        SetNumberText(p, text);
        Give(j, p, IDC_SEND, MakeCommand(text.empty() ? "Envoi, box empty" : "Envoi " + text, Written(value)));
    } else if (r < 80) {
        std::vector<int> writes;
        for (int v : FONTAINE_PASS) {
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

void RefusedNumber(JournalCheck& j, const Program& p)
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

Footprint Measure(const Program& p)
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

void CollectImages(const Program& p, std::vector<LRESULT>& seen)
{
    for (int id : SLOT_CONTROLS) {
        LRESULT image = 0;
        if (!TimedSend(Control(p, id), BM_GETIMAGE, IMAGE_BITMAP, 0, &image)) {
            Fail("no answer within %lu ms to BM_GETIMAGE", ANSWER_MS);
            return;
        }
        if (std::find(seen.begin(), seen.end(), image) == seen.end())
            seen.push_back(image);
    }
}

void StatusShown(const Program& p, int value)
{
    PortState* port = SharedPortAttach();
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

double Mb(SIZE_T bytes)
{
    return static_cast<double>(bytes) / (1024.0 * 1024.0);
}
