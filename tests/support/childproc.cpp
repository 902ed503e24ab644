#include "childproc.h"
#include <vector>
#include "testfacts.h"

bool StartTool(Child& c, const std::string& exe, const std::string& args, bool captureOutput)
{
    c = Child();
    std::string cmd = "\"" + TestFolder() + exe + "\" " + args;
    std::vector<char> line(cmd.begin(), cmd.end());
    line.push_back('\0');
    STARTUPINFOA si = {};
    si.cb = sizeof(si);
    HANDLE writeEnd = nullptr;
    if (captureOutput) {
        SECURITY_ATTRIBUTES sa = { sizeof(sa), nullptr, TRUE };
        if (!CreatePipe(&c.output, &writeEnd, &sa, 0))
            return false;
        SetHandleInformation(c.output, HANDLE_FLAG_INHERIT, 0);
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdOutput = writeEnd;
        si.hStdError = writeEnd;
        si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    }
    bool started = CreateProcessA(nullptr, line.data(), nullptr, nullptr, captureOutput, 0, nullptr,
                                  TestFolder().c_str(), &si, &c.process) != 0;
    if (writeEnd)
        CloseHandle(writeEnd);
    if (!started && c.output) {
        CloseHandle(c.output);
        c.output = nullptr;
    }
    return started;
}

bool ReadUntil(Child& c, std::string* text, const std::string& until, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    while (text->find(until) == std::string::npos) {
        DWORD avail = 0;
        if (!PeekNamedPipe(c.output, nullptr, 0, nullptr, &avail, nullptr))
            return false;
        if (avail > 0) {
            std::vector<char> buf(avail);
            DWORD got = 0;
            if (!ReadFile(c.output, buf.data(), avail, &got, nullptr))
                return false;
            text->append(buf.data(), got);
            continue;
        }
        if (GetTickCount() - start > timeoutMs)
            return false;
        Sleep(2);
    }
    return true;
}

int FinishTool(Child& c, DWORD timeoutMs)
{
    if (!c.process.hProcess)
        return -1;
    if (WaitForSingleObject(c.process.hProcess, timeoutMs) == WAIT_TIMEOUT) {
        TerminateProcess(c.process.hProcess, 259);
        WaitForSingleObject(c.process.hProcess, WaitLongMs());
    }
    DWORD code = 0;
    GetExitCodeProcess(c.process.hProcess, &code);
    CloseHandle(c.process.hProcess);
    CloseHandle(c.process.hThread);
    if (c.output)
        CloseHandle(c.output);
    c = Child();
    return static_cast<int>(code);
}

std::string TrimLineEnds(std::string text)
{
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return text;
}

std::string Peer(const std::string& args)
{
    std::string out;
    int code = RunTool("portpeer.exe", args, &out);
    return code == 0 ? TrimLineEnds(out) : "exit " + std::to_string(code);
}

int RunTool(const std::string& exe, const std::string& args, std::string* output)
{
    Child c;
    if (!StartTool(c, exe, args, true))
        return -1;
    output->clear();
    char buf[4096];
    DWORD got;
    while (ReadFile(c.output, buf, sizeof(buf), &got, nullptr) && got > 0)
        output->append(buf, got);
    return FinishTool(c, 30000);
}
