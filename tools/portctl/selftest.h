// The self-test of a real port, portable: walking-one and walking-zero
// patterns on D0 to D4 read back through the loopback plug (loopback.h),
// each wire judged from the readings, and the LED walk across D0 to D7. The
// host supplies the port (TestPort) and prints nothing of its own but its
// failures to open it.
#ifndef SELFTEST_H
#define SELFTEST_H

#include <stdint.h>
#include <string>
#include "loopback.h"

constexpr int SELFTEST_EXIT_GOOD = 0;     // every wire good
constexpr int SELFTEST_EXIT_FAULTY = 1;   // some wire is faulty
constexpr int SELFTEST_EXIT_NO_PLUG = 2;  // no input follows any line: no plug
constexpr int SELFTEST_EXIT_NO_PORT = 3;  // the port cannot be opened (or failed during the test)

enum WireState { WIRE_GOOD, WIRE_STUCK_HIGH, WIRE_STUCK_LOW, WIRE_CROSSED, WIRE_ODD };

struct WireVerdict {
    WireState state;
    unsigned others;  // WIRE_CROSSED: the other data lines its input follows, one bit each
};

// Patterns on D0 to D4: all low, walking one, all high, walking zero.
constexpr int SELFTEST_PATTERNS = 2 + 2 * LOOPBACK_WIRES;
extern const uint8_t SELFTEST_DATA[SELFTEST_PATTERNS];

// Judges each wire from the readings: levels[p] has bit i set when input i's
// pin read high after SELFTEST_DATA[p]. False when no input followed any
// data line (no plug); the verdicts are filled either way.
bool AnalyseLoopback(const uint8_t levels[SELFTEST_PATTERNS], WireVerdict out[LOOPBACK_WIRES]);

// "D1 → Select (broches 3 → 13)" and what was found of it.
std::string WireName(int wire);
std::string WireStateText(int wire, const WireVerdict& v);

// The port under test as the host reaches it. Both return false with a
// message (French, UTF-8) when the port fails.
struct TestPort {
    void* context;
    bool (*write)(void* context, uint8_t data, std::string* error);
    // The status register, read after the last write has reached the lines.
    bool (*read)(void* context, int32_t* status, std::string* error);
    void (*pause)(int64_t ns);  // returns early once a stop is requested
    bool (*stopRequested)();
};

// The loopback test on `label` (the port, as shown to the user); prints the
// report and a one-line verdict; returns a SELFTEST_EXIT code. The data
// lines are left low.
int RunLoopbackTest(const TestPort& port, const char* name, const std::string& label);

// Lights D0 to D7 one at a time, stepNs each, saying which; all low at the end.
int RunLedWalk(const TestPort& port, const char* name, const std::string& label, int64_t stepNs);

#endif
