// Benchmark of the real-port road (native), on a ppdev device (the emulated
// one in bench/realport.sh), with the figures beside the simulated port's.
//   realport_bench HELPER DEVICE WIRE_RECORD
//       starts the helper itself and stands in for the library's calls
//   realport_bench --watch WIRE_RECORD PASSES SIM_COST_US CALL_COST_FILE
//       watches a session of the real library under Wine (realport_writer),
//       whose helper the library started; its mean call cost is read from
//       CALL_COST_FILE once it has written it
//   realport_bench --round-trip DEVICE
//       prints the device's own ioctl round trip, and the caller's processor
//       time in a data write (the device claimed for it), in µs
// REALPORT_QUIET_S (seconds of each of three quiet spells, default 5) and
// REALPORT_PASSES (K2000 passes, default 300) size the stand-in's run. With
// REALPORT_FIGURES naming a file, the figures are added to it one a line
// (name, value, unit, tab-separated); REALPORT_PREFIX goes before the names.
#include <fcntl.h>
#include <linux/ppdev.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#include "bridge.h"
#include "portnative.h"
#include "realport.h"

constexpr int QUIET_SPELLS = 3;
constexpr int FLOOR_CALLS = 500;          // ioctls timed for the device's own round trip
constexpr int ALONE_CALLS = 200;          // writes timed one at a time for their processor time
constexpr int ALONE_GAP_US = 1000;
constexpr int64_t WAIT_LIMIT_TICKS = 5 * PORTSTATE_NATIVE_FREQUENCY;
constexpr int64_t WATCH_LIMIT_TICKS = 120 * PORTSTATE_NATIVE_FREQUENCY;  // a whole watched run
constexpr int POLL_US = 1000;

static int EnvInt(const char* name, int fallback)
{
    const char* v = getenv(name);
    int n = v ? atoi(v) : 0;
    return n > 0 ? n : fallback;
}

// Polls until cond(s) holds or the limit passes.
static bool WaitState(PortState* s, bool (*cond)(PortState*), int64_t limit = WAIT_LIMIT_TICKS)
{
    int64_t end = PortNativeTicks() + limit;
    while (!cond(s) && PortNativeTicks() < end)
        usleep(POLL_US);
    return cond(s);
}

static bool HelperServes(PortState* s)
{
    return PortHelperHoldsPort(AtomicLoad(&s->helperState));
}

// The helper holds the port, or has said why it cannot.
static bool HelperReady(PortState* s)
{
    uint32_t st = AtomicLoad(&s->helperState);
    return HelperServes(s) || st == HELPER_FAILED || st == HELPER_WAITING || st == HELPER_REFUSED;
}

static bool AllApplied(PortState* s)
{
    return AtomicLoad(&s->applied) == AtomicLoad(&s->writes);
}

static pid_t StartHelper(const char* helper, const char* statePath)
{
    pid_t pid = fork();
    if (pid == 0) {
        execl(helper, helper, statePath, static_cast<char*>(nullptr));
        _exit(127);
    }
    return pid;
}

// Mean µs of one ioctl round trip to the device, outside the bridge, and
// the caller's processor time per call in *cpuUs when asked.
static double DeviceRoundTripUs(const char* device, double* cpuUs = nullptr)
{
    int fd = open(device, O_RDWR | O_CLOEXEC);
    if (fd < 0)
        return -1.0;
    unsigned char v;
    double cpu0 = ProcessCpuUs(getpid());
    int64_t t0 = PortNativeTicks();
    for (int i = 0; i < FLOOR_CALLS; ++i)
        ioctl(fd, PPRSTATUS, &v);  // refused unclaimed, after the same round trip
    double us = static_cast<double>(PortNativeTicks() - t0) / TICKS_PER_US / FLOOR_CALLS;
    if (cpuUs)
        *cpuUs = (ProcessCpuUs(getpid()) - cpu0) / FLOOR_CALLS;
    close(fd);
    return us;
}

static double ThreadCpuUs()
{
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e6 + static_cast<double>(t.tv_nsec) / 1e3;
}

