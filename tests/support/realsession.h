// A session of the real program on the emulated port, from a Windows test:
// its own runtime folder (so its own shared state and helper), the program
// started with TRAVEK_PORT on an emulated device and its console captured,
// and the state file mapped read-only without joining the session.
#ifndef REALSESSION_H
#define REALSESSION_H

#include <windows.h>
#include <string>
#include <vector>
#include "childproc.h"
#include "portcore.h"
#include "program.h"

struct RealSession {
    std::string runtimeDir;  // Linux path given as XDG_RUNTIME_DIR
    Child child;             // the program, its console on a pipe
    Program program;         // the same process, for clicks
    std::string console;     // what the program said on its console so far
    HANDLE mapping;
    PortState* state;        // read-only view, null until the program made it
};

// Starts the program in a fresh runtime folder with TRAVEK_PORT=target and
// waits for its window and for the state file; false if either is missing.
bool StartRealSession(RealSession& s, const std::string& target);
// Ends the program, unmaps the state; the helper ends by itself.
void StopRealSession(RealSession& s);
// Reads the console until `words` appear or the time is up.
bool ConsoleSays(RealSession& s, const std::string& words, DWORD timeoutMs);
// The journaled data writes in order, and their values' low eight bits.
std::vector<JournalWrite> JournalDataWrites(RealSession& s);
std::vector<int> JournalData(RealSession& s);
// Waits until every journaled write has been applied by the helper.
bool AllApplied(RealSession& s, DWORD timeoutMs);
std::string FaultText(RealSession& s);
// Runs a Linux program (by its Linux path) without waiting for it.
bool RunLinux(const std::string& path, const std::string& args);

#endif
