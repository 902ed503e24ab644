#include "realsession.h"
#include <stdio.h>
#include "emudevice.h"
#include "testwin.h"

static int g_sessions;  // sessions started by this process, for folder names

static std::string NewRuntimeDir()
{
    char base[MAX_PATH] = "/tmp";
    GetEnvironmentVariableA("XDG_RUNTIME_DIR", base, sizeof base);
    std::string dir = std::string(base) + "/realport-" + std::to_string(GetCurrentProcessId()) + "-" +
                      std::to_string(++g_sessions);
    CreateDirectoryA(WindowsPathOf(dir).c_str(), nullptr);
    return dir;
}

static std::string StateFileOf(const std::string& runtimeDir)
{
    return runtimeDir + "/" + PORTSTATE_DIR + "/" + PORTSTATE_FILE;
}

static PortState* MapState(RealSession& s)
{
    HANDLE f = CreateFileA(WindowsPathOf(StateFileOf(s.runtimeDir)).c_str(), GENERIC_READ,
                           FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE)
        return nullptr;
    s.mapping = CreateFileMappingA(f, nullptr, PAGE_READONLY, 0, sizeof(PortState), nullptr);
    CloseHandle(f);
    if (!s.mapping)
        return nullptr;
    return static_cast<PortState*>(MapViewOfFile(s.mapping, FILE_MAP_READ, 0, 0, sizeof(PortState)));
}

bool StartRealSession(RealSession& s, const std::string& target)
{
    s = RealSession();
    s.runtimeDir = NewRuntimeDir();
    SetEnvironmentVariableA("XDG_RUNTIME_DIR", s.runtimeDir.c_str());
    SetEnvironmentVariableA("TRAVEK_PORT", target.c_str());
    bool started = StartTool(s.child, "Travek.exe", "", true);
    SetEnvironmentVariableA("TRAVEK_PORT", nullptr);
    if (!started)
        return false;
    s.program.process = s.child.process;
    if (!FindProgramWindows(s.program, true, WaitStartMs()) || !Responds(s.program, WaitLongMs()))
        return false;
    return WaitFor([&] { return (s.state = MapState(s)) != nullptr && PortStateHeaderOk(s.state); }, WaitMs());
}

void StopRealSession(RealSession& s)
{
    if (s.state)
        UnmapViewOfFile(s.state);
    if (s.mapping)
        CloseHandle(s.mapping);
    s.state = nullptr;
    s.mapping = nullptr;
    FinishTool(s.child, 0);
    s.program = Program();
}

bool ConsoleSays(RealSession& s, const std::string& words, DWORD timeoutMs)
{
    return ReadUntil(s.child, &s.console, words, timeoutMs);
}

std::vector<JournalWrite> JournalDataWrites(RealSession& s)
{
    int64_t total = PortStateWriteCount(s.state);
    std::vector<JournalWrite> w(static_cast<size_t>(total));
    int64_t next = 0, dropped = 0;
    size_t n = PortStateCopyJournal(s.state, 0, w.data(), w.size(), &next, &dropped,
                                    [](int ms) { Sleep(ms); });
    std::vector<JournalWrite> data;
    for (size_t i = 0; i < n; i++)
        if (w[i].port == PORT_DATA)
            data.push_back(w[i]);
    return data;
}

std::vector<int> JournalData(RealSession& s)
{
    std::vector<int> values;
    for (const JournalWrite& w : JournalDataWrites(s))
        values.push_back(w.value & 0xFF);
    return values;
}

bool AllApplied(RealSession& s, DWORD timeoutMs)
{
    return WaitFor([&] { return AtomicLoad(&s.state->applied) == PortStateWriteCount(s.state); }, timeoutMs);
}

std::string FaultText(RealSession& s)
{
    char text[PORTSTATE_TEXT];
    for (int i = 0; i < PORTSTATE_TEXT; i++)
        text[i] = AtomicLoad(&s.state->faultText[i]);
    text[PORTSTATE_TEXT - 1] = '\0';
    return text;
}

bool RunLinux(const std::string& path, const std::string& args)
{
    std::string line = "\"" + WindowsPathOf(path) + "\" " + args;
    std::vector<char> buf(line.begin(), line.end());
    buf.push_back('\0');
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessA(nullptr, buf.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return false;
    if (pi.hProcess)
        CloseHandle(pi.hProcess);
    if (pi.hThread)
        CloseHandle(pi.hThread);
    return true;
}
