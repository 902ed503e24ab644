// The control panel: a modeless child dialog from template 104.
#ifndef PANEL_H
#define PANEL_H

#include <windows.h>

extern UINT_PTR TimerSlot106;  // what SetTimer returned for the extinguish tick

INT_PTR CALLBACK ControlPanelProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Makes the panel's white ground paint beneath its controls on systems that do
// not order the painting of transparent siblings.
void KeepGroundBeneathControls(HWND panel);

#endif
