// travek-porthelper: the native helper that owns a ppdev device for the port
// driver library running under Wine.
//   travek-porthelper STATEFILE              bridge the state file's journal to its target
//   travek-porthelper --check NAME           open and claim the port NAME (the library's
//                                            grammar: /dev/parport0, parport0), print OK or why not
//   travek-porthelper --notify CODE TEXT     show a fault as a desktop notification
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/prctl.h>
#include <unistd.h>
#include "bridge.h"
#include "bridge_recover.h"
#include "helpercheck.h"
#include "notify.h"
#include "portconfig.h"
#include "portnative.h"
#include "ppdev.h"

constexpr unsigned long TIMER_SLACK_NS = 1;  // short waits must end on time

static int Usage()
{
    fprintf(stderr, "usage : travek-porthelper FICHIER_D_ETAT\n"
                    "        travek-porthelper --check PORT   (/dev/parport0 ou parport0)\n"
                    "        travek-porthelper --notify CODE TEXTE\n");
    return BRIDGE_EXIT_REFUSED;
}

static int Check(const char* name)
{
    PortName port;
    char message[PORTSTATE_TEXT];
    if (!ParsePortName(name, "--port", &port, message, sizeof message)) {
        fprintf(stderr, "%s\n", message);
        return BRIDGE_EXIT_REFUSED;
    }
    if (port.backend != PORT_BACKEND_PPDEV) {
        fprintf(stderr, "--port : « %s » n'est pas un périphérique ppdev : donnez /dev/parportN ou parportN\n",
                name);
        return BRIDGE_EXIT_REFUSED;
    }
    PpdevFault f;
    int fd = PpdevOpen(port.target, &f, nullptr, nullptr);
    uint8_t status = 0;
    int err = fd >= 0 ? PpdevReadStatus(fd, &status) : 0;
    if (fd >= 0 && err != 0)
        PpdevClassify(port.target, PPDEV_STEP_CLAIM, err, &f);
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

constexpr int64_t TICKS_PER_MS = PORTSTATE_NATIVE_FREQUENCY / 1000;

struct Device {
    int fd;
    char target[PORTSTATE_TEXT];
    int64_t nextPresence;  // ticks of the next look at the device's node
};

// The driver's removal leaves the open file answering every ioctl with
// nothing behind it: before touching the device, look now and then that its
// node is still there.
static int CheckPresence(Device* d)
{
    int64_t now = PortNativeTicks();
    if (now < d->nextPresence)
        return 0;
    d->nextPresence = now + PPDEV_PRESENCE_MS * TICKS_PER_MS;
    return PpdevStillThere(d->fd, d->target);
}

static int WriteData(void* context, uint8_t value)
{
    Device* d = static_cast<Device*>(context);
    int err = CheckPresence(d);
    return err != 0 ? err : PpdevWriteData(d->fd, value);
}

static int WriteControl(void* context, uint8_t value)
{
    Device* d = static_cast<Device*>(context);
    int err = CheckPresence(d);
    return err != 0 ? err : PpdevWriteControl(d->fd, value);
}

static int ReadStatus(void* context, uint8_t* value)
{
    Device* d = static_cast<Device*>(context);
    int err = CheckPresence(d);
    return err != 0 ? err : PpdevReadStatus(d->fd, value);
}

// Keeps the beat fresh while the claim waits, so that no second helper
// starts; a stop asked for ends the wait.
static bool ClaimBeat(void* state)
{
    AtomicStore(&static_cast<PortState*>(state)->helperBeat, PortNativeTicks());
    return !BridgeStopRequested();
}

// Claims the device; a port another program still holds after
// PPDEV_CLAIM_LIMIT_MS is said as a wait, since the session tries again.
static bool OpenDevice(void* context, PortState* s, PpdevFault* fault)
{
    Device* d = static_cast<Device*>(context);
    PpdevClaim c = PpdevClaimPort(d->target, PPDEV_CLAIM_LIMIT_MS, ClaimBeat, s);
    d->fd = c.fd;
    d->nextPresence = 0;
    if (c.result == PPDEV_CLAIMED)
        return true;
    PpdevClassify(d->target, c.result == PPDEV_STILL_HELD ? PPDEV_STEP_WAIT : c.step, c.err, fault);
    return false;
}

static void CloseDevice(void* context)
{
    Device* d = static_cast<Device*>(context);
    PpdevClose(d->fd);
    d->fd = -1;
}

// Takes the state for this process and serves its device, trying it again
// after faults, until no client is left.
static int Serve(PortState* s)
{
    Device d = { -1, "", 0 };
    int rc = HelperTakeState(s, d.target, sizeof d.target);
    if (rc != BRIDGE_EXIT_DONE)
        return rc;
    BridgeOpener o = { &d, OpenDevice, CloseDevice, { &d, WriteData, ReadStatus, d.target, WriteControl } };
    BridgeTiming timing = BridgeDefaultTiming();
    BridgeRecovery recovery = BridgeDefaultRecovery();
    rc = BridgeServe(s, &o, &timing, &recovery);
    HelperLeaveState(s);
    return rc;
}

int main(int argc, char** argv)
{
    if (argc == 3 && strcmp(argv[1], "--check") == 0)
        return Check(argv[2]);
    if (argc == 4 && strcmp(argv[1], "--notify") == 0) {
        NotifyDesktop(static_cast<PortFaultCode>(strtoul(argv[2], nullptr, 10)), argv[3]);
        return BRIDGE_EXIT_DONE;
    }
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
