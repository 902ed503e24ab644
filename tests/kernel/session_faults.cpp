// Each fault of the real driver as the user meets it, in the helper's check
// mode (travek-porthelper --check) and in a live session: no device, access
// refused and granted by the lp group, a held port (check mode here; the
// live session in session_held.cpp), a node with no port, the driver removed
// and back.
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <stdlib.h>
#include <signal.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include "rules.h"
#include "session.h"

constexpr int CHECK_LIMIT_MS = 6000;  // the check mode answers within about 2 s
constexpr int REMOVED_SAID_MS = 2000; // a removed driver is said within this
constexpr uint16_t PROBE_VALUE = 0x42;

// Runs the conformance suite's hook (rules.h) with a verb; true if it did it.
static bool RunHook(const std::string& hook, const char* verb)
{
    return system(("'" + hook + "' " + verb).c_str()) == 0;
}

struct CheckRun {
    int code;
    std::string text;
    int64_t ms;
};

// travek-porthelper --check DEVICE: its code, its words and how long it took.
static CheckRun RunCheck(const std::string& helper, const std::string& device)
{
    CheckRun r = { -1, "", 0 };
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0)
        return r;
    int64_t start = PortNativeMs();
    pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], STDOUT_FILENO);
        dup2(out[1], STDERR_FILENO);
        execl(helper.c_str(), helper.c_str(), "--check", device.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(out[1]);
    char buf[512];
    ssize_t n;
    pollfd p = { out[0], POLLIN, 0 };
    while (poll(&p, 1, CHECK_LIMIT_MS) == 1 && (n = read(out[0], buf, sizeof buf)) > 0)
        r.text.append(buf, n);
    close(out[0]);
    kill(pid, SIGKILL);  // nothing if it ended
    int status = 0;
    waitpid(pid, &status, 0);
    r.ms = PortNativeMs() - start;
    r.code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return r;
}

static bool Says(const CheckRun& r, int code, const char* words, std::string* why)
{
    *why = "code " + std::to_string(r.code) + " after " + std::to_string(r.ms) + " ms: " + r.text;
    return r.code == code && strstr(r.text.c_str(), words) && r.ms < CHECK_LIMIT_MS;
}

static bool FaultIs(Live* l, PortFaultCode code)
{
    return AtomicLoad(&l->s->fault) == uint32_t(code);
}

// A live session on the device that should say `code` with `words` (the
// helper then waits to try again, or ends for a fault that no new try can
// change); the program then quits.
static bool SessionFails(const std::string& helper, const std::string& device, PortFaultCode code,
                         const char* words, std::string* why)
{
    Live l;
    if (!LiveOpen(&l, device, why))
        return false;
    LiveStartHelper(&l, helper);
    int64_t end = PortNativeMs() + SESSION_SETTLE_MS;
    while (!FaultIs(&l, code) && PortNativeMs() < end)
        usleep(1000);
    *why = "fault " + std::to_string(AtomicLoad(&l.s->fault)) + " « " + l.s->faultText + " », helper state " +
           std::to_string(AtomicLoad(&l.s->helperState));
    bool ok = FaultIs(&l, code) && strstr(l.s->faultText, words);
    LiveQuit(&l);
    ok = LiveWaitHelper(&l, SESSION_SETTLE_MS) && ok;
    LiveClose(&l);
    return ok;
}

static bool SessionServes(const std::string& helper, const std::string& device, std::string* why)
{
    Live l;
    if (!LiveOpen(&l, device, why))
        return false;
    LiveStartHelper(&l, helper);
    bool ok = WaitFor(Serving, &l, SESSION_SETTLE_MS);
    *why = l.s->faultText;
    LiveClose(&l);
    return ok;
}

// Both roads refuse the device with the same fault.
static int BothSay(const std::string& name, const std::string& helper, const std::string& device,
                   PortFaultCode code, const char* words)
{
    std::string why;
    bool ok = Report(name + "_check", Says(RunCheck(helper, device), 1, words, &why), why);
    ok = Report(name + "_session", SessionFails(helper, device, code, words, &why), why) && ok;
    return ok ? 0 : 1;
}

