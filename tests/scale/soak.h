// The parts of the soak: its actions on the program and the measures of its
// footprint, used by the soak's driver.
#ifndef SOAK_H
#define SOAK_H

#include <windows.h>
#include <random>
#include <string>
#include <vector>
#include "journalcheck.h"
#include "program.h"

inline const DWORD ANSWER_MS = WaitLongMs();  // longer than this without an answer is a hang

struct Footprint {
    int windows;      // the program's windows, top-level and children
    DWORD gdi, user;  // GetGuiResources; 0 where the system does not count
    DWORD guiError;   // GetLastError after GetGuiResources returned 0
    SIZE_T privateBytes, workingSet;
};

// SendMessageTimeout with ANSWER_MS; false if the program did not answer.
bool TimedSend(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result = nullptr);

// Gives a command: a click, handled when the current pass has ended.
void Give(JournalCheck& j, const Program& p, int id, Command c);
// Starts K2000 and Chenillard, in an order drawn at random.
void StartBoth(JournalCheck& j, const Program& p, std::mt19937& rng);
// "Arreter": both effects stop after its write of 0.
void Stop(JournalCheck& j, const Program& p);
// One click on a button drawn at random, all of the panel's buttons in turn
// likely; "Arreter" is rarer and is followed by both effects started again.
void RandomClick(JournalCheck& j, const Program& p, std::mt19937& rng);
// "Envoi" with a text that is not a number: the message box, answered. The
// program writes nothing for it, and its effects run on in the box's loop.
void RefusedNumber(JournalCheck& j, const Program& p);

Footprint Measure(const Program& p);
// The picture handles the thirteen indicators show; the program loads four
// bitmaps once, so more than four distinct handles would be a GDI leak.
void CollectImages(const Program& p, std::vector<LRESULT>& seen);
// Sets the status register and, once two polls have begun since, checks that
// the status box shows the value.
void StatusShown(const Program& p, int value);
double Mb(SIZE_T bytes);

#endif
