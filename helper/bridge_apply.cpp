// Moving journal entries to the device, the status read, client liveness.
#include "bridge.h"
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>
#include "portnative.h"
#include "ppdev.h"

constexpr uint8_t DATA_MASK = 0xFF;
constexpr int64_t TICKS_PER_MS = PORTSTATE_NATIVE_FREQUENCY / 1000;

static void ReportLost(PortState* s, int64_t lost)
{
    char text[PORTSTATE_TEXT];
    snprintf(text, sizeof text, "%lld écriture(s) perdue(s) avant le port : le relais natif "
             "avait trop de retard sur le journal.", static_cast<long long>(lost));
    PortStateFault(s, PORT_FAULT_HELPER_LOST, text, PortNativeTicks());
}

// The target is set before the first write that wants it is journaled, so
// looking after copying entries tells whom they are for.
static bool TargetIsStill(PortState* s, const char* path)
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
    int64_t next = from, lost = 0;
    size_t n = PortStateCopyJournal(s, from, batch, BRIDGE_APPLY_BATCH, &next, &lost, PortNativeSleep);
    if (n > 0 && !TargetIsStill(s, dev->path))
        return BRIDGE_RETARGETED;
    if (lost > 0)
        ReportLost(s, lost);
    for (size_t i = 0; i < n; ++i) {
        if (batch[i].port == PORT_DATA) {
            int e = dev->writeData(dev->context, static_cast<uint8_t>(batch[i].value & DATA_MASK));
            if (e != 0) {
                AtomicStore(&s->applied, batch[i].seq);  // this one never reached the wire
                *err = e;
                return -1;
            }
            AtomicAdd(&s->wireWrites, int64_t(1));
        }
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
    int e = dev->readStatus(dev->context, &v);
    if (e != 0)
        return e;
    AtomicStore(&s->status, static_cast<int32_t>(v));
    AtomicStore(&s->statusTicks, now);
    AtomicStore(&s->helperBeat, now);
    return 0;
}

// A process that ended but that its parent has not reaped yet (a killed
// helper whose Wine parent has not waited for it) reads "Z" in /proc.
static bool IsZombie(int32_t pid)
{
    char path[32], text[256];
    snprintf(path, sizeof path, "/proc/%d/stat", static_cast<int>(pid));
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    ssize_t n = read(fd, text, sizeof text - 1);
    close(fd);
    if (n <= 0)
        return false;
    text[n] = '\0';
    const char* end = strrchr(text, ')');  // the name may hold spaces and parentheses
    return end && end[1] == ' ' && end[2] == 'Z';
}

static bool ProcessAlive(int32_t pid)
{
    return pid > 0 && (kill(pid, 0) == 0 || errno == EPERM) && !IsZombie(pid);
}

bool BridgeClientsAlive(PortState* s)
{
    for (int i = 0; i < PORTSTATE_CLIENTS; ++i)
        if (ProcessAlive(AtomicLoad(&s->clients[i].unixPid)))
            return true;
    return false;
}

bool BridgeOtherHelper(PortState* s, int64_t now)
{
    int32_t pid = AtomicLoad(&s->helperPid);
    if (pid == 0 || pid == getpid() || !ProcessAlive(pid))
        return false;
    uint32_t state = AtomicLoad(&s->helperState);
    if (state == HELPER_FAILED || state == HELPER_EXITED)
        return false;
    // A helper still claiming the port cannot beat until PPCLAIM returns.
    int64_t limitMs = HELPER_LOST_MS + (state == HELPER_STARTING ? PPDEV_CLAIM_LIMIT_MS : 0);
    return now - AtomicLoad(&s->helperBeat) < limitMs * TICKS_PER_MS;
}

bool BridgeProcessAlive(int32_t pid)
{
    return ProcessAlive(pid);
}
