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

static int WriteData(void* context, uint8_t value)
{
    return PpdevWriteData(*static_cast<int*>(context), value);
}

static int ReadStatus(void* context, uint8_t* value)
{
    return PpdevReadStatus(*static_cast<int*>(context), value);
}

// Keeps the beat fresh while the claim waits, so that no second helper starts.
static void ClaimBeat(void* state)
{
    AtomicStore(&static_cast<PortState*>(state)->helperBeat, PortNativeTicks());
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
    PpdevFault f;
    int fd = PpdevOpen(target, &f, ClaimBeat, s);
    if (fd < 0) {
        fprintf(stderr, "travek-porthelper : %s\n", f.text);
        PortStateFault(s, f.code, f.text, PortNativeTicks());
        AtomicStore(&s->helperState, uint32_t(HELPER_FAILED));
        return BRIDGE_EXIT_FAILED;
    }
    BridgeDevice dev = { &fd, WriteData, ReadStatus, target };
    BridgeTiming timing = BridgeDefaultTiming();
    int rc = BridgeRun(s, &dev, &timing);
    PpdevClose(fd);
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
