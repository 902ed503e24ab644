#include "program.h"
#include "mainclass.h"
#include "testwin.h"
#include <vector>

static HWND FindPanel(HWND main)
{
    for (HWND c = GetWindow(main, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
        char cls[32];
        if (GetClassNameA(c, cls, sizeof(cls)) && strcmp(cls, "#32770") == 0)
            return c;
    }
    return nullptr;
}

struct FindArgs {
    DWORD pid;
    const char* cls;
    HWND found;
};

static BOOL CALLBACK FindInProcess(HWND w, LPARAM lp)
{
    FindArgs* args = reinterpret_cast<FindArgs*>(lp);
    DWORD pid = 0;
    GetWindowThreadProcessId(w, &pid);
    char cls[64];
    if (pid == args->pid && GetClassNameA(w, cls, sizeof(cls)) && strcmp(cls, args->cls) == 0) {
        args->found = w;
        return FALSE;
    }
    return TRUE;
}

HWND TopWindowOfProcess(DWORD pid, const char* cls)
{
    FindArgs args = { pid, cls, nullptr };
    EnumWindows(FindInProcess, reinterpret_cast<LPARAM>(&args));
    return args.found;
}

bool LaunchProgram(Program& p, const char* exeName)
{
    p = Program();
    p.startMark = JournalMark();
    std::string cmd = "\"" + TestFolder() + exeName + "\"";
    std::vector<char> line(cmd.begin(), cmd.end());
    line.push_back('\0');
    STARTUPINFOA si = {};
    si.cb = sizeof(si);
    return CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                          TestFolder().c_str(), &si, &p.process) != 0;
}

bool FindProgramWindows(Program& p, bool withPanel, DWORD timeoutMs)
{
    HWND found = nullptr;
    bool shown = WaitFor([&] {
        found = TopWindowOfProcess(p.process.dwProcessId, MAIN_CLASS);
        if (!found || !IsWindowVisible(found))
            return false;
        return !withPanel || (FindPanel(found) && IsWindowVisible(FindPanel(found)));
    }, timeoutMs);
    if (!shown)
        return false;
    p.main = found;
    p.panel = FindPanel(p.main);
    return true;
}

bool StartProgram(Program& p, const char* exeName)
{
    if (!LaunchProgram(p, exeName))
        return false;
    WaitForInputIdle(p.process.hProcess, WaitLongMs());
    return FindProgramWindows(p, true, WaitStartMs()) && Responds(p, WaitLongMs());
}

bool StartProgramWithStderr(Program& p, HANDLE* errRead, DWORD pipeBytes)
{
    SECURITY_ATTRIBUTES sa = { sizeof sa, nullptr, TRUE };
    HANDLE errWrite = nullptr;
    *errRead = nullptr;
    if (!CreatePipe(errRead, &errWrite, &sa, pipeBytes))
        return false;
    SetHandleInformation(*errRead, HANDLE_FLAG_INHERIT, 0);
    p = Program();
    p.startMark = JournalMark();
    std::string cmd = "\"" + TestFolder() + "Travek.exe\"";
    std::vector<char> line(cmd.begin(), cmd.end());
    line.push_back('\0');
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdError = errWrite;
    bool ok = CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, TestFolder().c_str(), &si,
                             &p.process) != 0;
    CloseHandle(errWrite);
    return ok && FindProgramWindows(p, true, WaitStartMs()) && Responds(p, WaitMs());
}

std::string ReadPipeToEnd(HANDLE pipe)
{
    std::string text;
    char buf[4096];
    DWORD got;
    while (ReadFile(pipe, buf, sizeof buf, &got, nullptr) && got > 0)
        text.append(buf, got);
    CloseHandle(pipe);
    return text;
}

void StopProgram(Program& p)
{
    if (!p.process.hProcess)
        return;
    if (WaitForSingleObject(p.process.hProcess, 0) == WAIT_TIMEOUT) {
        TerminateProcess(p.process.hProcess, 1);
        WaitForSingleObject(p.process.hProcess, WaitLongMs());
    }
    CloseHandle(p.process.hProcess);
    CloseHandle(p.process.hThread);
    p = Program();
}

HWND Control(const Program& p, int id)
{
    return GetDlgItem(p.panel, id);
}

void Click(HWND button)
{
    SendMessageA(button, BM_CLICK, 0, 0);
}

void ClickLater(HWND button)
{
    PostMessageA(button, BM_CLICK, 0, 0);
}

void TypeText(HWND edit, const std::string& text)
{
    SendMessageA(edit, EM_SETSEL, 0, -1);
    SendMessageA(edit, WM_CHAR, VK_BACK, 0);
    for (char c : text)
        SendMessageA(edit, WM_CHAR, static_cast<unsigned char>(c), 1);
}

std::wstring TextOf(HWND window)
{
    wchar_t buf[512] = {};
    DWORD_PTR got = 0;
    SendMessageTimeoutW(window, WM_GETTEXT, 512, reinterpret_cast<LPARAM>(buf), SMTO_ABORTIFHUNG, WaitMs(), &got);
    return buf;
}

HWND WaitForBox(const wchar_t* caption, DWORD timeoutMs)
{
    HWND box = nullptr;
    WaitFor([&] {
        box = FindWindowW(L"#32770", caption);
        return box && IsWindowVisible(box);
    }, timeoutMs);
    return box;
}

std::wstring BoxText(HWND box)
{
    return TextOf(GetDlgItem(box, 0xFFFF));
}

void AnswerBox(HWND box, int button)
{
    PostMessageA(GetDlgItem(box, button), BM_CLICK, 0, 0);
    WaitFor([&] { return !IsWindow(box); }, WaitMs());
}

bool Responds(const Program& p, DWORD timeoutMs)
{
    DWORD_PTR result = 0;
    return SendMessageTimeoutA(p.main, WM_NULL, 0, 0, SMTO_NORMAL, timeoutMs, &result) != 0;
}
