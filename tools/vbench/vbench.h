// The virtual bench's window, as other programs (the tests, scripts) find and
// query it.
#ifndef VBENCH_H
#define VBENCH_H

#include <windows.h>

constexpr char VBENCH_CLASS[] = "BancVirtuelClasse";

// Controls of the window.
constexpr int IDC_SWITCH_FIRST = 1100;  // the five switches, in STATUS_INPUTS order
constexpr int IDC_ZOOM_IN = 1110;
constexpr int IDC_ZOOM_OUT = 1111;
constexpr int IDC_FREEZE = 1112;
constexpr int IDC_SAVE = 1113;

// Queries answered by the window (no arguments).
constexpr UINT VB_GET_LEDS = WM_APP + 1;    // data value the LEDs showed at the last paint
constexpr UINT VB_GET_FRAMES = WM_APP + 2;  // paints since the start
constexpr UINT VB_GET_STATUS = WM_APP + 3;  // status register value shown
constexpr UINT VB_GET_WRITES = WM_APP + 4;  // data writes in the bench's trace

#endif
