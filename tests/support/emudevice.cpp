#include "emudevice.h"
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include "emuport.h"

std::string EmuMount()
{
    char buf[MAX_PATH];
    DWORD n = GetEnvironmentVariableA(EMUPORT_ENV, buf, sizeof buf);
    return n > 0 && n < sizeof buf ? std::string(buf, n) : std::string();
}

std::string EmuDevice(int n)
{
    return EmuMount() + "/parport" + std::to_string(n);
}

std::string WindowsPathOf(const std::string& linuxPath)
{
    std::string p = "Z:" + linuxPath;
    for (char& c : p)
        if (c == '/')
            c = '\\';
    return p;
}

static std::string ReadWhole(const std::string& linuxPath)
{
    std::string text;
    HANDLE f = CreateFileA(WindowsPathOf(linuxPath).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_EXISTING, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE)
        return text;
    char buf[65536];
    DWORD got = 0;
    while (ReadFile(f, buf, sizeof buf, &got, nullptr) && got > 0)
        text.append(buf, got);
    CloseHandle(f);
    return text;
}

bool EmuControl(const std::string& commands, int n)
{
    HANDLE f = CreateFileA(WindowsPathOf(EmuDevice(n) + EMUPORT_CTL_SUFFIX).c_str(), GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE)
        return false;
    std::string text = commands + "\n";
    DWORD put = 0;
    bool ok = WriteFile(f, text.data(), DWORD(text.size()), &put, nullptr) && put == text.size();
    CloseHandle(f);
    return ok;
}

std::string EmuState(const std::string& key, int n)
{
    std::string text = ReadWhole(EmuDevice(n) + EMUPORT_CTL_SUFFIX);
    std::string prefix = key + " ";
    for (size_t at = 0; at < text.size();) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos)
            end = text.size();
        if (text.compare(at, prefix.size(), prefix) == 0)
            return text.substr(at + prefix.size(), end - at - prefix.size());
        at = end + 1;
    }
    return "";
}

std::vector<EmuWrite> EmuRecord(size_t from, int n)
{
    std::string text = ReadWhole(EmuDevice(n) + EMUPORT_WRITES_SUFFIX);
    std::vector<EmuWrite> record;
    for (size_t at = from * EMUPORT_RECORD_LINE; at + EMUPORT_RECORD_LINE <= text.size();
         at += EMUPORT_RECORD_LINE) {
        std::string line = text.substr(at, EMUPORT_RECORD_LINE);
        record.push_back(EmuWrite{atoi(line.c_str()), _atoi64(line.c_str() + 4)});
    }
    return record;
}

std::vector<int> EmuValues(size_t from, int n)
{
    std::vector<int> values;
    for (const EmuWrite& w : EmuRecord(from, n))
        values.push_back(w.value);
    return values;
}
