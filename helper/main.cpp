// travek-porthelper: the native helper that owns a ppdev device for the port
// driver library running under Wine.
//   travek-porthelper STATEFILE     bridge the state file's journal to its target
//   travek-porthelper --check DEV   open and claim DEV, print OK or why not
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/prctl.h>
#include <unistd.h>
#include "bridge.h"
#include "portnative.h"
#include "ppdev.h"

constexpr unsigned long TIMER_SLACK_NS = 1;  // short waits must end on time
constexpr int64_t TICKS_PER_MS = PORTSTATE_NATIVE_FREQUENCY / 1000;

// Set by the stop signals: a wait for a held port ends at its next beat.
static volatile sig_atomic_t StopSignalled = 0;

static int Usage()
{
    fprintf(stderr, "usage : travek-porthelper FICHIER_D_ETAT\n"
                    "        travek-porthelper --check PERIPHERIQUE\n");
    return BRIDGE_EXIT_REFUSED;
}

static int Check(const char* path)
{
    PpdevFault f;
    int fd = PpdevOpen(path, &f, nullptr, nullptr);
    uint8_t status = 0;
    int err = fd >= 0 ? PpdevReadStatus(fd, &status) : 0;
    if (fd >= 0 && err != 0)
        PpdevClassify(path, PPDEV_STEP_CLAIM, err, &f);
    PpdevClose(fd);
    if (fd < 0 || err != 0) {
        fprintf(stderr, "%s\n", f.text);
        return BRIDGE_EXIT_FAILED;
    }
    printf("OK\n");
    return BRIDGE_EXIT_DONE;
}

static void OnStopSignal(int)
{
    StopSignalled = 1;
    BridgeRequestStop();
}

// A parent may have blocked signals (Wine does in some threads): the claim's
// time limit and the stop signals must get through.
static void InstallSignals()
{
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_handler = OnStopSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);
}

// The claimed device as the bridge sees it.
struct HelperDevice {
    int fd;
    const char* path;
    int64_t nextPresence;  // ticks of the next look at the device's node
};

// The driver's removal leaves the open file answering every ioctl with
// nothing behind it: before touching the device, look now and then that its
// node is still there.
static int CheckPresence(HelperDevice* d)
{
    int64_t now = PortNativeTicks();
    if (now < d->nextPresence)
        return 0;
    d->nextPresence = now + PPDEV_PRESENCE_MS * TICKS_PER_MS;
    return PpdevStillThere(d->fd, d->path);
}

static int WriteData(void* context, uint8_t value)
{
    HelperDevice* d = static_cast<HelperDevice*>(context);
    int err = CheckPresence(d);
    return err != 0 ? err : PpdevWriteData(d->fd, value);
}

static int ReadStatus(void* context, uint8_t* value)
{
    HelperDevice* d = static_cast<HelperDevice*>(context);
    int err = CheckPresence(d);
    return err != 0 ? err : PpdevReadStatus(d->fd, value);
}

// What the wait for a held port looks at between its tries.
struct ClaimWait {
    PortState* s;
    BridgeTiming timing;
    int64_t lastClientSeen;
    int64_t nextClientCheck;
    bool ended;  // no program uses the port any more, or a stop was asked
};

// Beats while the claim waits, so that no second helper starts; ends the
// wait once no program has used the port for a while or a stop was asked.
static bool ClaimBeat(void* context)
{
    ClaimWait* w = static_cast<ClaimWait*>(context);
    int64_t now = PortNativeTicks();
    AtomicStore(&w->s->helperBeat, now);
    if (now >= w->nextClientCheck) {
        if (BridgeClientsAlive(w->s))
            w->lastClientSeen = now;
        w->nextClientCheck = now + w->timing.clientCheck;
    }
    w->ended = StopSignalled || now - w->lastClientSeen >= w->timing.idleExit;
    return !w->ended;
}

static void SayFault(PortState* s, const PpdevFault& f)
{
    fprintf(stderr, "travek-porthelper : %s\n", f.text);
    PortStateFault(s, f.code, f.text, PortNativeTicks());
}

