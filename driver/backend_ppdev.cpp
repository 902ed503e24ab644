// A ppdev device through the native helper (see the bridge in portstate.h):
// each write is journaled and the helper rung only if it sleeps; the status
// register reads what the helper last read. The helper is started, beside
// this library, when none beats, and restarted at most once a second if lost.
#include "backend.h"
#include "unixcall.h"
#include <limits.h>
#include <stdio.h>

constexpr int WATCH_MS = 50;             // how often calls look at the helper's health
constexpr int RESTART_MS = 1000;         // at most one start of the helper per this
constexpr int COMMAND_LINE_CHARS = 2048;

static SimPortState* g_state;    // the shared state
static int64_t g_nextWatch;      // clock of the next look at the helper
static int64_t g_lastStart;      // clock of the last start of the helper, 0 if none
static LONG g_starting;          // a start is under way on its thread
static bool g_helperSeen;        // a helper has beaten of its own since the last loss
static LONG g_startFailed;       // a failed start has been said; not again until the helper beats

static int64_t MsToTicks(int ms)
{
    return g_state->frequency * ms / 1000;
}

static bool HelperBeats()
{
    uint32_t state = AtomicLoad(&g_state->helperState);
    if (state != HELPER_STARTING && state != HELPER_AWAKE && state != HELPER_SLEEPING)
        return false;
    int64_t age = SimPortNow() - AtomicLoad(&g_state->helperBeat);
    return age < MsToTicks(HELPER_LOST_MS);
}

// Starts the helper: CreateProcessW on its path beside the DLL, with the state
// file's Linux path as its argument. Runs on its own thread.
static DWORD WINAPI StartHelper(LPVOID)
{
    wchar_t exe[MAX_PATH + 32], args[PORTSTATE_TEXT * 4];
    wchar_t line[COMMAND_LINE_CHARS];
    char text[PORTSTATE_TEXT];
    bool found = ThisFolder(exe, MAX_PATH);
    if (found) {
        MultiByteToWideChar(CP_UTF8, 0, PORTHELPER_NAME, -1, exe + lstrlenW(exe), 32);
        found = GetFileAttributesW(exe) != INVALID_FILE_ATTRIBUTES;
    }
    if (!found) {
        snprintf(text, sizeof text, "programme d'aide %s introuvable à côté de INPOUT32.dll : "
                 "reconstruisez avec scripts/build.sh", PORTHELPER_NAME);
        if (!InterlockedExchange(&g_startFailed, 1))
            ReportFault(g_state, PORT_FAULT_HELPER_START, text);
    } else {
        MultiByteToWideChar(CP_UTF8, 0, SimPortFilePath(), -1, args, PORTSTATE_TEXT * 4);
        _snwprintf(line, COMMAND_LINE_CHARS, L"\"%ls\" \"%ls\"", exe, args);
        line[COMMAND_LINE_CHARS - 1] = L'\0';
        STARTUPINFOW si = {};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi = {};
        if (!CreateProcessW(exe, line, nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &si, &pi)) {
            snprintf(text, sizeof text, "le programme d'aide %s n'a pas pu démarrer (erreur %lu)",
                     PORTHELPER_NAME, GetLastError());
            if (!InterlockedExchange(&g_startFailed, 1))
                ReportFault(g_state, PORT_FAULT_HELPER_START, text);
        }
        if (pi.hProcess)  // Wine gives none for a Linux program: liveness comes from the beat
            CloseHandle(pi.hProcess);
        if (pi.hThread)
            CloseHandle(pi.hThread);
    }
    InterlockedExchange(&g_starting, 0);
    return 0;
}

