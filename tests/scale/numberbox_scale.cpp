// The number box at scale: COUNT generated texts (default 300) reach the real
// window as a user's do, typed (WM_CHAR) or pasted (clipboard, WM_PASTE), and
// are sent with Envoi. Each must follow the rule (the first 31 characters
// read; a non-digit among them refuses the text with a message box and no
// write; otherwise 0 then the number modulo 65536), the box must hold what
// was delivered, and the program must answer between texts. At the end, no
// window leaked. Usage: numberbox_scale [COUNT [SEED]].
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <random>
#include <string>
#include <vector>
#include "program.h"
#include "sharedport.h"
#include "testwin.h"
#include "numbertexts.h"
#include "resource.h"

constexpr int DEFAULT_COUNT = 300;
constexpr unsigned DEFAULT_SEED = 20261209;
static const DWORD ANSWER_MS = WaitMs();  // the program answers a message within this
static const DWORD BOX_MS = WaitLongMs();  // the refusal box appears within this
constexpr int CLIPBOARD_TRIES = 50;       // the clipboard may be held a moment by another
constexpr int REPORT_EVERY = 1000;

static std::string Failure;   // the first mismatch, empty while all is well

// One text: mostly numbers around and beyond 16 bits, long runs, tails past
// the 31 read, and one in ten a refusal with a non-digit anywhere in the 31
// (a refusal's message box costs about 2 s under Wine).
static std::string Generate()
{
    int kind = Pick(0, 99);
    if (kind < 30)
        return Digits(Pick(1, 6));
    if (kind < 45)
        return std::string(Pick(0, 8), '0') + Digits(Pick(1, 23));
    if (kind < 60) {
        std::string tail;
        for (int n = Pick(1, 30); n > 0; --n)
            tail += Pick(0, 1) ? NonDigit() : static_cast<char>('0' + Pick(0, 9));
        return Digits(NUMBER_READ_CHARS) + tail;
    }
    if (kind < 78)
        return Digits(Pick(32, 300));
    if (kind < 90)
        return Pick(0, 1) ? std::string() : std::string(NUMBER_READ_CHARS, Pick(0, 1) ? '9' : '0');
    std::string s = Digits(Pick(1, 50));
    s.insert(s.begin() + Pick(0, std::min(static_cast<int>(s.size()), NUMBER_READ_CHARS - 1)), NonDigit());
    return s;
}

static std::wstring Wide(const std::string& text)
{
    std::wstring w(text.size(), L'\0');
    int n = MultiByteToWideChar(1252, 0, text.data(), static_cast<int>(text.size()), &w[0], static_cast<int>(w.size()));
    w.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return w;
}

// Puts text on the clipboard as Unicode text, as an editor copying it would.
static bool CopyToClipboard(const std::wstring& text)
{
    for (int i = 0; i < CLIPBOARD_TRIES && !OpenClipboard(nullptr); ++i)
        LetTimePass(2);
    HGLOBAL g = GlobalAlloc(GMEM_MOVEABLE, (text.size() + 1) * sizeof(wchar_t));
    bool ok = g != nullptr && EmptyClipboard();
    if (ok) {
        memcpy(GlobalLock(g), text.c_str(), (text.size() + 1) * sizeof(wchar_t));
        GlobalUnlock(g);
        ok = SetClipboardData(CF_UNICODETEXT, g) != nullptr;
    }
    if (!ok && g)
        GlobalFree(g);
    CloseClipboard();
    return ok;
}

static bool Paste(HWND box, const std::string& text)
{
    if (!CopyToClipboard(Wide(text)))
        return false;
    SendMessageA(box, EM_SETSEL, 0, -1);
    SendMessageA(box, WM_PASTE, 0, 0);
    return true;
}

static void Fail(size_t index, const std::string& text, const std::string& what)
{
    if (Failure.empty())
        Failure = "texte " + std::to_string(index) + " (\"" + text.substr(0, 60) + "\", " +
                  std::to_string(text.size()) + " car.) : " + what;
}

struct Tally {
    int typed, pasted, accepted, refused;
    DWORD typingMs, pastingMs, acceptMs, refuseMs;  // time spent in each
};

