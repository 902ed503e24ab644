// The real-port soak's shared pieces: its run, the actions and faults it
// drives, and the collection of the journal and the device's record.
#ifndef REALSOAK_H
#define REALSOAK_H

#include <stdint.h>
#include <random>
#include <string>
#include <vector>
#include "program.h"
#include "sharedport.h"
#include "wirerule.h"

constexpr unsigned long SOAK_DEFAULT_SECONDS = 600;

enum SoakFault { FAULT_BUSY, FAULT_EIO, FAULT_ENOTTY, FAULT_VANISH, FAULT_KINDS };
// Faults met less often: a mistyped port name, a writer stalled mid-entry,
// a helper's pid reused by another process.
enum SoakRareFault { RARE_MISTYPED, RARE_STALLED_WRITER, RARE_REUSED_PID, RARE_KINDS };
constexpr int RARE_EVERY = 30;  // one of them per this many actions (of FAULT_EVERY * KILL_EVERY), on average

struct SoakRun {
    unsigned long seconds;
    unsigned seed;
    std::mt19937 rng;
    Program app;
    PortState* state;
    int64_t cursor;            // next journal entry to read
    std::vector<JournalWrite> journal;  // data writes journaled since the start, for the wire
    std::vector<WireSkip> skips;        // stale backlogs passed over, as the state told them
    int64_t lastSkipEnd;                // the state's lastSkipEnd last seen
    std::vector<int> wire;     // the device's record since the start
    int64_t torn;              // journal entries passed over as torn
    int steps;                 // actions done
    int kills;                 // helpers killed
    int recoveries;            // a new helper beating after a kill or a device fault
    int faults[FAULT_KINDS];   // device faults made, by kind
    int rare[RARE_KINDS];      // rare faults made, by kind
    int64_t unappliedStart;    // the state's `unapplied` at the start
    unsigned long slowestBoxMs;  // longest wait for the status box after the state had the pins
};

// Records the first fault of the run and prints it.
void SoakFail(const std::string& what);
bool SoakFailed();
// Reads the new journal entries and the new records of the device.
void SoakCollect(SoakRun& r);
// Random actions, kills and faults until the time is up or a fault is found.
void SoakRunActions(SoakRun& r);
// Stops the effects and waits until the helper has applied every write.
bool SoakDrain(SoakRun& r);
// A new helper other than notPid serves and beats (collecting meanwhile).
bool HelperBeating(SoakRun& r, int32_t notPid);
bool WaitHelper(SoakRun& r, int32_t notPid);
bool KillNative(int32_t pid);
// One of the rare faults, checked for its effect.
void RareFault(SoakRun& r, int kind);

#endif
