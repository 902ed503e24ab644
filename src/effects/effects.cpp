// Light effects: each pass reads the step delay once and sleeps it after every
// write, on the GUI thread.
#include "effects.h"
#include "handles.h"
#include "indicators.h"
#include "port.h"
#include <commctrl.h>

DWORD StepDelay;
UINT_PTR TimerSlot102;
UINT_PTR TimerSlot104;

static DWORD ReadStepDelay()
{
    StepDelay = static_cast<DWORD>(SendMessageA(DelaySlider, TBM_GETPOS, 0, 0));
    return StepDelay;
}

DWORD AscendingSweep()
{
    DWORD delay = ReadStepDelay();
    for (short v = 1; v < 129; v *= 2) {
        WriteOutputs(DATA_PORT, v);
        Sleep(delay);
    }
    return delay;
}

void RunK2000()
{
    DWORD delay = AscendingSweep();
    for (short v = 128;; v /= 2) {
        WriteOutputs(DATA_PORT, v);
        Sleep(delay);
        if (v == 1)
            break;
    }
}

void RunChenillard()
{
    AscendingSweep();
}

void RunFontaine()
{
    struct Step {
        short value;
        int firstFlag, secondFlag;
    };
    static const Step steps[] = { { 24, 3, 4 }, { 36, 2, 5 }, { 66, 1, 6 }, { 129, 0, 7 } };
    DWORD delay = ReadStepDelay();
    for (const Step& step : steps) {
        WriteOutputs(DATA_PORT, step.value);
        ExtinguishFlags[step.firstFlag] = 1;
        ExtinguishFlags[step.secondFlag] = 1;
        Sleep(delay);
    }
}

void StartK2000()
{
    TimerSlot102 = SetTimer(MainWindow, TIMER_K2000, 10, nullptr);
}

void StartChenillard()
{
    TimerSlot104 = SetTimer(MainWindow, TIMER_CHENILLARD, 10, nullptr);
}

void StopEffects()
{
    if (TimerSlot102 != 0)
        KillTimer(MainWindow, TimerSlot102);
    if (TimerSlot104 != 0)
        KillTimer(MainWindow, TimerSlot104);
    WriteOutputs(DATA_PORT, 0);
}
