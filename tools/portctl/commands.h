// portctl's commands on the port's shared state, portable: portctl.exe and
// the native travek-portctl run this same code, each through a host that
// supplies what differs between systems (how the state is reached, the
// clock, sleeping, the lock, Ctrl+C). Output is UTF-8.
#ifndef PORTCTL_COMMANDS_H
#define PORTCTL_COMMANDS_H

#include <stdint.h>
#include <string>
#include "args.h"
#include "portcore.h"

constexpr int PORTCTL_EXIT_OK = 0;
constexpr int PORTCTL_EXIT_FAILED = 1;  // the command could not be carried out; wait: time-out
constexpr int PORTCTL_EXIT_USAGE = 2;   // bad arguments, or a stimulus file that cannot be played

struct PortctlHost {
    const char* name;    // the program, as messages name it: "portctl", "travek-portctl"
    PortState* state;    // the session's shared state
    int64_t frequency;   // ticks per second of now(), the state's clock
    int64_t (*now)();
    void (*sleepMs)(int ms);
    // Returns at `ticks` as closely as the platform's timer allows, or
    // earlier once a stop is requested.
    void (*sleepUntil)(int64_t ticks);
    void (*validate)(PortState* s);  // checks the state, repaired under the session's lock
    bool (*othersShare)();           // some other live process uses the state
    bool (*stopRequested)();         // Ctrl+C
};

// The usage text for the program `name`.
std::string PortctlUsage(const char* name);

// Prints the usage after the message on stderr; returns PORTCTL_EXIT_USAGE.
int PortctlUsageError(const char* name, const std::string& message);

// Runs every command but the self-test; returns the exit code.
int RunPortctlCommand(const PortctlArgs& a, const PortctlHost& h);

// The two commands that take time, in their own files.
int RunWait(const PortctlArgs& a, const PortctlHost& h);
int RunPlay(const PortctlArgs& a, const PortctlHost& h);

// Ticks of `frequency` in ns nanoseconds, and back (no overflow below a
// frequency of 9 GHz).
int64_t NsToTicks(int64_t ns, int64_t frequency);
int64_t TicksToNs(int64_t ticks, int64_t frequency);

#endif
