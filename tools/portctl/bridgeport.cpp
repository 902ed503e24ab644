// See bridgeport.h.
#include "bridgeport.h"
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>
#include "bridge.h"

constexpr int64_t TICKS_PER_MS = PORTSTATE_NATIVE_FREQUENCY / 1000;
constexpr int64_t TICKS_PER_US = PORTSTATE_NATIVE_FREQUENCY / 1000000;
constexpr int POLL_US = 50;            // between looks at the state while waiting on the helper
constexpr int HELPER_OUTPUT_MAX = 1024;

static int64_t Deadline(int ms)
{
    return PortNativeTicks() + ms * TICKS_PER_MS;
}

static void Pause()
{
    usleep(POLL_US);
}

// The self-test's state file: SELFTEST_STATE_FILE in the session's folder.
static bool SelftestStatePath(char* out, size_t size, std::string* error)
{
    char err[PORTSTATE_ERROR_MAX];
    if (!PortStatePath(out, size, err, sizeof err)) {
        *error = err;
        return false;
    }
    char* slash = strrchr(out, '/');
    if (!slash || static_cast<size_t>(slash + 1 - out) + sizeof SELFTEST_STATE_FILE > size) {
        PortStatePathTooLong(err, sizeof err);
        *error = err;
        return false;
    }
    memcpy(slash + 1, SELFTEST_STATE_FILE, sizeof SELFTEST_STATE_FILE);
    return true;
}

// What the helper said on its standard error so far.
static std::string HelperOutput(BridgePort* p)
{
    char text[HELPER_OUTPUT_MAX];
    ssize_t n = p->helperOutput >= 0 ? read(p->helperOutput, text, sizeof text - 1) : -1;
    if (n <= 0)
        return "";
    text[n] = '\0';
    std::string s = text;
    while (!s.empty() && s.back() == '\n')
        s.pop_back();
    return " : " + s;
}

// Why the helper cannot serve any more, or "" while it does.
static std::string HelperTrouble(BridgePort* p)
{
    PortState* s = p->session.state;
    uint32_t state = AtomicLoad(&s->helperState);
    // A helper that waits on a failed device tries it again; for a test, that is a port it cannot open.
    if (state == HELPER_FAILED || state == HELPER_REFUSED || (state == HELPER_WAITING && AtomicLoad(&s->fault))) {
        char text[PORTSTATE_TEXT];
        for (int i = 0; i < PORTSTATE_TEXT; ++i)
            text[i] = AtomicLoad(&s->faultText[i]);
        text[PORTSTATE_TEXT - 1] = '\0';
        return text[0] ? text : "le programme d'aide a échoué sans message";
    }
    int status = 0;
    if (p->helper > 0 && waitpid(p->helper, &status, WNOHANG) == p->helper) {
        p->helper = -1;
        int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return std::string("le programme d'aide ") + PORTHELPER_NAME + " s'est arrêté (code " +
               std::to_string(code) + ")" + HelperOutput(p);
    }
    return "";
}

// Waits until a helper left over on this file (a test that was killed) has gone.
static bool WaitForFreeFile(BridgePort* p, const char* path, std::string* error)
{
    int64_t deadline = Deadline(BRIDGE_STOP_MS);
    while (SessionShared(&p->session)) {
        if (!BridgeOtherHelper(p->session.state, PortNativeTicks())) {
            *error = std::string("un autre autotest utilise déjà ") + path;
            return false;
        }
        if (PortNativeTicks() > deadline) {
            *error = std::string("un programme d'aide tient encore ") + path + " : réessayez dans un instant";
            return false;
        }
        PortNativeSleep(10);
    }
    SessionRestart(&p->session);
    return true;
}

// Asks for the device as the library does when it selects a ppdev port.
static void Publish(PortState* s, const char* device)
{
    PortStateSetTarget(s, device);
    AtomicStore(&s->applied, PortStateWriteCount(s));
    AtomicStore(&s->status, PORT_STATUS_IDLE);
    PortStateFault(s, PORT_FAULT_NONE, "", PortNativeTicks());
    AtomicStore(&s->backend, uint32_t(PORT_BACKEND_PPDEV));
    AtomicStore(&s->helperBeat, PortNativeTicks());
    AtomicStore(&s->helperState, uint32_t(HELPER_STARTING));
}

static bool StartHelper(BridgePort* p, const char* helperPath, const char* statePath, std::string* error)
{
    int pipeFds[2];
    if (access(helperPath, X_OK) != 0 || pipe2(pipeFds, O_CLOEXEC) != 0) {
        *error = std::string("programme d'aide ") + helperPath + " introuvable ou inutilisable (" +
                 strerror(errno) + ") : reconstruisez avec scripts/build.sh";
        return false;
    }
    pid_t pid = fork();
    if (pid == 0) {
        int null = open("/dev/null", O_RDWR);
        dup2(null, STDIN_FILENO);
        dup2(null, STDOUT_FILENO);
        dup2(pipeFds[1], STDERR_FILENO);
        execl(helperPath, PORTHELPER_NAME, statePath, static_cast<char*>(nullptr));
        _exit(127);
    }
    close(pipeFds[1]);
    if (pid < 0) {
        close(pipeFds[0]);
        *error = std::string("le programme d'aide n'a pas pu démarrer : ") + strerror(errno);
        return false;
    }
    fcntl(pipeFds[0], F_SETFL, O_NONBLOCK);
    p->helper = pid;
    p->helperOutput = pipeFds[0];
    return true;
}

