// The real-port road on the kernel's own driver, in the kernel check's
// virtual machine (bench/kernelport.sh boots it): the cost of a ppdev ioctl
// beside a plain system call, and write-to-wire through the helper, each
// measured in the same machine. Under QEMU's emulation (TCG) every figure is
// slowed by its own factor: only the ratios carry over to a real machine.
//   kernel_bench HELPER DEVICE
#include <fcntl.h>
#include <linux/futex.h>
#include <linux/ppdev.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#include <vector>
#include "bridge.h"
#include "portnative.h"
#include "realport.h"

constexpr int CALLS = 20000;             // system calls and ioctls timed, each kind
constexpr int SLEEPS = 2000;             // short sleeps timed
constexpr int PINGS = 2000;              // futex wake-ups between two processes
constexpr int QUIET_SPELLS = 5;          // writes after the helper fell asleep
constexpr int QUIET_MS = 1000;
constexpr int PASSES = 100;              // K2000 passes at delay 0
constexpr int64_t WIRE_LIMIT_TICKS = PORTSTATE_NATIVE_FREQUENCY / 10;  // a write not applied by then is lost
constexpr int64_t SETTLE_TICKS = 10 * PORTSTATE_NATIVE_FREQUENCY;

static std::vector<double> g_wire;  // µs from each write's call to the helper's ioctl done

static double UsSince(int64_t t0, int count)
{
    return static_cast<double>(PortNativeTicks() - t0) / TICKS_PER_US / count;
}

static double SyscallUs()
{
    int64_t t0 = PortNativeTicks();
    for (int i = 0; i < CALLS; ++i)
        syscall(SYS_getppid);
    return UsSince(t0, CALLS);
}

// What a nanosleep of the helper's awake poll really lasts here.
static double ShortSleepUs()
{
    timespec t = { 0, BRIDGE_AWAKE_POLL_US * 1000 };
    int64_t t0 = PortNativeTicks();
    for (int i = 0; i < SLEEPS; ++i)
        nanosleep(&t, nullptr);
    return UsSince(t0, SLEEPS);
}

static void FutexWait(uint32_t* word, uint32_t value)
{
    syscall(SYS_futex, word, FUTEX_WAIT, value, nullptr, nullptr, 0);
}

static void FutexWake(uint32_t* word)
{
    syscall(SYS_futex, word, FUTEX_WAKE, 1, nullptr, nullptr, 0);
}

// Mean µs for one process to wake another asleep on a shared futex word
// (half a ping-pong): what waking the sleeping helper costs at least.
static double WakeUs()
{
    uint32_t* word = static_cast<uint32_t*>(mmap(nullptr, sizeof(uint32_t), PROT_READ | PROT_WRITE,
                                                 MAP_SHARED | MAP_ANONYMOUS, -1, 0));
    *word = 0;
    pid_t peer = fork();
    if (peer == 0) {  // answers each odd value with the next even one
        for (uint32_t v = 1; v < 2 * PINGS; v += 2) {
            while (__atomic_load_n(word, __ATOMIC_SEQ_CST) < v)
                FutexWait(word, v - 1);
            __atomic_store_n(word, v + 1, __ATOMIC_SEQ_CST);
            FutexWake(word);
        }
        _exit(0);
    }
    int64_t t0 = PortNativeTicks();
    for (uint32_t v = 1; v < 2 * PINGS; v += 2) {
        __atomic_store_n(word, v, __ATOMIC_SEQ_CST);
        FutexWake(word);
        while (__atomic_load_n(word, __ATOMIC_SEQ_CST) < v + 1)
            FutexWait(word, v);
    }
    double us = UsSince(t0, 2 * PINGS);
    waitpid(peer, nullptr, 0);
    munmap(word, sizeof(uint32_t));
    return us;
}

// Mean µs of an ioctl on the claimed device; -1 if it cannot be claimed.
static double IoctlUs(const char* device, unsigned long cmd)
{
    int fd = open(device, O_RDWR | O_CLOEXEC);
    if (fd < 0 || ioctl(fd, PPCLAIM) != 0)
        return -1.0;
    unsigned char v = 0;
    int64_t t0 = PortNativeTicks();
    for (int i = 0; i < CALLS; ++i)
        ioctl(fd, cmd, &v);
    double us = UsSince(t0, CALLS);
    close(fd);
    return us;
}

