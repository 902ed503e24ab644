// portctl's command line, parsed without touching the port: portable, so that
// it is tested and fuzzed natively too, and shared by portctl.exe and the
// native travek-portctl.
#ifndef PORTCTL_ARGS_H
#define PORTCTL_ARGS_H

#include <stdint.h>
#include <string>

enum PortctlCommand {
    PORTCTL_HELP,
    PORTCTL_SHOW_STATUS,
    PORTCTL_SET_STATUS,
    PORTCTL_SHOW_DATA,
    PORTCTL_FOLLOW,
    PORTCTL_VCD,
    PORTCTL_SHOW_PORT,
    PORTCTL_WAIT,
    PORTCTL_PLAY,
    PORTCTL_SELFTEST,
};

constexpr int64_t NS_PER_US = 1000;
constexpr int64_t NS_PER_MS = 1000000;
constexpr int64_t NS_PER_S = 1000000000;
constexpr int64_t DURATION_MAX_NS = 86400 * NS_PER_S;  // a day: no wait or step is longer
constexpr int64_t LED_STEP_DEFAULT_NS = NS_PER_S;      // selftest --leds: each line lit this long

// Met when the data lines ANDed with `mask` equal `value`.
struct DataCondition {
    uint8_t mask;
    uint8_t value;
};

struct PortctlArgs {
    PortctlCommand command = PORTCTL_HELP;
    int32_t status = 0;                // PORTCTL_SET_STATUS: the value to set
    long limit = -1;                   // PORTCTL_FOLLOW: writes to show, -1 for no end
    const char* file = nullptr;        // PORTCTL_VCD ("-" for the standard output), PORTCTL_PLAY
    DataCondition condition = {0, 0};  // PORTCTL_WAIT
    int64_t withinNs = -1;             // PORTCTL_WAIT: time limit, -1 for none
    const char* port = nullptr;        // PORTCTL_SELFTEST: --port, null for TRAVEK_PORT
    bool leds = false;                 // PORTCTL_SELFTEST: walk a lit LED across D0 to D7
    int64_t stepNs = LED_STEP_DEFAULT_NS;  // PORTCTL_SELFTEST --leds: time per line
};

// Parses argv (argv[0] the program). False with a French message in *error
// for arguments that do not make a command.
bool ParsePortctlArguments(int argc, const char* const* argv, PortctlArgs* out, std::string* error);

// A duration: a whole number followed by "us", "ms" or "s", or alone for
// milliseconds ("200ms", "2s", "500"), up to DURATION_MAX_NS.
bool ParseDuration(const char* text, int64_t* ns);

// "data=V", "data&M" (every line of M high) or "data&M=V", values 0 to 255
// in decimal or 0x hexadecimal. False with a message if not.
bool ParseDataCondition(const char* text, DataCondition* out, std::string* error);

#endif
