// Moving journal entries to the device, the status read, client liveness.
#include "bridge.h"
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>
#include "portnative.h"
#include "notify.h"
#include "ppdev.h"

constexpr uint8_t DATA_MASK = 0xFF;

// Names each cause of a loss: a helper a whole journal behind, or a writer
// that died between claiming its entry and completing it.
static void ReportLost(PortState* s, const JournalLosses& lost)
{
    char text[PORTSTATE_TEXT];
    if (lost.overwritten > 0)
        snprintf(text, sizeof text, "%lld écriture(s) perdue(s) avant le port : le relais natif "
                 "avait trop de retard sur le journal.", static_cast<long long>(lost.overwritten));
    else
        snprintf(text, sizeof text, "%lld écriture(s) perdue(s) avant le port : le programme qui "
                 "l'écrivait s'est arrêté en pleine écriture.", static_cast<long long>(lost.torn));
    PortStateFault(s, PORT_FAULT_WRITES_LOST, text, PortNativeTicks());
}

// A device call, made again while a signal interrupts it.
static int Retried(int (*call)(void*, uint8_t), void* context, uint8_t value)
{
    int e = EINTR;
    for (int i = 0; i < BRIDGE_EINTR_TRIES && e == EINTR; ++i)
        e = call(context, value);
    return e;
}

static int WriteEntry(const BridgeDevice* dev, const JournalWrite& w)
{
    uint8_t v = static_cast<uint8_t>(w.value & DATA_MASK);
    if (w.port == PORT_DATA)
        return Retried(dev->writeData, dev->context, v);
    if (w.port == PORT_CONTROL && dev->writeControl)
        return Retried(dev->writeControl, dev->context, v);
    return 0;
}

// The target is set before the first write that wants it is journaled, so
// looking after copying entries tells whom they are for.
bool BridgeTargetIs(PortState* s, const char* path)
{
    for (int i = 0; i < PORTSTATE_TEXT; ++i) {
        char c = AtomicLoad(&s->target[i]);
        if (c != path[i])
            return false;
        if (c == '\0')
            return true;
    }
    return false;
}

int64_t BridgeApply(PortState* s, const BridgeDevice* dev, int* err)
{
    JournalWrite batch[BRIDGE_APPLY_BATCH];
    int64_t from = AtomicLoad(&s->applied);
    int64_t next = from;
    JournalLosses losses = { 0, 0 };
    size_t n = PortStateCopyJournalLosses(s, from, batch, BRIDGE_APPLY_BATCH, &next, &losses, PortNativeSleep);
    int64_t lost = losses.overwritten + losses.torn;
    if (n > 0 && !BridgeTargetIs(s, dev->path))
        return BRIDGE_RETARGETED;
    if (lost > 0)
        ReportLost(s, losses);
    for (size_t i = 0; i < n; ++i) {
        int e = WriteEntry(dev, batch[i]);
        if (e != 0) {
            AtomicStore(&s->applied, batch[i].seq);  // this one never reached the wire
            *err = e;
            return -1;
        }
        if (batch[i].port == PORT_DATA)
            AtomicAdd(&s->wireWrites, int64_t(1));
        AtomicStore(&s->applied, batch[i].seq + 1);
    }
    AtomicStore(&s->applied, next);
    // Copied plus dropped: `applied` may have been beyond `writes` (a state
    // made clean under the helper) and must not make this negative.
    return static_cast<int64_t>(n) + lost;
}

int BridgeReadStatus(PortState* s, const BridgeDevice* dev, int64_t now)
{
    uint8_t v = 0;
    int e = EINTR;
    for (int i = 0; i < BRIDGE_EINTR_TRIES && e == EINTR; ++i)
        e = dev->readStatus(dev->context, &v);
    if (e != 0)
        return e;
    AtomicStore(&s->status, static_cast<int32_t>(v));
    AtomicStore(&s->statusTicks, now);
    AtomicStore(&s->helperBeat, now);
    return 0;
}

// Processes are judged by pid and identity (PortProcessIs): a process that
// ended but that its parent has not reaped yet (a killed helper whose Wine
// parent has not waited for it) or a later process that got its pid counts
// as gone. A slot whose process has gone is freed, with the count of a
// write it left unfinished, so that readers stop waiting for it.
bool BridgeClientsAlive(PortState* s)
{
    bool alive = false;
    for (int i = 0; i < PORTSTATE_CLIENTS; ++i) {
        int32_t pid = AtomicLoad(&s->clients[i].unixPid);
        if (pid <= 0)
            continue;
        if (PortProcessIs(pid, AtomicLoad(&s->clientStart[i])))
            alive = true;
        else
            PortStateFreeClient(s, i);
    }
    return alive;
}

bool BridgeOtherHelper(PortState* s, int64_t now)
{
    int32_t pid = AtomicLoad(&s->helperPid);
    if (pid == 0 || pid == getpid())
        return false;
    // A helper still claiming the port may not beat until PPCLAIM returns.
    PortHelperJudge judge = { PORTSTATE_NATIVE_FREQUENCY, HELPER_LOST_MS + PPDEV_CLAIM_LIMIT_MS, true, true,
                              PortProcessIs };
    return PortHelperAlive(s, now, judge);
}

static bool SameText(PortState* s, const char* text)
{
    for (int i = 0; i < PORTSTATE_TEXT; ++i) {
        char c = AtomicLoad(&s->faultText[i]);
        if (c != text[i])
            return false;
        if (c == '\0')
            return true;
    }
    return true;
}

bool BridgeRecordFault(PortState* s, PortFaultCode code, const char* text)
{
    if (AtomicLoad(&s->fault) == uint32_t(code) && SameText(s, text))
        return false;
    fprintf(stderr, "travek-porthelper : %s\n", text);
    PortStateFault(s, code, text, PortNativeTicks());
    NotifyDesktop(code, text);
    return true;
}

bool BridgeProcessAlive(int32_t pid)
{
    return PortProcessIs(pid, 0);
}
