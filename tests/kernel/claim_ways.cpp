// claim_ways: the ways of waiting for a port another process holds, each
// tried on the kernel's own driver (scripts/kernel-check.sh --ways boots the
// virtual machine once per way, with slub_debug=FZP, and reads dmesg after).
//   claim_ways WAY      WAY: once | retried | killed | uninterrupted | helper
// Prints what the waiter saw (WAY NAME: ...) and what each holder saw.
#include <errno.h>
#include <fcntl.h>
#include <linux/ppdev.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#include <string>

#include "portnative.h"
#include "ppdev.h"

constexpr char DEVICE[] = "/dev/parport0";
constexpr int HOLD_MS = 3000;           // the holder keeps the port this long, past every waiter's limit
constexpr int CUT_MS = 300;             // a claim interrupted once is cut after this
constexpr int RETRY_PERIOD_MS = 100;    // the retried claim: cut this often ...
constexpr int RETRY_LIMIT_MS = 2000;    // ... and given up after this
constexpr int KILL_AFTER_MS = 500;      // the queued claimer is killed after this
constexpr int STUCK_MS = 2000;          // a release still blocked after this is a deadlock
constexpr int HELPER_FREED_MS = 1000;   // the helper's way, the port freed during its tries

static void Ignore(int) {}

static void Alarm(int ms, bool repeat)
{
    struct sigaction sa = {};
    sa.sa_handler = Ignore;
    sigaction(SIGALRM, &sa, nullptr);
    itimerval t = {};
    t.it_value.tv_sec = ms / 1000;
    t.it_value.tv_usec = (ms % 1000) * 1000;
    if (repeat)
        t.it_interval = t.it_value;
    setitimer(ITIMER_REAL, &t, nullptr);
}

// A holder: claims, keeps the port `ms`, releases with PPRELEASE (as a
// program does), reports how long the release took.
static pid_t Hold(int ms)
{
    pid_t pid = fork();
    if (pid == 0) {
        int fd = open(DEVICE, O_RDWR);
        ioctl(fd, PPCLAIM);
        usleep(ms * 1000);
        int64_t t0 = PortNativeMs();
        int r = ioctl(fd, PPRELEASE);
        printf("HOLDER released the port (%d) after %lld ms in PPRELEASE\n", r, static_cast<long long>(PortNativeMs() - t0));
        fflush(stdout);
        close(fd);
        _exit(0);
    }
    usleep(200 * 1000);  // the holder has the port
    return pid;
}

static std::string Waiter(const char* way)
{
    char text[160] = "";
    int fd = open(DEVICE, O_RDWR);
    if (strcmp(way, "once") == 0) {
        Alarm(CUT_MS, false);
        int r = ioctl(fd, PPCLAIM);
        snprintf(text, sizeof text, "one claim cut once: %s, then closed", r == 0 ? "claimed" : strerror(errno));
    } else if (strcmp(way, "retried") == 0) {
        Alarm(RETRY_PERIOD_MS, true);
        int64_t end = PortNativeMs() + RETRY_LIMIT_MS;
        int r, n = 0;
        while ((r = ioctl(fd, PPCLAIM)) != 0 && errno == EINTR && PortNativeMs() < end)
            ++n;
        Alarm(0, false);
        snprintf(text, sizeof text, "claim retried %d times after EINTR on one file, then closed", n);
    } else {
        PpdevClaim c = PpdevClaimPort(DEVICE, PPDEV_CLAIM_LIMIT_MS, nullptr, nullptr);
        snprintf(text, sizeof text, "the helper's claim: %s", c.result == PPDEV_CLAIMED ? "claimed" : "still held");
        if (c.fd >= 0)
            PpdevClose(c.fd);
    }
    close(fd);
    return text;
}

// A claimer blocked in PPCLAIM, killed while queued.
static std::string Killed()
{
    pid_t child = fork();
    if (child == 0) {
        int fd = open(DEVICE, O_RDWR);
        ioctl(fd, PPCLAIM);
        _exit(0);
    }
    usleep(KILL_AFTER_MS * 1000);
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    return "claimer killed while queued";
}

// A claim never interrupted, beside a holder that releases with PPRELEASE.
static std::string Uninterrupted(pid_t holder)
{
    pid_t child = fork();
    if (child == 0) {
        int fd = open(DEVICE, O_RDWR);
        ioctl(fd, PPCLAIM);
        _exit(0);
    }
    usleep((HOLD_MS + STUCK_MS) * 1000);
    bool stuck = waitpid(holder, nullptr, WNOHANG) == 0;
    kill(child, SIGKILL);  // frees the holder if it was stuck
    waitpid(child, nullptr, 0);
    return stuck ? "holder's PPRELEASE still blocked after 2 s (deadlock until the waiter got a signal)"
                 : "holder released while the claim waited";
}

int main(int argc, char** argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: claim_ways once|retried|killed|uninterrupted|helper\n");
        return 2;
    }
    const char* way = argv[1];
    bool helper = strcmp(way, "helper") == 0;
    pid_t holder = Hold(helper ? HELPER_FREED_MS : HOLD_MS);
    std::string what = strcmp(way, "killed") == 0 ? Killed()
                     : strcmp(way, "uninterrupted") == 0 ? Uninterrupted(holder) : Waiter(way);
    waitpid(holder, nullptr, 0);
    if (helper) {  // again, the port held past the helper's limit this time
        holder = Hold(HOLD_MS);
        what += "; " + Waiter(way);
        waitpid(holder, nullptr, 0);
    }
    printf("WAY %s: %s\n", way, what.c_str());
    return 0;
}