// Sends one delivered text and checks what the port got.
static void Send(const Program& app, HWND envoi, const std::string& text, size_t index, Tally& t)
{
    Expected e = NumberRule(text);
    int64_t mark = JournalMark();
    DWORD start = GetTickCount();
    if (e.valid) {
        ++t.accepted;
        Click(envoi);
        t.acceptMs += GetTickCount() - start;
        if (ValuesSince(mark) != std::vector<int>{ 0, static_cast<short>(e.value) })
            Fail(index, text, "writes other than 0 then " + std::to_string(e.value));
        return;
    }
    ++t.refused;
    ClickLater(envoi);
    HWND msg = WaitForBox(L"Chiffre incorrect", BOX_MS);
    if (!msg)
        return Fail(index, text, "no refusal box");
    if (BoxText(msg) != L"Veuillez entrer un nombre valide")
        Fail(index, text, "unexpected refusal box");
    AnswerBox(msg, IDOK);  // about 2 s under Wine before the box is gone
    if (!Responds(app, BOX_MS))
        return Fail(index, text, "no answer after the box");
    if (!JournalSince(mark).empty())
        Fail(index, text, "a refused text wrote to the port");
    t.refuseMs += GetTickCount() - start;
}

struct WindowCount {
    DWORD pid;
    int n;
};

static BOOL CALLBACK CountWindow(HWND w, LPARAM lp)
{
    WindowCount* c = reinterpret_cast<WindowCount*>(lp);
    DWORD p = 0;
    GetWindowThreadProcessId(w, &p);
    if (p == c->pid)
        ++c->n;
    return TRUE;
}

// Top-level windows of the process, shown or not.
static int TopLevelWindows(DWORD pid)
{
    WindowCount c = { pid, 0 };
    EnumWindows(CountWindow, reinterpret_cast<LPARAM>(&c));
    return c.n;
}

static void Run(const Program& app, int count, Tally& t)
{
    HWND box = Control(app, IDC_NUMBER_BOX), envoi = Control(app, IDC_SEND);
    for (int i = 0; i < count && Failure.empty(); ++i) {
        std::string text = Generate();
        bool paste = Pick(0, 1) == 1;
        DWORD start = GetTickCount();
        if (paste) {
            ++t.pasted;
            if (!Paste(box, text))
                return Fail(i, text, "clipboard unavailable");
        } else {
            ++t.typed;
            TypeText(box, text);
        }
        (paste ? t.pastingMs : t.typingMs) += GetTickCount() - start;
        if (TextOf(box) != Wide(text))
            return Fail(i, text, paste ? "the pasted text differs" : "the typed text differs");
        Send(app, envoi, text, i, t);
        if (!Responds(app, ANSWER_MS))
            return Fail(i, text, "the program does not answer");
        if (WaitForSingleObject(app.process.hProcess, 0) != WAIT_TIMEOUT)
            return Fail(i, text, "the program ended");
        if ((i + 1) % REPORT_EVERY == 0)
            printf("numberbox: %d texts\n", i + 1);
    }
}

int main(int argc, char** argv)
{
    setvbuf(stdout, nullptr, _IONBF, 0);
    int count = argc > 1 ? atoi(argv[1]) : DEFAULT_COUNT;
    unsigned seed = argc > 2 ? static_cast<unsigned>(strtoul(argv[2], nullptr, 10)) : DEFAULT_SEED;
    if (count <= 0) {
        printf("usage: numberbox_scale [COUNT [SEED]]\n");
        return 2;
    }
    TextRng().seed(seed);
    Program app;
    if (!StartProgram(app)) {
        printf("NUMBERBOX FAILED: the program did not start\n");
        return 1;
    }
    int before = TopLevelWindows(app.process.dwProcessId);
    DWORD start = GetTickCount();
    Tally t = {};
    Run(app, count, t);
    int after = TopLevelWindows(app.process.dwProcessId);
    if (Failure.empty() && after != before)
        Failure = "windows: " + std::to_string(before) + " at the start, " + std::to_string(after) + " at the end";
    printf("numberbox: %d texts (%d typed, %d pasted), %d accepted, %d refused, %lu s, seed %u\n",
           t.typed + t.pasted, t.typed, t.pasted, t.accepted, t.refused,
           static_cast<unsigned long>((GetTickCount() - start) / 1000), seed);
    printf("numberbox: ms per text: typing %lu, pasting %lu, sending %lu, refusal %lu\n",
           t.typingMs / (t.typed ? t.typed : 1), t.pastingMs / (t.pasted ? t.pasted : 1),
           t.acceptMs / (t.accepted ? t.accepted : 1), t.refuseMs / (t.refused ? t.refused : 1));
    StopProgram(app);
    if (!Failure.empty()) {
        printf("NUMBERBOX FAILED (seed %u): %s\n", seed, Failure.c_str());
        return 1;
    }
    printf("numberbox: 0 mismatch, 0 crash, no leaked window\n");
    return 0;
}
