// Benchmark of the real-port road (native), on a ppdev device (the emulated
// one in bench/realport.sh), with the figures beside the simulated port's.
//   realport_bench HELPER DEVICE WIRE_RECORD
//       starts the helper itself and stands in for the library's calls
//   realport_bench --watch WIRE_RECORD PASSES SIM_COST_US CALL_COST_FILE
//       watches a session of the real library under Wine (realport_writer),
//       whose helper the library started; its mean call cost is read from
//       CALL_COST_FILE once it has written it
// REALPORT_QUIET_S (seconds of each of three quiet spells, default 5) and
// REALPORT_PASSES (K2000 passes, default 300) size the stand-in's run.
#include <fcntl.h>
#include <linux/ppdev.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include "bridge.h"
#include "portnative.h"
#include "realport.h"

constexpr int QUIET_SPELLS = 3;
constexpr int FLOOR_CALLS = 500;          // ioctls timed for the device's own round trip
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

static bool HelperReady(PortState* s)
{
    uint32_t st = AtomicLoad(&s->helperState);
    return st == HELPER_AWAKE || st == HELPER_SLEEPING || st == HELPER_FAILED || st == HELPER_WAITING ||
           st == HELPER_REFUSED;
}

static bool HelperServes(PortState* s)
{
    uint32_t st = AtomicLoad(&s->helperState);
    return st == HELPER_AWAKE || st == HELPER_SLEEPING;
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

// Mean µs of one ioctl round trip to the device, outside the bridge.
static double DeviceRoundTripUs(const char* device)
{
    int fd = open(device, O_RDWR | O_CLOEXEC);
    if (fd < 0)
        return -1.0;
    unsigned char v;
    int64_t t0 = PortNativeTicks();
    for (int i = 0; i < FLOOR_CALLS; ++i)
        ioctl(fd, PPRSTATUS, &v);  // refused unclaimed, after the same round trip
    double us = static_cast<double>(PortNativeTicks() - t0) / TICKS_PER_US / FLOOR_CALLS;
    close(fd);
    return us;
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

static void Row(const char* name, double value, const char* unit, const char* beside, double other,
                const char* target)
{
    printf("%-30s %10.2f %-3s | %-34s %9.2f | %s\n", name, value, unit, beside, other, target);
}

struct Phases {
    double idleCpu, idleWall, k2000Cpu, k2000Wall;
    double ringsPerPass;  // doorbell rings the library paid per K2000 pass
    double callCost, simCost;  // mean µs of a write call, ppdev and simulated
};

static void RunPhases(PortState* s, pid_t helper, Phases* p, int quietS, int passes)
{
    double cpu0 = ProcessCpuUs(helper);
    int64_t t0 = PortNativeTicks();
    for (int i = 0; i < QUIET_SPELLS; ++i) {
        sleep(static_cast<unsigned>(quietS));
        LibraryWrite(s, 0x55);
    }
    p->idleCpu = ProcessCpuUs(helper) - cpu0;
    p->idleWall = static_cast<double>(PortNativeTicks() - t0) / TICKS_PER_US;
    cpu0 = ProcessCpuUs(helper);
    t0 = PortNativeTicks();
    uint32_t rings = AtomicLoad(&s->doorbell);
    p->callCost = Mean(RunK2000(s, LibraryWrite, passes));
    p->ringsPerPass = static_cast<double>(AtomicLoad(&s->doorbell) - rings) / passes;
    p->k2000Cpu = ProcessCpuUs(helper) - cpu0;
    p->k2000Wall = static_cast<double>(PortNativeTicks() - t0) / TICKS_PER_US;
    PortState* sim = static_cast<PortState*>(calloc(1, sizeof(PortState)));
    PortStateInit(sim, PORTSTATE_NATIVE_FREQUENCY, 0);
    p->simCost = Mean(RunK2000(sim, SimulatedWrite, passes));
    free(sim);
}

// `first` journal entries (a start-up write) count in no figure.
static int Report(const Phases& p, const std::vector<int64_t>& journal, const std::vector<int64_t>& wire,
                  double floorUs, size_t first = 0)
{
    if (journal.size() != wire.size() || journal.size() < first + QUIET_SPELLS) {
        printf("FAILED: %zu data writes journaled, %zu reached the device\n", journal.size(), wire.size());
        return 1;
    }
    std::vector<double> quiet, busy;
    for (size_t i = first; i < journal.size(); ++i)
        (i < first + QUIET_SPELLS ? quiet : busy).push_back(static_cast<double>(wire[i] - journal[i]) / TICKS_PER_US);
    double simCost = p.simCost;
    Row("write_to_wire_p99_us", Percentile(busy, 99), "us", "device ioctl round trip (floor)", floorUs, "< 100");
    Row("write_to_wire_after_quiet_us", Percentile(quiet, 100), "us", "device ioctl round trip (floor)", floorUs,
        "< 100");
    Row("ppdev_call_cost_us", p.callCost, "us", "simulated port's call", simCost, "< 1");
    Row("helper_idle_cpu_percent", 100.0 * p.idleCpu / p.idleWall, "%", "-", 0.0, "<= 1");
    Row("helper_k2000_cpu_percent", 100.0 * p.k2000Cpu / p.k2000Wall, "%", "-", 0.0, "<= 5");
    printf("\nppdev call / simulated call: %.1f; wire p99 / device round trip: %.1f; wire median %.1f us;\n"
           "doorbell rings per pass: %.2f; writes: %zu, all reached the device in order\n",
           p.callCost / simCost, Percentile(busy, 99) / floorUs, Percentile(busy, 50), p.ringsPerPass,
           journal.size());
    return 0;
}

static bool Serving(PortState* s)
{
    int32_t pid = AtomicLoad(&s->helperPid);
    uint32_t st = AtomicLoad(&s->helperState);
    return pid > 0 && (st == HELPER_AWAKE || st == HELPER_SLEEPING);
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

// Times one watched phase: helper CPU and wall from now until `writes` reaches target.
static bool WatchPhase(PortState* s, pid_t helper, int64_t target, double* cpu, double* wall)
{
    double cpu0 = ProcessCpuUs(helper);
    int64_t t0 = PortNativeTicks();
    WatchTarget = target;
    if (!WaitState(s, ReachedTarget, WATCH_LIMIT_TICKS))
        return false;
    *cpu = ProcessCpuUs(helper) - cpu0;
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
    bool ok = WatchPhase(s, helper, 1 + QUIET_SPELLS, &p.idleCpu, &p.idleWall) &&
              WaitState(s, [](PortState* x) { return AtomicLoad(&x->writes) > 1 + QUIET_SPELLS; }) &&
              (rings = AtomicLoad(&s->doorbell), true) &&
              WatchPhase(s, helper, 1 + QUIET_SPELLS + int64_t(passes) * K2000_PASS_WRITES, &p.k2000Cpu,
                         &p.k2000Wall);
    p.ringsPerPass = static_cast<double>(AtomicLoad(&s->doorbell) - rings) / passes;
    p.callCost = ReadCost(argv[5]);
    if (!ok || !WaitState(s, AllApplied)) {
        printf("FAILED: the session did not run to its end (%s)\n", s->faultText);
        return 1;
    }
    return Report(p, JournalTicks(s), ReadWireRecord(argv[2]), DeviceRoundTripUs(s->target), 1);
}

int main(int argc, char** argv)
{
    if (argc == 6 && strcmp(argv[1], "--watch") == 0)
        return Watch(argv);
    if (argc != 4) {
        fprintf(stderr, "usage: realport_bench HELPER DEVICE WIRE_RECORD\n"
                        "       realport_bench --watch WIRE_RECORD PASSES SIM_COST_US CALL_COST_FILE\n");
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
    double floorUs = DeviceRoundTripUs(argv[2]);
    Phases p;
    RunPhases(s, helper, &p, EnvInt("REALPORT_QUIET_S", 5), EnvInt("REALPORT_PASSES", 300));
    bool applied = WaitState(s, AllApplied);
    PortStateFreeClient(s, slot);
    kill(helper, SIGTERM);
    waitpid(helper, nullptr, 0);
    if (!applied)
        printf("FAILED: the helper left writes unapplied\n");
    return Report(p, JournalTicks(s), ReadWireRecord(argv[3]), floorUs) || !applied;
}
