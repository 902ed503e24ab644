// The control panel: a modeless child dialog from template 104.
#ifndef PANEL_H
#define PANEL_H

#include <windows.h>

// The extinguish timer as SetTimer returned it: written, never read (the timer
// is addressed by its identifier), kept as the panel has always stored it.
extern UINT_PTR ExtinguishTimer;

INT_PTR CALLBACK ControlPanelProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Makes the panel's white ground paint beneath its controls on systems that do
// not order the painting of transparent siblings.
void KeepGroundBeneathControls(HWND panel);

#endif
