// Force-included into copies of a program's sources built as start-up probes:
// the calls that begin and end the phases of start-up are renamed to
// functions that stamp the moment and make the call.
#ifndef STARTUP_PROBE_H
#define STARTUP_PROBE_H

#include <windows.h>
#include <commctrl.h>
#include "port.h"

int WINAPI ProgramWinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int showCommand);
ATOM ProbeRegisterClassExA(const WNDCLASSEXA* wc);
ATOM ProbeRegisterClassA(const WNDCLASSA* wc);
void ProbeInitCommonControls();
HWND ProbeCreateDialogParamA(HINSTANCE instance, LPCSTR name, HWND parent, DLGPROC proc, LPARAM param);
HBITMAP ProbeLoadBitmapA(HINSTANCE instance, LPCSTR name);
void ProbePortWrite(short port, short value);

#define WinMain ProgramWinMain
#define RegisterClassExA ProbeRegisterClassExA
#define RegisterClassA ProbeRegisterClassA
#define InitCommonControls ProbeInitCommonControls
#define CreateDialogParamA ProbeCreateDialogParamA
#define LoadBitmapA ProbeLoadBitmapA
#define PortWrite ProbePortWrite

#endif
