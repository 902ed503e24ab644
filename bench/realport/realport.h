// The real-port benchmark (native): the helper bridging a ppdev device, driven
// by a stand-in for the library's side of each call, beside the simulated
// port's call in the same run.
#ifndef REALPORT_H
#define REALPORT_H

#include <stdint.h>
#include <sys/types.h>
#include <vector>
#include "portcore.h"

constexpr int K2000_PASS_WRITES = 32;     // writes in one pass at delay 0
constexpr int K2000_PASS_PERIOD_US = 10000;  // a pass starts every 10 ms
constexpr int K2000_GAP_MIN_US = 20;      // writes of a pass are this far apart ...
constexpr int K2000_GAP_MAX_US = 90;      // ... up to this
constexpr int64_t TICKS_PER_US = 10;      // the shared clock: 100 ns ticks

// The library's side of a write: journal it, ring only a sleeping helper.
void LibraryWrite(PortState* s, uint16_t value);
// The simulated port's side of a write: journal it.
void SimulatedWrite(PortState* s, uint16_t value);

typedef void (*WriteCall)(PortState* s, uint16_t value);

// Runs K2000-like passes for `passes` passes; returns each call's cost in µs.
std::vector<double> RunK2000(PortState* s, WriteCall call, int passes);

// CPU time of a process so far, in µs.
double ProcessCpuUs(pid_t pid);

// The wire's record: the clock of each data write as the emulated device got it.
std::vector<int64_t> ReadWireRecord(const char* path);

// p-th percentile (0..100) of samples.
double Percentile(std::vector<double> samples, double p);

#endif
