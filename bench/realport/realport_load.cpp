// The load the benchmark puts on the port and what it measures of it.
#include <errno.h>
#include <sched.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>
#include <algorithm>
#include <string>
#include "emuport.h"
#include "portnative.h"
#include "realport.h"
#include "testfacts.h"

constexpr int EMUPORT_LINE = 25;  // "VVV TTTTTTTTTTTTTTTTTTTT\n"

void LibraryWrite(PortState* s, uint16_t value)
{
    PortNativeWrite(s, -1, PORT_DATA, value);
}

void LibraryRead(PortState* s)
{
    PortStateNoteRead(s, PortNativeTicks());
}

void PollFor(PortState* s, int ms)
{
    int64_t end = PortNativeTicks() + int64_t(ms) * 1000 * TICKS_PER_US;
    while (PortNativeTicks() < end) {
        LibraryRead(s);
        timespec ts = { 0, POLL_PERIOD_MS * 1000000L };
        nanosleep(&ts, nullptr);
    }
}

void SimulatedWrite(PortState* s, uint16_t value)
{
    PortStateAppend(s, PORT_DATA, value, PortNativeTicks);
}

// Waits as the program does between the steps of a pass at delay 0: it
// yields (Sleep(0)) until the clock reaches `until`.
static void YieldUntil(int64_t until)
{
    while (PortNativeTicks() < until)
        sched_yield();
}

std::vector<double> RunK2000(PortState* s, WriteCall call, int passes)
{
    std::vector<double> costs;
    unsigned seed = 1;
    int64_t passStart = PortNativeTicks();
    for (int p = 0; p < passes; ++p) {
        LibraryRead(s);
        int64_t at = passStart;
        for (int i = 0; i < K2000_PASS_WRITES; ++i) {
            YieldUntil(at);
            uint16_t value = (i % 2 == 0) ? 0 : static_cast<uint16_t>(K2000_PASS[i / 2]);
            int64_t t0 = PortNativeTicks();
            call(s, value);
            costs.push_back(static_cast<double>(PortNativeTicks() - t0) / TICKS_PER_US);
            int gap = K2000_GAP_MIN_US + static_cast<int>(rand_r(&seed) % (K2000_GAP_MAX_US - K2000_GAP_MIN_US));
            at = PortNativeTicks() + gap * TICKS_PER_US;
        }
        passStart += K2000_PASS_PERIOD_US * TICKS_PER_US;
        int64_t now = PortNativeTicks();
        if (passStart > now) {
            int64_t ns = (passStart - now) * 100;
            timespec ts = { static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000) };
            nanosleep(&ts, nullptr);  // the program's message loop between passes
        }
    }
    return costs;
}

double ProcessCpuUs(pid_t pid)
{
    clockid_t id;
    timespec t;
    if (clock_getcpuclockid(pid, &id) != 0 || clock_gettime(id, &t) != 0)
        return -1.0;
    return static_cast<double>(t.tv_sec) * 1e6 + static_cast<double>(t.tv_nsec) / 1e3;
}

double ProcessSleeps(pid_t pid)
{
    char path[64], line[256];
    snprintf(path, sizeof path, "/proc/%d/status", static_cast<int>(pid));
    FILE* f = fopen(path, "r");
    if (!f)
        return -1.0;
    double n = -1.0;
    while (fgets(line, sizeof line, f))
        if (sscanf(line, "voluntary_ctxt_switches: %lf", &n) == 1)
            break;
    fclose(f);
    return n;
}

double DeviceIoctls(const char* device)
{
    std::string path = std::string(device) + EMUPORT_CTL_SUFFIX;
    FILE* f = fopen(path.c_str(), "r");
    if (!f)
        return -1.0;
    char line[256];
    double n = -1.0;
    while (fgets(line, sizeof line, f))
        if (sscanf(line, "ioctls %lf", &n) == 1)
            break;
    fclose(f);
    return n;
}

std::vector<int64_t> ReadWireRecord(const char* path)
{
    std::vector<int64_t> ticks;
    FILE* f = fopen(path, "r");
    if (!f)
        return ticks;
    char line[EMUPORT_LINE + 8];
    while (fgets(line, sizeof line, f)) {
        unsigned value = 0;
        long long t = 0;
        if (sscanf(line, "%u %lld", &value, &t) == 2)
            ticks.push_back(t);
    }
    fclose(f);
    return ticks;
}

double Percentile(std::vector<double> samples, double p)
{
    if (samples.empty())
        return 0.0;
    std::sort(samples.begin(), samples.end());
    size_t i = static_cast<size_t>(p / 100.0 * static_cast<double>(samples.size() - 1) + 0.5);
    return samples[std::min(i, samples.size() - 1)];
}