// Claims the device for the session. A port held by another program is said
// busy after PPDEV_CLAIM_LIMIT_MS; the helper keeps trying and takes the port
// as soon as it is free, clearing that fault, unless the program has gone
// meanwhile. Returns the descriptor, or -1 with *rc: BRIDGE_EXIT_FAILED (the
// fault written into the state) or BRIDGE_EXIT_DONE (the program has gone).
static int ClaimForSession(PortState* s, const char* target, int* rc)
{
    int64_t now = PortNativeTicks();
    ClaimWait w = { s, BridgeDefaultTiming(), now, now, false };
    PpdevClaim c = PpdevClaimPort(target, PPDEV_CLAIM_LIMIT_MS, ClaimBeat, &w);
    PpdevFault f;
    if (c.result == PPDEV_STILL_HELD && !w.ended) {
        PpdevClassify(target, PPDEV_STEP_WAIT, 0, &f);
        SayFault(s, f);
        uint32_t said = AtomicLoad(&s->faults);
        while (c.result == PPDEV_STILL_HELD && ClaimBeat(&w))
            c = PpdevClaimPort(target, PPDEV_CLAIM_LIMIT_MS, ClaimBeat, &w);
        if (c.result == PPDEV_CLAIMED && AtomicLoad(&s->faults) == said)
            PortStateFault(s, PORT_FAULT_NONE, "", PortNativeTicks());
    }
    if (c.result == PPDEV_CLAIMED)
        return c.fd;
    if (c.result == PPDEV_STILL_HELD) {
        *rc = BRIDGE_EXIT_DONE;
        return -1;
    }
    PpdevClassify(target, c.step, c.err, &f);
    SayFault(s, f);
    *rc = BRIDGE_EXIT_FAILED;
    return -1;
}

// Takes the state for this process, claims the device and runs the loop.
static int Serve(PortState* s)
{
    char target[PORTSTATE_TEXT];
    for (int i = 0; i < PORTSTATE_TEXT; ++i)
        target[i] = AtomicLoad(&s->target[i]);
    target[PORTSTATE_TEXT - 1] = '\0';
    int64_t now = PortNativeTicks();
    if (AtomicLoad(&s->backend) != PORT_BACKEND_PPDEV || target[0] != '/') {
        fprintf(stderr, "travek-porthelper : l'état ne demande pas de périphérique ppdev (%s)\n", target);
        return BRIDGE_EXIT_REFUSED;
    }
    int32_t previous = AtomicLoad(&s->helperPid);
    // Two helpers started at once: the compare-exchange lets one through.
    if (BridgeOtherHelper(s, now) || !AtomicCas(&s->helperPid, previous, static_cast<int32_t>(getpid()))) {
        fprintf(stderr, "travek-porthelper : un autre relais (pid %d) tient déjà ce port\n",
                static_cast<int>(AtomicLoad(&s->helperPid)));
        return BRIDGE_EXIT_REFUSED;
    }
    AtomicStore(&s->helperBeat, now);
    AtomicStore(&s->helperState, uint32_t(HELPER_STARTING));
    int rc = BRIDGE_EXIT_DONE;
    HelperDevice device = { ClaimForSession(s, target, &rc), target, 0 };
    if (device.fd < 0) {
        AtomicStore(&s->helperState, uint32_t(rc == BRIDGE_EXIT_DONE ? HELPER_EXITED : HELPER_FAILED));
        if (rc == BRIDGE_EXIT_DONE)
            AtomicCas(&s->helperPid, static_cast<int32_t>(getpid()), int32_t(0));
        return rc;
    }
    BridgeDevice dev = { &device, WriteData, ReadStatus, target };
    BridgeTiming timing = BridgeDefaultTiming();
    rc = BridgeRun(s, &dev, &timing);
    PpdevClose(device.fd);
    if (rc != BRIDGE_EXIT_DONE)
        fprintf(stderr, "travek-porthelper : %s\n", s->faultText);
    AtomicCas(&s->helperPid, static_cast<int32_t>(getpid()), int32_t(0));
    return rc;
}

int main(int argc, char** argv)
{
    if (argc == 3 && strcmp(argv[1], "--check") == 0)
        return Check(argv[2]);
    if (argc != 2 || argv[1][0] == '-')
        return Usage();
    prctl(PR_SET_TIMERSLACK, TIMER_SLACK_NS);
    InstallSignals();
    char err[PORTSTATE_ERROR_MAX];
    PortState* s = PortStateMapNative(argv[1], false, err, sizeof err);
    if (!s) {
        fprintf(stderr, "travek-porthelper : %s\n", err);
        return BRIDGE_EXIT_REFUSED;
    }
    int rc = Serve(s);
    PortStateUnmapNative(s);
    return rc;
}
