// Light effects: each pass reads the step delay once and sleeps it after every
// write, on the GUI thread, handling no messages meanwhile.
#include "effects.h"
#include "handles.h"
#include "indicators.h"
#include "port.h"

DWORD StepDelay;        // ms after every effect step, read from the slider at each pass
UINT_PTR K2000Timer;       // what SetTimer returned for K2000; never reset
UINT_PTR ChenillardTimer;  // what SetTimer returned for Chenillard; never reset

struct FontaineStep {
    short value;     // the pair of data lines lit by this step
    int firstFlag;   // the ExtinguishFlags entries of that pair
    int secondFlag;
};

static const FontaineStep FONTAINE_STEPS[] = {
    { 24, 3, 4 },   // D3, D4: "LED 4", "LED 5"
    { 36, 2, 5 },   // D2, D5
    { 66, 1, 6 },   // D1, D6
    { 129, 0, 7 },  // D0, D7: "LED 1", "LED 8"
};

// The slider's position; 0 without a slider. A position outside the slider's
// range is held to it, so that a pass can never sleep for ever.
static DWORD ReadStepDelay()
{
    LRESULT position = DelaySliderPosition();
    if (position < 0)
        position = 0;
    if (position > static_cast<LRESULT>(MAX_STEP_DELAY))
        position = MAX_STEP_DELAY;
    StepDelay = static_cast<DWORD>(position);
    return StepDelay;
}

DWORD AscendingSweep()
{
    DWORD delay = ReadStepDelay();
    for (short v = 1; v < 129; v = static_cast<short>(v * 2)) {
        WriteOutputs(DATA_PORT, v);
        Sleep(delay);
    }
    return delay;
}

void RunK2000()
{
    DWORD delay = AscendingSweep();
    for (short v = 128;; v = static_cast<short>(v / 2)) {
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
    DWORD delay = ReadStepDelay();
    for (const FontaineStep& step : FONTAINE_STEPS) {
        WriteOutputs(DATA_PORT, step.value);
        ExtinguishFlags[step.firstFlag] = 1;
        ExtinguishFlags[step.secondFlag] = 1;
        Sleep(delay);
    }
}

void StartK2000()
{
    K2000Timer = StartMainTimer(TIMER_K2000, EFFECT_PERIOD_MS);
}

void StartChenillard()
{
    ChenillardTimer = StartMainTimer(TIMER_CHENILLARD, EFFECT_PERIOD_MS);
}

// Kills every timer that was ever started (a slot that is not 0), then drives
// all lines low. The slots keep their values.
void StopEffects()
{
    if (K2000Timer != 0)
        StopMainTimer(K2000Timer);
    if (ChenillardTimer != 0)
        StopMainTimer(ChenillardTimer);
    WriteOutputs(DATA_PORT, 0);
}