// The caller's processor time in one data write to a free device, claimed
// for the purpose, in µs: each write alone, a millisecond after the last, as
// the helper makes them (the device's server asleep in between); -1 if the
// device cannot be claimed.
static double DeviceWriteCpuUs(const char* device)
{
    int fd = open(device, O_RDWR | O_CLOEXEC);
    if (fd < 0 || ioctl(fd, PPCLAIM) != 0) {
        if (fd >= 0)
            close(fd);
        return -1.0;
    }
    unsigned char v = 0;
    double cpu = 0.0;
    for (int i = 0; i < ALONE_CALLS; ++i) {
        usleep(ALONE_GAP_US);
        double before = ThreadCpuUs();
        ioctl(fd, PPWDATA, &v);
        cpu += ThreadCpuUs() - before;
    }
    ioctl(fd, PPRELEASE);
    close(fd);
    return cpu / ALONE_CALLS;
}

static double Mean(const std::vector<double>& v)
{
    double sum = 0.0;
    for (double x : v)
        sum += x;
    return v.empty() ? 0.0 : sum / static_cast<double>(v.size());
}

// Journal clock of every data write, in order.
static std::vector<int64_t> JournalTicks(PortState* s)
{
    std::vector<int64_t> ticks;
    std::vector<JournalWrite> batch(PORTSTATE_JOURNAL_CAPACITY);
    int64_t next = 0, dropped = 0;
    size_t n = PortStateCopyJournal(s, 0, batch.data(), batch.size(), &next, &dropped, PortNativeSleep);
    for (size_t i = 0; i < n; ++i)
        if (batch[i].port == PORT_DATA)
            ticks.push_back(batch[i].ticks);
    return ticks;
}

// A row of the table, and the figure in REALPORT_FIGURES when it is set.
static void Row(const char* name, double value, const char* unit, const char* beside, double other,
                const char* target)
{
    const char* prefix = getenv("REALPORT_PREFIX");
    char full[128];
    snprintf(full, sizeof full, "%s%s", prefix ? prefix : "", name);
    printf("%-38s %10.2f %-3s | %-34s %9.2f | %s\n", full, value, unit, beside, other, target);
    const char* figures = getenv("REALPORT_FIGURES");
    FILE* f = figures && *figures ? fopen(figures, "a") : nullptr;
    if (f) {
        fprintf(f, "%s\t%.6g\t%s\n", full, value, unit);
        fclose(f);
    }
}

// The helper's wake-ups so far: its sleeps less those inside device calls.
static double Wakeups(pid_t helper, const char* device)
{
    return ProcessSleeps(helper) - DeviceIoctls(device);
}

struct Phases {
    double idleCpu, idleWall, k2000Cpu, k2000Wall;
    double idleWakes, k2000Wakes;  // the helper's wake-ups in each phase
    double ringsPerPass;  // doorbell rings the library paid per K2000 pass
    double callCost, simCost;  // mean µs of a write call, ppdev and simulated
};

static void RunPhases(PortState* s, pid_t helper, const char* device, Phases* p, int quietS, int passes)
{
    double cpu0 = ProcessCpuUs(helper);
    double wakes0 = Wakeups(helper, device);
    int64_t t0 = PortNativeTicks();
    for (int i = 0; i < QUIET_SPELLS; ++i) {
        PollFor(s, quietS * 1000);  // the program idles: it polls the status
        LibraryWrite(s, 0x55);
    }
    p->idleCpu = ProcessCpuUs(helper) - cpu0;
    p->idleWakes = Wakeups(helper, device) - wakes0;
    p->idleWall = static_cast<double>(PortNativeTicks() - t0) / TICKS_PER_US;
    cpu0 = ProcessCpuUs(helper);
    wakes0 = Wakeups(helper, device);
    t0 = PortNativeTicks();
    uint32_t rings = AtomicLoad(&s->doorbell);
    p->callCost = Mean(RunK2000(s, LibraryWrite, passes));
    p->ringsPerPass = static_cast<double>(AtomicLoad(&s->doorbell) - rings) / passes;
    p->k2000Cpu = ProcessCpuUs(helper) - cpu0;
    p->k2000Wakes = Wakeups(helper, device) - wakes0;
    p->k2000Wall = static_cast<double>(PortNativeTicks() - t0) / TICKS_PER_US;
    PortState* sim = static_cast<PortState*>(calloc(1, sizeof(PortState)));
    PortStateInit(sim, PORTSTATE_NATIVE_FREQUENCY, 0);
    p->simCost = Mean(RunK2000(sim, SimulatedWrite, passes));
    free(sim);
}

// The device's costs: its ioctl round trip (the floor of a write) and the
// caller's processor time in one.
struct DeviceCost {
    double roundTripUs;
    double cpuUs;
};

