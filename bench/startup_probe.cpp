// The stamping side of a start-up probe (see startup_probe.h).
#include <windows.h>
#include <commctrl.h>
#include "port.h"
#include "sharedport.h"  // SharedPortNow, the clock
#include "startup_stamps.h"

int WINAPI ProgramWinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int showCommand);

static StartupStamps* Stamps;  // the bench's mapping; null when run without the bench

static void Stamp(StartupPhase phase, bool again)
{
    if (!Stamps)
        return;
    int64_t now = SharedPortNow();
    if (again || Stamps->ticks[phase] == 0)
        Stamps->ticks[phase] = now;
}

__attribute__((constructor(101))) static void FirstCode()
{
    HANDLE mapping = OpenFileMappingA(FILE_MAP_WRITE, FALSE, STARTUP_STAMPS_NAME);
    if (mapping)
        Stamps = static_cast<StartupStamps*>(MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, sizeof(StartupStamps)));
    Stamp(STAMP_FIRST_CODE, false);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int showCommand)
{
    Stamp(STAMP_WINMAIN, false);
    return ProgramWinMain(instance, previous, commandLine, showCommand);
}

ATOM ProbeRegisterClassExA(const WNDCLASSEXA* wc)
{
    ATOM atom = RegisterClassExA(wc);
    Stamp(STAMP_CLASS_REGISTERED, false);
    return atom;
}

ATOM ProbeRegisterClassA(const WNDCLASSA* wc)
{
    ATOM atom = RegisterClassA(wc);
    Stamp(STAMP_CLASS_REGISTERED, false);
    return atom;
}

void ProbeInitCommonControls()
{
    Stamp(STAMP_COMCTL_START, false);
    InitCommonControls();
    Stamp(STAMP_COMCTL_END, false);
}

static DLGPROC ProgramDialogProc;  // the panel's procedure, called by StampedDialogProc

static INT_PTR CALLBACK StampedDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    INT_PTR result = ProgramDialogProc(dialog, message, wParam, lParam);
    if (message == WM_INITDIALOG)
        Stamp(STAMP_INITDIALOG_END, false);
    return result;
}

HWND ProbeCreateDialogParamA(HINSTANCE instance, LPCSTR name, HWND parent, DLGPROC proc, LPARAM param)
{
    Stamp(STAMP_DIALOG_START, false);
    ProgramDialogProc = proc;
    HWND dialog = CreateDialogParamA(instance, name, parent, StampedDialogProc, param);
    Stamp(STAMP_DIALOG_END, false);
    return dialog;
}

HBITMAP ProbeLoadBitmapA(HINSTANCE instance, LPCSTR name)
{
    Stamp(STAMP_BITMAPS_START, false);
    HBITMAP bitmap = LoadBitmapA(instance, name);
    Stamp(STAMP_BITMAPS_END, true);
    return bitmap;
}

void ProbePortWrite(short port, short value)
{
    Stamp(STAMP_FIRST_WRITE, false);
    PortWrite(port, value);
}
