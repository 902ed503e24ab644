// Process-wide window handles and timer identifiers shared by the shell, the
// effects and the polling. All timers are set on MainWindow.
//
// Layers: src/ui is the view (the entry function, the main window, the control
// panel); src/effects and src/port are the model. The model reaches the window
// system only through src/port/indicators.cpp: ShowIndicator, its one call for
// the pictures, ShowStatusText and DelaySliderPosition for the two panel
// controls it writes and reads, and StartMainTimer and StopMainTimer for the
// effects' timers. Every layer may include this header.
#ifndef HANDLES_H
#define HANDLES_H

#include <windows.h>

constexpr UINT_PTR TIMER_SENSOR_POLL = 101;   // 1 ms: PollSensors
constexpr UINT_PTR TIMER_K2000 = 102;         // 10 ms: RunK2000
constexpr UINT_PTR TIMER_SENSOR_RESET = 103;  // 500 ms: SensorResetTick
constexpr UINT_PTR TIMER_CHENILLARD = 104;    // 10 ms: RunChenillard
constexpr UINT_PTR TIMER_EXTINGUISH = 106;    // 1 ms: ExtinguishTick

constexpr UINT SENSOR_POLL_PERIOD_MS = 1;
constexpr UINT EFFECT_PERIOD_MS = 10;          // K2000 and Chenillard, each
constexpr UINT SENSOR_RESET_PERIOD_MS = 500;
constexpr UINT EXTINGUISH_PERIOD_MS = 1;

// The delay slider: the step delay in ms, from 0 to 200, 100 at start.
constexpr DWORD MIN_STEP_DELAY = 0;
constexpr DWORD MAX_STEP_DELAY = 200;
constexpr DWORD INITIAL_STEP_DELAY = 100;

extern HINSTANCE Instance;  // the program's module, for its resources
extern HWND MainWindow;     // receiver of every timer
extern HWND ControlPanel;   // the panel whose controls are read and written
extern HWND DelaySlider;    // IDC_DELAY_SLIDER; its position is the step delay
extern HWND StatusBox;      // IDC_STATUS_BOX; takes the status value at every poll

#endif