// As a user outside the lp group, then with lp among its groups.
static int AsUsers(const std::string& name, const std::string& helper, const std::string& device)
{
    for (bool inLp : { false, true }) {
        pid_t child = fork();
        if (child == 0) {
            gid_t lp = RULES_LP_GID;
            if (setgroups(inLp ? 1 : 0, &lp) != 0 || setresgid(RULES_NOBODY, RULES_NOBODY, RULES_NOBODY) != 0 ||
                setresuid(RULES_NOBODY, RULES_NOBODY, RULES_NOBODY) != 0)
                _exit(Report(name, false, "cannot become another user") ? 0 : 1);
            if (!inLp)
                _exit(BothSay(name + "_outside_lp", helper, device, PORT_FAULT_PERMISSION, "groupe lp"));
            std::string why;
            bool ok = Report(name + "_in_lp_check", Says(RunCheck(helper, device), 0, "OK", &why), why);
            ok = Report(name + "_in_lp_session", SessionServes(helper, device, &why), why) && ok;
            _exit(ok ? 0 : 1);
        }
        waitpid(child, nullptr, 0);
    }
    return 0;
}

static int HeldCheck(const std::string& name, const std::string& helper, const std::string& device)
{
    Holder h = { -1, -1 };
    std::string why = "the holder could not claim the port";
    bool ok = HolderStart(&h, device);
    CheckRun r = RunCheck(helper, device);
    ok = ok && Says(r, 1, "occupé", &why) && r.ms >= SESSION_SAID_MIN_MS && r.ms <= SESSION_SAID_MAX_MS;
    HolderRelease(&h);
    return Report(name + "_check", ok, why) ? 0 : 1;
}

static bool Lost(Live* l)
{
    return FaultIs(l, PORT_FAULT_DEVICE_LOST);
}

// Serving again, every write applied (the library, not the helper, clears
// the fault once it sees the helper serve).
static bool Resumed(Live* l)
{
    return Serving(l) && AllApplied(l);
}

// The driver removes the port while a session runs: the helper says so, the
// check mode finds no port, and once the driver takes the port again the
// same helper resumes by itself.
static int Removed(const std::string& name, const std::string& helper, const std::string& device,
                   const std::string& hook)
{
    Live l;
    std::string why;
    bool ok = LiveOpen(&l, device, &why);
    if (ok) {
        LiveStartHelper(&l, helper);
        ok = WaitFor(Serving, &l, SESSION_SETTLE_MS);
        why = "never served: " + std::string(l.s->faultText);
    }
    bool removed = ok && RunHook(hook, "remove");
    if (removed) {
        Write(&l, PROBE_VALUE);
        ok = WaitFor(Lost, &l, REMOVED_SAID_MS) && strstr(l.s->faultText, "disparu");
        why = "fault " + std::to_string(AtomicLoad(&l.s->fault)) + " « " + l.s->faultText + " »";
    } else if (ok) {
        ok = false;
        why = "the hook could not remove the port";
    }
    ok = Report(name + "_session", ok, why);
    ok = Report(name + "_check", Says(RunCheck(helper, device), 1, "introuvable", &why), why) && ok;
    if (removed && RunHook(hook, "restore")) {
        Write(&l, PROBE_VALUE);
        ok = Report(name + "_and_back", WaitFor(Resumed, &l, SESSION_SETTLE_MS),
                    "state " + std::to_string(AtomicLoad(&l.s->helperState)) + ", the helper said: " +
                        LiveHelperSaid(&l)) && ok;
    }
    LiveClose(&l);
    return ok ? 0 : 1;
}

int RunFault(const std::string& which, const std::string& name, const std::string& helper,
             const std::string& device, const std::string& hook)
{
    if (which == "nodevice")
        return BothSay(name, helper, device, PORT_FAULT_NO_DEVICE, "introuvable");
    if (which == "noport")
        return BothSay(name, helper, device, PORT_FAULT_NO_DEVICE, "ENXIO");
    if (which == "denied")
        return AsUsers(name, helper, device);
    if (which == "held")
        return HeldCheck(name, helper, device);
    if (which == "removed")
        return Removed(name, helper, device, hook);
    Fail(name, "no such fault case: " + which);
    return 1;
}
