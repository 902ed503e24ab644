// The virtual bench's process-wide state, shared by its window and commands
// (vbench.cpp) and its painting (vbench_paint.cpp), which read it.
#ifndef VBENCH_STATE_H
#define VBENCH_STATE_H

#include <windows.h>
#include <stdint.h>
#include <string>
#include "chart.h"
#include "portinfo.h"
#include "sharedport.h"
#include "switches.h"
#include "trace.h"

// Time across the chart, in microseconds, from the widest to the narrowest.
inline constexpr int64_t ZOOM_SPANS_US[] = { 10000000, 5000000, 2000000, 1000000, 500000, 200000,
                                             100000,   50000,   20000,   10000,   5000,   2000,
                                             1000,     500,     200,     100,     50,     20 };
constexpr int ZOOM_COUNT = static_cast<int>(sizeof(ZOOM_SPANS_US) / sizeof(ZOOM_SPANS_US[0]));
constexpr int ZOOM_DEFAULT = 1;  // 5 s: the last few seconds
constexpr int DATA_LINES = 8;    // D0 to D7
constexpr int DATA_MASK = 0xFF;  // the data lines' bits of a register value

// -- the window
extern HINSTANCE Instance;               // this program's module
extern HWND BenchWindow;                 // the main window
extern HWND SwitchButtons[INPUT_COUNT];  // the push-like switches, checked when pulled low
extern HWND FreezeBox;                   // "Figer": stops the chart scrolling
extern HFONT UiFont;                     // font of the controls and the texts

// -- the port and what was read from it
extern PortState* Port;               // the shared state, attached for the whole run
extern int64_t DroppedWrites;            // journal entries lost before they could be copied
extern DataTrace Trace;                  // data writes seen, for the chart and the dump
extern int CurrentData;                  // data register at the last refresh
extern int32_t CurrentStatus;            // status register at the last refresh
extern PortInfo ShownPort;               // the port watched, as the window shows it
extern bool TestBenchRunning;            // the test bench window was there at the last look
extern std::string Notice;               // the last outcome shown on the bottom line

// -- the chart's view
extern int ZoomIndex;                    // index into ZOOM_SPANS_US
extern bool Frozen;                      // the chart stands still
extern int64_t FrozenTicks;              // the moment it was frozen
extern int64_t ViewEnd;                  // right edge of a frozen chart
extern bool HasCursor;                   // a frozen chart shows the marker
extern int64_t CursorTicks;              // the marker's moment

// -- what the last paint showed
extern int ShownData;                    // data value the LEDs showed at the last paint
extern int64_t PaintedWrites;            // trace length the bottom line showed
extern LONG64 FrameCount;                // paints since the start

int64_t SpanTicks();       // the chart's span at the current zoom, in counter ticks
ChartView CurrentView();   // the chart as it shows now, live or frozen
void SyncSwitches(int32_t status);  // the switches as the status register has them

// The window's commands (vbench_commands.cpp).
void OnCommand(HWND window, int id, int code);
void OnMouseWheel(HWND window, WPARAM wParam, LPARAM lParam);
void OnChartClick(HWND window, LPARAM lParam);

// Paints what WM_PAINT asks for through a back buffer (vbench_paint.cpp).
void PaintBench(HWND window);

// The copy of the shared state (vbench_journal.cpp).
void AttachPort();                                // attaches and reads what the journal still holds
void ReadJournal();                               // copies the writes made since the last call
void RecordStatus(int32_t value);                 // a new status value, shown and kept for the dump
bool SaveTrace(const char* path, size_t* writes); // the trace as a VCD file; false if it cannot be written

#endif
