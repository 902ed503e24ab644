// See helperwatch.h.
#include "helperwatch.h"
#include <stdio.h>
#include "backend.h"
#include "helperstart.h"
#include "portfaults.h"

static PortState* g_state;     // the shared state
static int64_t g_nextWatch;       // clock of the next look at the helper
static int64_t g_nextStart;       // clock before which no helper is started (back-off)
static int g_backoffMs = HELPER_BACKOFF_FIRST_MS;  // the wait before the next start
static int64_t g_servingSince;    // clock since which a helper serves, 0 if none does
static LONG g_starting;           // a start is under way on its thread
static bool g_helperSeen;         // a helper has served since the last loss
static int g_silentStarts;        // starts since a helper last served or said why not
static LONG g_startFailed;        // a failed start has been said; not again until a helper serves
static bool g_staleSaid;          // the stale status has been said; not again until it is fresh

static int64_t MsToTicks(int64_t ms)
{
    return g_state->frequency * ms / 1000;
}

// A helper beats: a start's lease counts as a beat for HELPER_START_LEASE_MS.
// Its process is not judged: a lease names no helper process yet.
static bool HelperBeats()
{
    PortHelperJudge judge = { g_state->frequency, HELPER_START_LEASE_MS, false, true, nullptr };
    return PortHelperAlive(g_state, SharedPortNow(), judge);
}

static void SayStartFailure(const char* text)
{
    if (!InterlockedExchange(&g_startFailed, 1))
        ReportFault(g_state, PORT_FAULT_HELPER_START, text);
}

// Starts the helper with the state file's Linux path. Runs on its own thread.
static DWORD WINAPI StartHelper(LPVOID)
{
    wchar_t exe[MAX_PATH + 32], args[PORTSTATE_TEXT * 4];
    char text[PORTSTATE_TEXT];
    if (!HelperPath(exe, MAX_PATH + 32)) {
        snprintf(text, sizeof text, "programme d'aide %s introuvable à côté de INPOUT32.dll : "
                 "reconstruisez avec scripts/build.sh", PORTHELPER_NAME);
        SayStartFailure(text);
    } else {
        args[0] = L'"';
        MultiByteToWideChar(CP_UTF8, 0, SharedPortFilePath(), -1, args + 1, PORTSTATE_TEXT * 4 - 2);
        lstrcatW(args, L"\"");
        DWORD e = SpawnHelper(exe, args);
        if (e != 0) {
            snprintf(text, sizeof text, "le programme d'aide %s n'a pas pu démarrer (erreur %lu)",
                     PORTHELPER_NAME, e);
            SayStartFailure(text);
        }
    }
    InterlockedExchange(&g_starting, 0);
    return 0;
}

// Starts the helper without waiting, unless one beats, a start is under way,
// the back-off has not passed, or another process just leased the start.
static void StartHelperLater(int64_t now)
{
    if (now < g_nextStart)
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
    AtomicAdd(&g_state->helperStarts, uint32_t(1));
    g_nextStart = now + MsToTicks(HELPER_START_LEASE_MS + g_backoffMs);
    g_backoffMs = g_backoffMs * 2 > HELPER_BACKOFF_MAX_MS ? HELPER_BACKOFF_MAX_MS : g_backoffMs * 2;
    ++g_silentStarts;
    HANDLE t = CreateThread(nullptr, 0, StartHelper, nullptr, 0, nullptr);
    if (t)
        CloseHandle(t);
    else
        StartHelper(nullptr);
}

// A helper serves: its device answers, so faults of the device or of an
// earlier helper are over; the back-off starts again after a steady while.
static void Served(int64_t now)
{
    g_helperSeen = true;
    g_silentStarts = 0;
    InterlockedExchange(&g_startFailed, 0);
    if (g_servingSince == 0)
        g_servingSince = now;
    else if (now - g_servingSince > MsToTicks(HELPER_BACKOFF_RESET_MS))
        g_backoffMs = HELPER_BACKOFF_FIRST_MS;
    PortFaultCode code = static_cast<PortFaultCode>(AtomicLoad(&g_state->fault));
    if (code == PORT_FAULT_NONE || !PortFaultEndsWhenServed(code))
        return;
    PortStateFault(g_state, PORT_FAULT_NONE, "", now);
    char target[PORTSTATE_TEXT], line[PORTSTATE_TEXT + 64];
    for (int i = 0; i < PORTSTATE_TEXT; ++i)
        target[i] = AtomicLoad(&g_state->target[i]);
    target[PORTSTATE_TEXT - 1] = '\0';
    snprintf(line, sizeof line, "le port %s répond de nouveau : les écritures reprennent", target);
    SayLine(line);
}

// No helper beats: says why once, then starts another after the back-off.
static void Lost(int64_t now)
{
    g_servingSince = 0;
    char text[PORTSTATE_TEXT];
    if (g_helperSeen) {
        g_helperSeen = false;
        snprintf(text, sizeof text, "le programme d'aide %s ne répond plus : redémarrage ; les écritures "
                 "restent dans le journal", PORTHELPER_NAME);
        ReportFault(g_state, PORT_FAULT_HELPER_LOST, text);
    } else if (g_silentStarts >= 2) {
        snprintf(text, sizeof text, "le programme d'aide %s a été lancé %d fois sans répondre (état partagé "
                 "illisible pour lui ?) : nouvel essai dans %d ms", PORTHELPER_NAME, g_silentStarts, g_backoffMs);
        SayStartFailure(text);
    }
    StartHelperLater(now);
}

// Publishes how old the status is; says it once on the console when it
// goes stale while no start is merely under way.
static void WatchStatus(int64_t now, uint32_t state)
{
    uint32_t age = PortStatusAgeUpdate(g_state, now);
    if (age == 0) {
        g_staleSaid = false;
        return;
    }
    if (g_staleSaid || state == HELPER_STARTING)
        return;
    g_staleSaid = true;
    char line[PORTSTATE_TEXT];
    snprintf(line, sizeof line, "état des entrées périmé : dernière lecture du port il y a %u,%02u s ; "
             "le programme montre la dernière valeur lue", age / 1000, age % 1000 / 10);
    SayLine(line);
}

void HelperWatch(int64_t now)
{
    if (now < g_nextWatch)
        return;
    g_nextWatch = now + MsToTicks(HELPER_WATCH_MS);
    EchoNewFault(g_state);
    uint32_t state = AtomicLoad(&g_state->helperState);
    WatchStatus(now, state);
    if (state == HELPER_REFUSED)
        return;  // the helper said why; a restart cannot change it
    if (!HelperBeats())
        Lost(now);
    else if (PortHelperHoldsPort(state))
        Served(now);
    else if (state == HELPER_WAITING)
        g_silentStarts = 0;  // it said why and tries again itself
}

void HelperWatchStart(PortState* s)
{
    g_state = s;
    StartHelperLater(SharedPortNow());
}
