// Windows for tests of the operations before or without the control panel: a
// main window for the timers, thirteen bitmap buttons, the delay slider and
// the status box, bound to the process-wide handles as the panel binds them.
#ifndef TESTWIN_H
#define TESTWIN_H

#include <windows.h>
#include <functional>
#include <string>
#include <vector>
#include "portentries.h"
#include "sharedport.h"
#include "slots.h"
#include "testfacts.h"

struct TestPanel {
    HWND main;
    HWND panel;
    HWND buttons[INDICATOR_SLOTS];
    HWND slider;
    HWND statusBox;
};

// Creates the windows and binds IndicatorButtons, IndicatorImages (four
// distinct small bitmaps), MainWindow, ControlPanel, DelaySlider and StatusBox. The main
// window is hidden; mainProc, when given, becomes its window procedure (for
// instance TimerDispatchProc), otherwise it is DefWindowProcA.
TestPanel CreateTestPanel(WNDPROC mainProc = nullptr);
void DestroyTestPanel(TestPanel& p);

// A main window procedure that hands every timer to its handler as the
// program does: 101 PollSensors, 102 RunK2000, 103 SensorResetTick,
// 104 RunChenillard, 106 ExtinguishTick; other identifiers are ignored.
LRESULT CALLBACK TimerDispatchProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// The picture a button shows, as the name of the IndicatorImages field
// ("ledOff", "ledOn", "sensorActive", "sensorIdle"), "none" or "other".
const char* ShownImage(int slot);

// Names of the pictures on slots first..last, joined by spaces.
std::string ShownImages(int first, int last);

// Dispatches messages until pred is true or the deadline passes; pred is
// looked at after every message.
bool PumpUntil(const std::function<bool()>& pred, DWORD timeoutMs);

// The tests' one deliberate pause, for a check that nothing happens in the
// time (no write, no poll) or for a gap made on purpose; never a wait for a
// condition. This thread's messages are dispatched meanwhile.
void LetTimePass(DWORD ms);

// The folder of the running test program, with a trailing backslash: the
// build's bin folder, where the programs under test are.
std::string TestFolder();

// The port library's entries, INPOUT32.dll loaded (once) and looked up by
// ordinal; null if either is missing.
PortReadEntry LibraryRead();
PortWriteEntry LibraryWrite();

// Journal access for tests: the writes since a mark.
int64_t JournalMark();
std::vector<JournalWrite> JournalSince(int64_t mark);
std::vector<int> ValuesSince(int64_t mark);  // the 16-bit values, as signed shorts
double TicksToMs(int64_t ticks);

#endif
