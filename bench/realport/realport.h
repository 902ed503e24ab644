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
constexpr int POLL_PERIOD_MS = 10;        // the program polls the status this often

// The library's side of a write: journal it, ring only a sleeping helper.
void LibraryWrite(PortState* s, uint16_t value);
// The library's side of a status read: it stamps the read in the state.
void LibraryRead(PortState* s);
// Reads as the program's poll timer does, for `ms` milliseconds.
void PollFor(PortState* s, int ms);
// The simulated port's side of a write: journal it.
void SimulatedWrite(PortState* s, uint16_t value);

typedef void (*WriteCall)(PortState* s, uint16_t value);

// Runs K2000-like passes for `passes` passes, a status read before each as
// the program's poll comes between passes; returns each call's cost in µs.
std::vector<double> RunK2000(PortState* s, WriteCall call, int passes);

// CPU time of a process so far, in µs.
double ProcessCpuUs(pid_t pid);
// Times a process has gone to sleep so far (its voluntary switches), -1 if unknown.
double ProcessSleeps(pid_t pid);
// Ioctls the emulated device has answered so far, -1 if unknown. Each is a
// sleep of its caller (the answer comes from the FUSE server), which a real
// port's ioctl is not: the helper's wake-ups are its sleeps less these.
double DeviceIoctls(const char* device);

// The wire's record: the clock of each data write as the emulated device got it.
std::vector<int64_t> ReadWireRecord(const char* path);

// p-th percentile (0..100) of samples.
double Percentile(std::vector<double> samples, double p);

#endif
