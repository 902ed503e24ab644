// See session.h: a live session, a holder of the port, and the check lines.
#include "session.h"

#include <errno.h>
#include <fcntl.h>
#include <linux/ppdev.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include "portnative.h"
#include "realport.h"

constexpr int HOLDER_READY_MS = 3000;
constexpr int MS_PER_S = 1000;
constexpr long NS_PER_MS = 1000000;

void Pass(const std::string& name)
{
    printf("PASS %s\n", name.c_str());
    fflush(stdout);
}

void Fail(const std::string& name, const std::string& why)
{
    printf("FAIL %s: %s\n", name.c_str(), why.c_str());
    fflush(stdout);
}

bool Report(const std::string& name, bool ok, const std::string& why)
{
    if (ok)
        Pass(name);
    else
        Fail(name, why);
    return ok;
}

bool LiveOpen(Live* l, const std::string& device, std::string* why)
{
    *l = Live();
    char dir[] = "/tmp/travek-live.XXXXXX";
    if (!mkdtemp(dir)) {
        *why = "mkdtemp failed";
        return false;
    }
    l->runtime = dir;
    setenv("XDG_RUNTIME_DIR", dir, 1);
    char path[PORTSTATE_PATH_MAX], err[PORTSTATE_ERROR_MAX];
    if (!PortStatePath(path, sizeof path, err, sizeof err) ||
        !(l->s = PortStateMapNative(path, true, err, sizeof err))) {
        *why = err;
        return false;
    }
    l->statePath = path;
    AtomicStore(&l->s->backend, uint32_t(PORT_BACKEND_PPDEV));
    PortStateSetTarget(l->s, device.c_str());
    l->slot = PortStateTakeClient(l->s, getpid(), 0, PortNativeTicks());
    return true;
}

void LiveStartHelper(Live* l, const std::string& helper)
{
    std::string errFile = l->runtime + "/helper.err";
    l->helper = fork();
    if (l->helper == 0) {
        int fd = open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(fd, STDERR_FILENO);
        execl(helper.c_str(), helper.c_str(), l->statePath.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
}

static std::string ReadFile(const std::string& path)
{
    std::string text;
    FILE* f = fopen(path.c_str(), "r");
    if (!f)
        return text;
    char buf[512];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0)
        text.append(buf, n);
    fclose(f);
    return text;
}

std::string LiveHelperSaid(Live* l)
{
    return ReadFile(l->runtime + "/helper.err");
}

bool LiveWaitHelper(Live* l, int ms)
{
    if (l->helper < 0)
        return true;
    int64_t end = PortNativeMs() + ms;
    int status = 0;
    bool ended;
    while (!(ended = waitpid(l->helper, &status, WNOHANG) == l->helper) && PortNativeMs() < end)
        usleep(1000);
    if (!ended) {
        kill(l->helper, SIGKILL);
        waitpid(l->helper, &status, 0);
    }
    l->helperStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    l->helperErr = LiveHelperSaid(l);
    l->helper = -1;
    return ended;
}

void LiveQuit(Live* l)
{
    if (l->slot >= 0)
        PortStateFreeClient(l->s, l->slot);
    l->slot = -1;
}

void LiveClose(Live* l)
{
    LiveQuit(l);
    if (l->helper > 0) {
        kill(l->helper, SIGTERM);
        LiveWaitHelper(l, SESSION_SETTLE_MS);
    }
    if (l->s)
        PortStateUnmapNative(l->s);
    l->s = nullptr;
    if (!l->runtime.empty()) {
        unlink(l->statePath.c_str());
        unlink((l->runtime + "/helper.err").c_str());
        rmdir((l->runtime + "/" + PORTSTATE_DIR).c_str());
        rmdir(l->runtime.c_str());
    }
}

bool WaitFor(bool (*cond)(Live*), Live* l, int ms)
{
    int64_t end = PortNativeMs() + ms;
    while (!cond(l)) {
        if (PortNativeMs() >= end)
            return false;
        usleep(1000);
    }
    return true;
}

bool Serving(Live* l)
{
    return PortHelperHoldsPort(AtomicLoad(&l->s->helperState));
}

bool FaultSaid(Live* l)
{
    return AtomicLoad(&l->s->fault) != PORT_FAULT_NONE;
}

bool AllApplied(Live* l)
{
    return AtomicLoad(&l->s->applied) == AtomicLoad(&l->s->writes);
}

void Write(Live* l, uint16_t value)
{
    LibraryWrite(l->s, value);
}

bool HolderStart(Holder* h, const std::string& device)
{
    int command[2], ready[2];  // not inherited by the helper, or the holder would never see the end
    if (pipe2(command, O_CLOEXEC) != 0 || pipe2(ready, O_CLOEXEC) != 0)
        return false;
    h->pid = fork();
    if (h->pid == 0) {
        close(command[1]);
        close(ready[0]);
        int fd = open(device.c_str(), O_RDWR);
        char ok = fd >= 0 && ioctl(fd, PPCLAIM) == 0 ? '1' : '0';
        if (write(ready[1], &ok, 1) != 1)
            _exit(1);
        char c;
        while (read(command[0], &c, 1) > 0) {
        }
        _exit(0);  // closing the file lets go of the port
    }
    close(command[0]);
    close(ready[1]);
    h->pipe = command[1];
    pollfd p = { ready[0], POLLIN, 0 };
    char ok = '0';
    bool held = poll(&p, 1, HOLDER_READY_MS) == 1 && read(ready[0], &ok, 1) == 1 && ok == '1';
    close(ready[0]);
    return held;
}

void HolderRelease(Holder* h)
{
    if (h->pid <= 0)
        return;
    close(h->pipe);
    waitpid(h->pid, nullptr, 0);
    h->pid = -1;
}

static void IgnoreSignal(int) {}

int ClaimCut(int fd, int ms)
{
    struct sigaction sa = {};
    sa.sa_handler = IgnoreSignal;
    sigaction(SIGALRM, &sa, nullptr);
    itimerval t = {};
    t.it_value.tv_sec = ms / MS_PER_S;
    t.it_value.tv_usec = (ms % MS_PER_S) * (NS_PER_MS / MS_PER_S);
    t.it_interval = t.it_value;
    setitimer(ITIMER_REAL, &t, nullptr);
    int err = ioctl(fd, PPCLAIM) == 0 ? 0 : errno;
    itimerval off = {};
    setitimer(ITIMER_REAL, &off, nullptr);
    return err;
}

int ClaimOnce(const std::string& device, int ms)
{
    int fd = open(device.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0)
        return errno;
    int err = ClaimCut(fd, ms);
    close(fd);
    return err;
}
