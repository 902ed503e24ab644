// Moments of a probe build's start-up, stamped with QueryPerformanceCounter
// into a mapping the bench creates before it starts the probe.
#ifndef STARTUP_STAMPS_H
#define STARTUP_STAMPS_H

#include <windows.h>

enum StartupPhase {
    STAMP_FIRST_CODE,        // the program's first static initialiser: its DLLs are loaded
    STAMP_WINMAIN,           // the entry function begins
    STAMP_CLASS_REGISTERED,  // the window class is registered (icons and cursor loaded)
    STAMP_COMCTL_START,      // inside window creation, before InitCommonControls
    STAMP_COMCTL_END,
    STAMP_DIALOG_START,      // before CreateDialogParamA
    STAMP_BITMAPS_START,     // before the first LoadBitmapA
    STAMP_BITMAPS_END,       // after the last LoadBitmapA
    STAMP_INITDIALOG_END,    // the panel's own WM_INITDIALOG handling returned
    STAMP_DIALOG_END,        // CreateDialogParamA returned
    STAMP_FIRST_WRITE,       // before the first port write
    STAMP_COUNT
};

constexpr char STARTUP_STAMPS_NAME[] = "Local\\TravekStartupStamps";

struct StartupStamps {
    LONG64 ticks[STAMP_COUNT];  // 0: not reached
};

#endif
