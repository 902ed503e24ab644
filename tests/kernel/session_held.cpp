// A port held by another process while the helper starts, in each way its
// user may meet it: freed late (the helper says it is busy after about 2 s,
// then resumes by itself), freed early, the program quitting meanwhile, the
// helper killed or stopped meanwhile. The kernel must stay sound through all
// of them: the init's last check reads dmesg and claims the port again.
#include <signal.h>
#include <string.h>
#include <unistd.h>

#include "session.h"

constexpr int FREED_LATE_MS = 1000;   // the holder lets go this long after the helper said busy
constexpr int FREED_EARLY_MS = 500;   // ... or this long after the helper started
constexpr int CLAIMABLE_MS = 2000;    // a fresh claim gets the port within this, once it is free
constexpr uint16_t WAITING_VALUE = 8;  // a click made while the port is held

static std::string StateWords(Live* l)
{
    return "state " + std::to_string(AtomicLoad(&l->s->helperState)) + ", fault " +
           std::to_string(AtomicLoad(&l->s->fault)) + " « " + l->s->faultText + " »";
}

// Starts the helper on a held port and waits until it says so.
static std::string SaidBusy(Live* l, const std::string& helper)
{
    int64_t start = PortNativeMs();
    LiveStartHelper(l, helper);
    if (!WaitFor(FaultSaid, l, SESSION_SAID_MAX_MS + SESSION_SETTLE_MS))
        return "never said the port was held";
    int64_t ms = PortNativeMs() - start;
    if (ms < SESSION_SAID_MIN_MS || ms > SESSION_SAID_MAX_MS)
        return "said after " + std::to_string(ms) + " ms";
    if (AtomicLoad(&l->s->fault) != PORT_FAULT_BUSY || !strstr(l->s->faultText, "occupé"))
        return "said something else: " + StateWords(l);
    uint32_t state = AtomicLoad(&l->s->helperState);
    if (state != HELPER_STARTING && state != HELPER_WAITING)
        return "not waiting for the port: " + StateWords(l);
    return "";
}

static std::string FreedLate(Live* l, Holder* h, const std::string& helper)
{
    std::string why = SaidBusy(l, helper);
    if (!why.empty())
        return why;
    Write(l, 0);
    Write(l, 0);
    Write(l, WAITING_VALUE);
    usleep(FREED_LATE_MS * 1000);
    HolderRelease(h);
    if (!WaitFor(Serving, l, SESSION_SETTLE_MS))  // the fault is the library's to clear
        return "did not resume once the port was free: " + StateWords(l);
    if (!WaitFor(AllApplied, l, SESSION_SETTLE_MS))
        return "the writes made while the port was held never reached it";
    LiveQuit(l);
    if (!LiveWaitHelper(l, SESSION_SETTLE_MS) || l->helperStatus != 0)
        return "did not end once the program had gone: code " + std::to_string(l->helperStatus);
    return "";
}

static std::string FreedEarly(Live* l, Holder* h, const std::string& helper)
{
    LiveStartHelper(l, helper);
    usleep(FREED_EARLY_MS * 1000);
    if (FaultSaid(l) || Serving(l))
        return "did not wait for the port: " + StateWords(l);
    HolderRelease(h);
    if (!WaitFor(Serving, l, SESSION_SETTLE_MS))
        return "did not take the port once free: " + StateWords(l);
    if (AtomicLoad(&l->s->faults) != 0)
        return "said a fault: " + StateWords(l);
    return "";
}

// The program quits, or the helper is killed or stopped, while it waits.
static std::string EndedWhileWaiting(Live* l, Holder* h, const std::string& helper, const std::string& how)
{
    std::string why = SaidBusy(l, helper);
    if (!why.empty())
        return why;
    if (how == "quit")
        LiveQuit(l);
    else
        kill(l->helper, how == "killed" ? SIGKILL : SIGTERM);
    bool ended = LiveWaitHelper(l, SESSION_SETTLE_MS);
    int want = how == "killed" ? 128 + SIGKILL : 0;
    if (!ended || l->helperStatus != want)
        return "helper code " + std::to_string(l->helperStatus) + ", expected " + std::to_string(want);
    if (how != "killed" && AtomicLoad(&l->s->helperState) != HELPER_EXITED)
        return "did not end as a helper whose program has gone: " + StateWords(l);
    HolderRelease(h);
    int err = ClaimOnce(l->s->target, CLAIMABLE_MS);
    return err == 0 ? "" : "the port cannot be claimed afterwards: " + std::string(strerror(err));
}

int RunHeld(const std::string& which, const std::string& name, const std::string& helper,
            const std::string& device)
{
    Holder h = { -1, -1 };
    Live l;
    std::string why;
    if (!HolderStart(&h, device))
        why = "the holder could not claim the port";
    else if (!LiveOpen(&l, device, &why))
        why = "no session: " + why;
    else if (which == "late")
        why = FreedLate(&l, &h, helper);
    else if (which == "early")
        why = FreedEarly(&l, &h, helper);
    else
        why = EndedWhileWaiting(&l, &h, helper, which);
    HolderRelease(&h);
    LiveClose(&l);
    return Report(name, why.empty(), why) ? 0 : 1;
}
