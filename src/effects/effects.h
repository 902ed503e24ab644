// Light effects over the eight data lines, and the polling of the status inputs.
#ifndef EFFECTS_H
#define EFFECTS_H

#include <windows.h>

extern DWORD StepDelay;            // ms after every effect step; the slider's position
extern UINT_PTR K2000Timer;        // what SetTimer returned for K2000, 0 if never started
extern UINT_PTR ChenillardTimer;   // what SetTimer returned for Chenillard, 0 if never started
extern short LastStatusValue;      // the status register as last polled

DWORD AscendingSweep();
void RunK2000();
void RunChenillard();
void RunFontaine();

void StartK2000();
void StartChenillard();
void StopEffects();

void PollSensors();
void SensorResetTick();

// Hands a timer of MainWindow to its handler; unknown identifiers are ignored.
void DispatchTimer(WPARAM timer);

#endif