// Waits until the helper holds the port, or says why it does not.
static bool WaitUntilServing(BridgePort* p, std::string* error)
{
    PortState* s = p->session.state;
    int64_t deadline = Deadline(BRIDGE_READY_MS);
    for (;;) {
        uint32_t state = AtomicLoad(&s->helperState);
        if (PortHelperHoldsPort(state) && AtomicLoad(&s->helperPid) == p->helper)
            return true;
        *error = HelperTrouble(p);
        if (!error->empty())
            return false;
        if (PortNativeTicks() > deadline) {
            *error = std::string("le programme d'aide ") + PORTHELPER_NAME + " n'a pas pris le port en " +
                     std::to_string(BRIDGE_READY_MS / 1000) + " s";
            return false;
        }
        Pause();
    }
}

bool OpenBridgePort(BridgePort* p, const char* device, const char* helperPath, std::string* error)
{
    *p = BridgePort{ { nullptr, -1, -1 }, -1, -1, -1 };
    char path[PORTSTATE_PATH_MAX], err[PORTSTATE_ERROR_MAX];
    if (!SelftestStatePath(path, sizeof path, error))
        return false;
    if (!JoinSession(&p->session, path, err, sizeof err)) {
        *error = std::string("état du port inaccessible : ") + err;
        return false;
    }
    bool ok = WaitForFreeFile(p, path, error);
    if (ok) {
        Publish(p->session.state, device);
        ok = StartHelper(p, helperPath, path, error) && WaitUntilServing(p, error);
    }
    if (!ok)
        CloseBridgePort(p);
    return ok;
}

bool BridgePortWrite(BridgePort* p, uint8_t data, std::string* error)
{
    PortState* s = p->session.state;
    SessionValidate(&p->session);
    p->lastWrite = PortNativeWrite(s, -1, PORT_DATA, data);
    *error = HelperTrouble(p);
    return error->empty();
}

// Waits until `done` holds, the helper fails, or the time is up.
template <class Done> static bool WaitOnHelper(BridgePort* p, int64_t deadline, Done done, std::string* error)
{
    while (!done()) {
        *error = HelperTrouble(p);
        if (error->empty() && PortNativeTicks() > deadline)
            *error = std::string("le programme d'aide ") + PORTHELPER_NAME + " ne répond plus";
        if (!error->empty())
            return false;
        Pause();
    }
    return true;
}

bool BridgePortRead(BridgePort* p, int32_t* status, std::string* error)
{
    PortState* s = p->session.state;
    int64_t deadline = Deadline(BRIDGE_ANSWER_MS);
    if (!WaitOnHelper(p, deadline, [&] { return AtomicLoad(&s->applied) > p->lastWrite; }, error))
        return false;
    // A read taken after this moment saw the lines carrying the write.
    int64_t after = PortNativeTicks() + BRIDGE_SETTLE_US * TICKS_PER_US;
    bool rung = false;
    auto fresh = [&] {
        PortStateNoteRead(s, PortNativeTicks());
        if (!rung)
            PortNativeRing(s);
        rung = true;
        return AtomicLoad(&s->statusTicks) >= after;
    };
    if (!WaitOnHelper(p, deadline, fresh, error))
        return false;
    *status = AtomicLoad(&s->status);
    return true;
}

// Asks the helper to stop and waits for it, killing it after the time.
static void StopHelper(BridgePort* p)
{
    if (p->helper <= 0)
        return;
    kill(p->helper, SIGTERM);
    int64_t deadline = Deadline(BRIDGE_STOP_MS);
    while (waitpid(p->helper, nullptr, WNOHANG) == 0) {
        if (PortNativeTicks() > deadline) {
            kill(p->helper, SIGKILL);
            waitpid(p->helper, nullptr, 0);
            break;
        }
        PortNativeSleep(1);
    }
    p->helper = -1;
}

void CloseBridgePort(BridgePort* p)
{
    PortState* s = p->session.state;
    if (s && p->helper > 0) {
        std::string ignored;
        WaitOnHelper(p, Deadline(BRIDGE_ANSWER_MS),
                     [&] { return AtomicLoad(&s->applied) >= PortStateWriteCount(s); }, &ignored);
    }
    StopHelper(p);
    if (p->helperOutput >= 0)
        close(p->helperOutput);
    p->helperOutput = -1;
    LeaveSession(&p->session);
}