static DeviceCost CostOf(const char* device)
{
    DeviceCost c;
    c.roundTripUs = DeviceRoundTripUs(device, &c.cpuUs);
    return c;
}

// `first` journal entries (a start-up write) count in no figure.
static int Report(const Phases& p, const std::vector<int64_t>& journal, const std::vector<int64_t>& wire,
                  const DeviceCost& device, size_t first = 0)
{
    double floorUs = device.roundTripUs;
    if (journal.size() != wire.size() || journal.size() < first + QUIET_SPELLS) {
        printf("FAILED: %zu data writes journaled, %zu reached the device\n", journal.size(), wire.size());
        return 1;
    }
    std::vector<double> quiet, busy;
    for (size_t i = first; i < journal.size(); ++i)
        (i < first + QUIET_SPELLS ? quiet : busy).push_back(static_cast<double>(wire[i] - journal[i]) / TICKS_PER_US);
    double simCost = p.simCost;
    Row("device_round_trip_us", floorUs, "us", "-", 0.0, "the device's own ioctl, outside the bridge");
    Row("write_to_wire_median_us", Percentile(busy, 50), "us", "device ioctl round trip (floor)", floorUs,
        "<= 60");
    Row("write_to_wire_p99_us", Percentile(busy, 99), "us", "device ioctl round trip (floor)", floorUs, "<= 300");
    Row("write_to_wire_after_quiet_us", Percentile(quiet, 100), "us", "device ioctl round trip (floor)", floorUs,
        "< 100");
    Row("ppdev_call_cost_us", p.callCost, "us", "simulated port's call", simCost, "< 1");
    Row("helper_idle_wakeups_per_s", 1e6 * p.idleWakes / p.idleWall, "1/s", "status polls a second",
        1000.0 / POLL_PERIOD_MS, "<= 100");
    Row("helper_idle_cpu_percent", 100.0 * p.idleCpu / p.idleWall, "%", "-", 0.0, "<= 0.5");
    Row("helper_k2000_cpu_percent", 100.0 * p.k2000Cpu / p.k2000Wall, "%", "wake-ups a second",
        1e6 * p.k2000Wakes / p.k2000Wall, "<= 5");
    Row("helper_k2000_device_cpu_percent", 100.0 * device.cpuUs * static_cast<double>(busy.size()) / p.k2000Wall,
        "%", "processor in one device call, us", device.cpuUs, "the device's own share of the figure above");
    printf("\nppdev call / simulated call: %.1f; wire p99 / device round trip: %.1f; wire median %.1f us;\n"
           "doorbell rings per pass: %.2f; writes: %zu, all reached the device in order\n",
           p.callCost / simCost, Percentile(busy, 99) / floorUs, Percentile(busy, 50), p.ringsPerPass,
           journal.size());
    return 0;
}

static bool Serving(PortState* s)
{
    return AtomicLoad(&s->helperPid) > 0 && HelperServes(s);
}

static int64_t WatchTarget;  // the `writes` count a watched phase waits for
static bool ReachedTarget(PortState* s)
{
    return AtomicLoad(&s->writes) >= WatchTarget;
}

// Maps the state the library makes, once it exists.
static PortState* MapWhenThere(const char* path)
{
    char err[PORTSTATE_ERROR_MAX];
    int64_t end = PortNativeTicks() + WATCH_LIMIT_TICKS;
    PortState* s = nullptr;
    while (!(s = PortStateMapNative(path, false, err, sizeof err)) && PortNativeTicks() < end)
        usleep(POLL_US * 10);
    if (!s)
        fprintf(stderr, "realport_bench: %s\n", err);
    return s;
}

static double ReadCost(const char* path)
{
    double cost = -1.0;
    int64_t end = PortNativeTicks() + WAIT_LIMIT_TICKS * 6;
    while (cost < 0.0 && PortNativeTicks() < end) {
        FILE* f = fopen(path, "r");
        if (!f || fscanf(f, "%lf", &cost) != 1)
            cost = -1.0;
        if (f)
            fclose(f);
        if (cost < 0.0)
            usleep(POLL_US * 10);
    }
    return cost;
}

// Times one watched phase: helper CPU, wake-ups and wall from now until `writes` reaches target.
static bool WatchPhase(PortState* s, pid_t helper, int64_t target, double* cpu, double* wakes, double* wall)
{
    double cpu0 = ProcessCpuUs(helper);
    double wakes0 = Wakeups(helper, s->target);
    int64_t t0 = PortNativeTicks();
    WatchTarget = target;
    if (!WaitState(s, ReachedTarget, WATCH_LIMIT_TICKS))
        return false;
    *cpu = ProcessCpuUs(helper) - cpu0;
    *wakes = Wakeups(helper, s->target) - wakes0;
    *wall = static_cast<double>(PortNativeTicks() - t0) / TICKS_PER_US;
    return true;
}

