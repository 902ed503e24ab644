// kernel_session: the helper on the kernel's own driver, in tests/kernel's
// virtual machine, driven by a native stand-in for the library (the bench's
// LibraryWrite: journal, then ring a sleeping helper). Each check prints
//   PASS NAME   or   FAIL NAME: what happened
// and `wire` prints the journal's data values, for the host to compare with
// QEMU's trace of the port's registers (tracecheck.awk):
//   MARKS S1 S2 S3 E1 E2 E3
//   JOURNAL ID V V V ...
// the session's writes being bracketed in the trace by the data writes
// S1 S2 S3 ID (SESSION_MARK_START) and E1 E2 E3 ID (SESSION_MARK_END).
#ifndef TESTS_KERNEL_SESSION_H
#define TESTS_KERNEL_SESSION_H

#include <stdint.h>
#include <sys/types.h>
#include <string>
#include "portcore.h"
#include "portnative.h"  // PortNativeMs, the clock of deadlines

constexpr uint8_t SESSION_MARK_START[] = { 0xA5, 0x5A, 0xC3 };  // then the session's id
constexpr uint8_t SESSION_MARK_END[] = { 0x3C, 0xC3, 0x5A };    // then the session's id
constexpr int SESSION_SETTLE_MS = 8000;  // the longest a helper may take to serve, say or end
constexpr int SESSION_SAID_MIN_MS = 1500;  // a held port is said busy after about 2 s ...
constexpr int SESSION_SAID_MAX_MS = 3500;  // ... not sooner than this, not later than that

// A live session as the library makes one: a state file of this user's own,
// the device as target, a client slot, and the helper started on it.
struct Live {
    std::string runtime;       // the runtime folder, made for the session
    std::string statePath;
    PortState* s = nullptr;
    int slot = -1;             // the client slot, -1 once freed
    pid_t helper = -1;         // -1 once ended
    int helperStatus = -1;     // its exit code, 128 + signal
    std::string helperErr;     // what it wrote on stderr
};

// Maps a fresh state for `device` and takes a client slot; false with a message.
bool LiveOpen(Live* l, const std::string& device, std::string* why);
// Starts the helper on the state, its stderr kept.
void LiveStartHelper(Live* l, const std::string& helper);
// What the helper wrote on stderr so far.
std::string LiveHelperSaid(Live* l);
// Waits for the helper's end (true) at most `ms`; kills it after that.
bool LiveWaitHelper(Live* l, int ms);
// The program quits: its client slot freed.
void LiveQuit(Live* l);
void LiveClose(Live* l);
// Polls `cond` every millisecond for at most `ms`.
bool WaitFor(bool (*cond)(Live*), Live* l, int ms);
bool Serving(Live* l);
bool FaultSaid(Live* l);
bool AllApplied(Live* l);
// The stand-in's write: journal it, ring the helper if it sleeps.
void Write(Live* l, uint16_t value);

// A process that claims the device and holds the port until HolderRelease.
struct Holder {
    pid_t pid;
    int pipe;  // closing it tells the holder to let go
};
bool HolderStart(Holder* h, const std::string& device);
// Lets go of the port and waits for the holder's end.
void HolderRelease(Holder* h);
// PPCLAIM on `fd`, cut by SIGALRM after `ms` (the one claim of that file): 0 or the errno.
int ClaimCut(int fd, int ms);
// Opens the device, claims it once cut after `ms`, closes it: 0, or the errno.
int ClaimOnce(const std::string& device, int ms);

void Pass(const std::string& name);
void Fail(const std::string& name, const std::string& why);
// Prints PASS or FAIL by the outcome; returns `ok`.
bool Report(const std::string& name, bool ok, const std::string& why);

// The subcommands (session_wire.cpp, session_held.cpp, session_faults.cpp),
// each printing its checks under the given name.
int RunWire(int id, const std::string& name, const std::string& helper, const std::string& device);
int RunHeld(const std::string& which, const std::string& name, const std::string& helper,
            const std::string& device);
int RunFault(const std::string& which, const std::string& name, const std::string& helper,
             const std::string& device, const std::string& hook);

#endif