// Starts the helper without waiting, unless a start is under way, one was
// made less than RESTART_MS ago, or another process just leased the start.
static void StartHelperLater(int64_t now)
{
    if (g_lastStart != 0 && now - g_lastStart < MsToTicks(RESTART_MS))
        return;
    int64_t beat = AtomicLoad(&g_state->helperBeat);
    if (HelperBeats() || InterlockedCompareExchange(&g_starting, 1, 0) != 0)
        return;
    // The lease: a beat and HELPER_STARTING, so that other processes wait for this start.
    if (!AtomicCas(&g_state->helperBeat, beat, now)) {
        InterlockedExchange(&g_starting, 0);
        return;
    }
    AtomicStore(&g_state->helperState, uint32_t(HELPER_STARTING));
    g_lastStart = now;
    HANDLE t = CreateThread(nullptr, 0, StartHelper, nullptr, 0, nullptr);
    if (t)
        CloseHandle(t);
    else
        StartHelper(nullptr);
}

// Every WATCH_MS at most: says new faults, notices a lost helper, restarts it.
static void Watch(int64_t now)
{
    if (now < g_nextWatch)
        return;
    g_nextWatch = now + MsToTicks(WATCH_MS);
    EchoNewFault(g_state);
    uint32_t state = AtomicLoad(&g_state->helperState);
    if (state == HELPER_FAILED)
        return;  // the helper gave up on the device and said why
    if (HelperBeats()) {
        if (state != HELPER_STARTING) {
            g_helperSeen = true;
            InterlockedExchange(&g_startFailed, 0);
        }
        return;
    }
    if (g_helperSeen) {
        g_helperSeen = false;
        char text[PORTSTATE_TEXT];
        snprintf(text, sizeof text, "le programme d'aide %s ne répond plus : redémarrage ; les écritures "
                 "restent dans le journal", PORTHELPER_NAME);
        ReportFault(g_state, PORT_FAULT_HELPER_LOST, text);
    }
    StartHelperLater(now);
}

// Wakes the helper if it sleeps (see the bridge protocol).
static void Ring()
{
    if (PortStateRing(g_state))
        UnixFutexWake(&g_state->doorbell, INT_MAX);
}

static int16_t PpdevRead(uint16_t port)
{
    SimPortValidate(g_state);
    int64_t now = SimPortNow();
    PortStateNoteRead(g_state, now);
    Watch(now);
    switch (port) {
    case PORT_DATA: return static_cast<int16_t>(AtomicLoad(&g_state->data) & 0xFF);
    case PORT_STATUS: return static_cast<int16_t>(AtomicLoad(&g_state->status));
    case PORT_CONTROL: return static_cast<int16_t>(AtomicLoad(&g_state->control) & 0xFF);
    default: return 0xFF;  // only the data and status registers reach the device
    }
}

static void PpdevWrite(uint16_t port, uint16_t value)
{
    SimPortValidate(g_state);
    PortStateAppend(g_state, port, value, SimPortNow);
    Ring();
    Watch(AtomicLoad(&g_state->lastWriteTicks));
}

static const PortBackend g_ppdev = { PpdevRead, PpdevWrite };

const PortBackend* PpdevBackend(SimPortState* s, const PortConfig& c)
{
    if (!SimPortFilePath()) {
        char text[PORTSTATE_TEXT];
        snprintf(text, sizeof text, "TRAVEK_PORT : « %s » : un périphérique ppdev ne se pilote que sous Linux "
                 "(Wine), avec l'état partagé dans un fichier", c.target);
        ReportFault(s, UnderWine() ? PORT_FAULT_BRIDGE_FILES : PORT_FAULT_CONFIG, text);
        AtomicStore(&s->backend, uint32_t(PORT_BACKEND_PPDEV));
        return nullptr;
    }
    g_state = s;
    // The first selection of the device: the start-up write, the next one,
    // is the first to reach the wire, and no read has come from it yet.
    if (AtomicExchange(&s->backend, uint32_t(PORT_BACKEND_PPDEV)) != PORT_BACKEND_PPDEV) {
        AtomicStore(&s->applied, SimPortWriteCount(s));
        AtomicStore(&s->status, PORT_STATUS_IDLE);
        PortStateFault(s, PORT_FAULT_NONE, "", SimPortNow());
    }
    StartHelperLater(SimPortNow());
    return &g_ppdev;
}