static int Watch(char** argv)
{
    char path[PORTSTATE_PATH_MAX], err[PORTSTATE_ERROR_MAX];
    if (!PortStatePath(path, sizeof path, err, sizeof err)) {
        fprintf(stderr, "realport_bench: %s\n", err);
        return 1;
    }
    PortState* s = MapWhenThere(path);
    if (!s || !WaitState(s, Serving, WATCH_LIMIT_TICKS)) {
        fprintf(stderr, "realport_bench: no helper serves the library's state%s%s\n", s ? ": " : "",
                s ? s->faultText : "");
        return 1;
    }
    pid_t helper = AtomicLoad(&s->helperPid);
    int passes = atoi(argv[3]);
    Phases p = {};
    p.simCost = atof(argv[4]);
    uint32_t rings = 0;
    // The writer's first write (the start-up 0) precedes the quiet spells.
    bool ok = WatchPhase(s, helper, 1 + QUIET_SPELLS, &p.idleCpu, &p.idleWakes, &p.idleWall) &&
              WaitState(s, [](PortState* x) { return AtomicLoad(&x->writes) > 1 + QUIET_SPELLS; }) &&
              (rings = AtomicLoad(&s->doorbell), true) &&
              WatchPhase(s, helper, 1 + QUIET_SPELLS + int64_t(passes) * K2000_PASS_WRITES, &p.k2000Cpu,
                         &p.k2000Wakes, &p.k2000Wall);
    p.ringsPerPass = static_cast<double>(AtomicLoad(&s->doorbell) - rings) / passes;
    p.callCost = ReadCost(argv[5]);
    if (!ok || !WaitState(s, AllApplied)) {
        printf("FAILED: the session did not run to its end (%s)\n", s->faultText);
        return 1;
    }
    return Report(p, JournalTicks(s), ReadWireRecord(argv[2]), CostOf(s->target), 1);
}

int main(int argc, char** argv)
{
    if (argc == 6 && strcmp(argv[1], "--watch") == 0)
        return Watch(argv);
    if (argc == 3 && strcmp(argv[1], "--round-trip") == 0) {
        double us = DeviceRoundTripUs(argv[2]);
        printf("%.2f %.2f\n", us, DeviceWriteCpuUs(argv[2]));
        return 0;
    }
    if (argc != 4) {
        fprintf(stderr, "usage: realport_bench HELPER DEVICE WIRE_RECORD\n"
                        "       realport_bench --watch WIRE_RECORD PASSES SIM_COST_US CALL_COST_FILE\n"
                        "       realport_bench --round-trip DEVICE\n");
        return 2;
    }
    char path[PORTSTATE_PATH_MAX], err[PORTSTATE_ERROR_MAX];
    PortState* s = PortStatePath(path, sizeof path, err, sizeof err)
                       ? PortStateMapNative(path, true, err, sizeof err) : nullptr;
    if (!s) {
        fprintf(stderr, "realport_bench: %s\n", err);
        return 1;
    }
    AtomicStore(&s->backend, uint32_t(PORT_BACKEND_PPDEV));
    PortStateSetTarget(s, argv[2]);
    int slot = PortStateTakeClient(s, getpid(), 0, PortNativeTicks());
    pid_t helper = StartHelper(argv[1], path);
    if (!WaitState(s, HelperReady) || !HelperServes(s)) {
        fprintf(stderr, "realport_bench: the helper did not start: %s\n", s->faultText);
        kill(helper, SIGKILL);
        return 1;
    }
    DeviceCost device = CostOf(argv[2]);
    Phases p;
    RunPhases(s, helper, argv[2], &p, EnvInt("REALPORT_QUIET_S", 5), EnvInt("REALPORT_PASSES", 300));
    bool applied = WaitState(s, AllApplied);
    PortStateFreeClient(s, slot);
    kill(helper, SIGTERM);
    waitpid(helper, nullptr, 0);
    if (!applied)
        printf("FAILED: the helper left writes unapplied\n");
    return Report(p, JournalTicks(s), ReadWireRecord(argv[3]), device) || !applied;
}