// The library's write, then the writer watches the helper apply it.
static void TimedWrite(PortState* s, uint16_t value)
{
    int64_t t0 = PortNativeTicks();
    int64_t wanted = AtomicLoad(&s->wireWrites) + 1;
    LibraryWrite(s, value);
    while (AtomicLoad(&s->wireWrites) < wanted && PortNativeTicks() - t0 < WIRE_LIMIT_TICKS) {
    }
    g_wire.push_back(static_cast<double>(PortNativeTicks() - t0) / TICKS_PER_US);
}

static bool Wait(PortState* s, bool (*cond)(PortState*))
{
    int64_t end = PortNativeTicks() + SETTLE_TICKS;
    while (!cond(s) && PortNativeTicks() < end)
        usleep(1000);
    return cond(s);
}

static bool Serving(PortState* s)
{
    return PortHelperHoldsPort(AtomicLoad(&s->helperState));
}

static void Row(const char* name, double value, const char* unit, const char* beside, double other)
{
    if (other <= 0)
        printf("%-34s %10.2f %-3s |\n", name, value, unit);
    else
        printf("%-34s %10.2f %-3s | %-32s %9.2f | ratio %.1f\n", name, value, unit, beside, other, value / other);
}

int main(int argc, char** argv)
{
    if (argc != 3) {
        fprintf(stderr, "usage: kernel_bench HELPER DEVICE\n");
        return 2;
    }
    double sys = SyscallUs(), status = IoctlUs(argv[2], PPRSTATUS), data = IoctlUs(argv[2], PPWDATA);
    double nap = ShortSleepUs(), wake = WakeUs();
    char path[PORTSTATE_PATH_MAX], err[PORTSTATE_ERROR_MAX];
    setenv("XDG_RUNTIME_DIR", "/tmp", 1);
    PortState* s = PortStatePath(path, sizeof path, err, sizeof err) ? PortStateMapNative(path, true, err, sizeof err)
                                                                     : nullptr;
    if (!s || status < 0) {
        printf("FAILED: %s\n", s ? "the device cannot be claimed" : err);
        return 1;
    }
    AtomicStore(&s->backend, uint32_t(PORT_BACKEND_PPDEV));
    PortStateSetTarget(s, argv[2]);
    int slot = PortStateTakeClient(s, getpid(), 0, PortNativeTicks());
    pid_t helper = fork();
    if (helper == 0) {
        execl(argv[1], argv[1], path, static_cast<char*>(nullptr));
        _exit(127);
    }
    if (!Wait(s, Serving)) {
        printf("FAILED: the helper does not serve: %s\n", s->faultText);
        return 1;
    }
    for (int i = 0; i < QUIET_SPELLS; ++i) {
        usleep(QUIET_MS * 1000);
        TimedWrite(s, 0x55);
    }
    std::vector<double> quiet = g_wire;
    g_wire.clear();
    RunK2000(s, TimedWrite, PASSES);
    PortStateFreeClient(s, slot);
    kill(helper, SIGTERM);
    waitpid(helper, nullptr, 0);
    printf("The kernel's parport driver in QEMU (%s): only the ratios carry over to real hardware\n",
           access("/dev/kvm", F_OK) == 0 ? "KVM" : "TCG, no KVM");
    Row("syscall_us (getppid)", sys, "us", "-", 0.0);
    Row("ppdev_ioctl_us (PPRSTATUS)", status, "us", "plain system call", sys);
    Row("ppdev_ioctl_us (PPWDATA)", data, "us", "plain system call", sys);
    Row("nanosleep_awake_poll_us", nap, "us", "asked for", BRIDGE_AWAKE_POLL_US);
    Row("futex_wake_us (between processes)", wake, "us", "plain system call", sys);
    Row("write_to_wire_median_us", Percentile(g_wire, 50), "us", "PPWDATA ioctl", data);
    Row("write_to_wire_median_us", Percentile(g_wire, 50), "us", "nanosleep of 20 us here", nap);
    Row("write_to_wire_p99_us", Percentile(g_wire, 99), "us", "nanosleep of 20 us here", nap);
    Row("write_to_wire_after_quiet_us", Percentile(quiet, 100), "us", "futex wake-up here", wake);
    printf("%zu writes in %d K2000 passes at delay 0, %d after %d ms quiet spells; "
           "wire: the helper's ioctl done, as the writer sees it\n", g_wire.size(), PASSES, QUIET_SPELLS, QUIET_MS);
    return 0;
}
