// See helperstart.h.
#include "helperstart.h"
#include <stdio.h>
#include <stdlib.h>
#include "backend.h"
#include "unixcall.h"

constexpr int COMMAND_LINE_CHARS = 2048;
constexpr int NOTE_CHARS = PORTSTATE_TEXT * 2;

bool HelperPath(wchar_t* out, DWORD size)
{
    if (!ThisFolder(out, size - 32))
        return false;
    MultiByteToWideChar(CP_UTF8, 0, PORTHELPER_NAME, -1, out + lstrlenW(out), 32);
    return GetFileAttributesW(out) != INVALID_FILE_ATTRIBUTES;
}

DWORD SpawnHelper(const wchar_t* exe, const wchar_t* args)
{
    wchar_t line[COMMAND_LINE_CHARS];
    _snwprintf(line, COMMAND_LINE_CHARS, L"\"%ls\" %ls", exe, args);
    line[COMMAND_LINE_CHARS - 1] = L'\0';
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(exe, line, nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &si, &pi))
        return GetLastError();
    if (pi.hProcess)  // Wine gives none for a Linux program: liveness comes from the beat
        CloseHandle(pi.hProcess);
    if (pi.hThread)
        CloseHandle(pi.hThread);
    return 0;
}

struct Note {
    PortFaultCode code;
    wchar_t text[NOTE_CHARS];
};

static DWORD WINAPI NotifyThread(LPVOID p)
{
    Note* n = static_cast<Note*>(p);
    wchar_t exe[MAX_PATH + 32], args[NOTE_CHARS + 64];
    if (HelperPath(exe, MAX_PATH + 32)) {
        _snwprintf(args, NOTE_CHARS + 64, L"--notify %u \"%ls\"", static_cast<unsigned>(n->code), n->text);
        args[NOTE_CHARS + 63] = L'\0';
        SpawnHelper(exe, args);
    }
    free(n);
    return 0;
}

void NotifyFaultLater(PortFaultCode code, const char* text)
{
    if (!UnderWine())
        return;
    Note* n = static_cast<Note*>(calloc(1, sizeof(Note)));
    if (!n)
        return;
    n->code = code;
    MultiByteToWideChar(CP_UTF8, 0, text, -1, n->text, NOTE_CHARS - 1);
    for (wchar_t* c = n->text; *c; ++c)
        if (*c == L'"')
            *c = L'\'';  // one argument on the command line
    HANDLE t = CreateThread(nullptr, 0, NotifyThread, n, 0, nullptr);
    if (t)
        CloseHandle(t);
    else
        free(n);
}
