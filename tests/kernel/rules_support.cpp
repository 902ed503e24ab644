// See rules_support.h.
#include "rules_support.h"
#include "portnative.h"
#include "ppdev.h"

#include <errno.h>
#include <fcntl.h>
#include <linux/ppdev.h>
#include <signal.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>


static void Ignore(int) {}

// A handler without SA_RESTART: the signal ends a blocked call with EINTR.
static void Catch(int sig)
{
    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_handler = Ignore;
    sigemptyset(&sa.sa_mask);
    sigaction(sig, &sa, nullptr);
}

int Ioctl(int fd, unsigned long cmd, void* arg)
{
    return ioctl(fd, cmd, arg) == 0 ? 0 : errno;
}

int OpenDevice(const std::string& path)
{
    int fd = open(path.c_str(), O_RDWR | O_CLOEXEC);
    return fd >= 0 ? fd : -errno;
}

int ClaimCut(int fd, int ms)
{
    PpdevArmClaimTimer(ms);  // repeating: an alarm before the call blocks leaves the next
    int err = Ioctl(fd, PPCLAIM);
    PpdevArmClaimTimer(0);
    return err;
}

void SleepMs(int ms)
{
    PortNativeSleepUntilMs(PortNativeMs() + ms);
}

std::string ErrName(int err)
{
    if (err == 0)
        return "0";
    const char* name = strerrorname_np(err);
    return name ? name : std::to_string(err);
}

void Expect::Eq(const std::string& what, long got, long want)
{
    if (Ok() && got != want)
        failure = what + ": " + std::to_string(got) + ", expected " + std::to_string(want);
}

void Expect::Err(const std::string& what, int got, int want)
{
    if (Ok() && got != want)
        failure = what + ": " + ErrName(got) + ", expected " + ErrName(want);
}

void Expect::True(const std::string& what, bool holds)
{
    if (Ok() && !holds)
        failure = what;
}

static void* RunBlocked(void* context)
{
    BlockedCall* c = static_cast<BlockedCall*>(context);
    unsigned char byte = 0;
    c->result = Ioctl(c->fd, c->cmd, &byte);
    c->done = true;
    return nullptr;
}

void StartBlocked(BlockedCall* c, int fd, unsigned long cmd)
{
    Catch(SIGUSR1);
    c->fd = fd;
    c->cmd = cmd;
    c->result = -1;
    c->done = false;
    pthread_create(&c->thread, nullptr, RunBlocked, c);
}

bool WaitDone(BlockedCall* c, int ms)
{
    int64_t end = PortNativeMs() + ms;
    while (!c->done && PortNativeMs() < end)
        SleepMs(1);
    return c->done;
}

void Interrupt(BlockedCall* c)
{
    pthread_kill(c->thread, SIGUSR1);
}

void Finish(BlockedCall* c)
{
    while (!WaitDone(c, RULES_STILL_MS))
        Interrupt(c);
    pthread_join(c->thread, nullptr);
}
