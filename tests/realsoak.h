// The real-port soak's shared pieces: its run, the actions and faults it
// drives, and the collection of the journal and the device's record.
#ifndef REALSOAK_H
#define REALSOAK_H

#include <stdint.h>
#include <random>
#include <string>
#include <vector>
#include "program.h"
#include "simport.h"

constexpr unsigned long SOAK_DEFAULT_SECONDS = 600;

enum SoakFault { FAULT_BUSY, FAULT_EIO, FAULT_ENOTTY, FAULT_VANISH, FAULT_KINDS };

struct SoakRun {
    unsigned long seconds;
    unsigned seed;
    std::mt19937 rng;
    Program app;
    SimPortState* state;
    int64_t cursor;            // next journal entry to read
    std::vector<int> journal;  // data writes journaled since the start, low 8 bits
    std::vector<int> wire;     // the device's record since the start
    int64_t torn;              // journal entries passed over as torn
    int steps;                 // actions done
    int kills;                 // helpers killed
    int recoveries;            // a new helper beating after a kill or a device fault
    int repeats;               // writes that came twice after a kill
    int faults[FAULT_KINDS];   // device faults made, by kind
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

#endif
