// See session_native.h.
#include "session_native.h"
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/file.h>
#include <unistd.h>
#include "bridge.h"
#include "portnative.h"

static void Lock(NativeSession* ns)
{
    while (flock(ns->lockFd, LOCK_EX) != 0 && errno == EINTR) {
    }
}

static void Unlock(NativeSession* ns)
{
    flock(ns->lockFd, LOCK_UN);
}

// Frees the slots of processes that have ended (under the lock, as slots are
// taken); true if a live one other than this process holds a slot.
static bool SweepClients(PortState* s)
{
    bool live = false;
    for (int i = 0; i < PORTSTATE_CLIENTS; ++i) {
        int32_t pid = AtomicLoad(&s->clients[i].unixPid);
        if (pid <= 0 || pid == getpid())
            continue;
        if (PortProcessIs(pid, AtomicLoad(&s->clientStart[i])))  // a reused pid or a zombie has gone
            live = true;
        else
            PortStateFreeClient(s, i);
    }
    return live;
}

bool JoinSession(NativeSession* ns, const char* path, char* err, size_t errSize)
{
    *ns = NativeSession{ nullptr, -1, -1 };
    PortState* s = PortStateMapNative(path, true, err, errSize);
    if (!s)
        return false;
    ns->lockFd = open(path, O_RDWR | O_CLOEXEC | O_NOFOLLOW);
    if (ns->lockFd < 0) {
        snprintf(err, errSize, "%s : %s", path, strerror(errno));
        PortStateUnmapNative(s);
        return false;
    }
    ns->state = s;
    Lock(ns);
    // A session whose every user has gone starts clean, as for the library.
    bool helper = PortHelperServes(s, PortNativeTicks());
    bool live = SweepClients(s) || helper || BridgeOtherHelper(s, PortNativeTicks());
    if (!live)
        PortStateInit(s, PORTSTATE_NATIVE_FREQUENCY, 0);
    else
        PortStateRepair(s, PORTSTATE_NATIVE_FREQUENCY, helper);
    ns->slot = PortStateTakeClient(s, static_cast<int32_t>(getpid()), 0, PortNativeTicks(),
                                   PortProcessIdentity(getpid()));
    Unlock(ns);
    return true;
}

void LeaveSession(NativeSession* ns)
{
    if (!ns->state)
        return;
    PortStateFreeClient(ns->state, ns->slot);
    PortStateUnmapNative(ns->state);
    close(ns->lockFd);
    *ns = NativeSession{ nullptr, -1, -1 };
}

void SessionValidate(NativeSession* ns)
{
    if (PortStateValid(ns->state))
        return;
    Lock(ns);
    PortStateRepair(ns->state, PORTSTATE_NATIVE_FREQUENCY, PortHelperServes(ns->state, PortNativeTicks()));
    Unlock(ns);
}

bool SessionShared(NativeSession* ns)
{
    Lock(ns);
    bool live = SweepClients(ns->state);
    Unlock(ns);
    return live || BridgeOtherHelper(ns->state, PortNativeTicks());
}

void SessionRestart(NativeSession* ns)
{
    Lock(ns);
    PortStateInit(ns->state, PORTSTATE_NATIVE_FREQUENCY, 0);
    Unlock(ns);
}
