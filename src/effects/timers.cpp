// The handler of every timer set on MainWindow.
#include "effects.h"
#include "handles.h"
#include "indicators.h"

void DispatchTimer(WPARAM timer)
{
    switch (timer) {
    case TIMER_SENSOR_POLL:
        PollSensors();
        break;
    case TIMER_K2000:
        RunK2000();
        break;
    case TIMER_SENSOR_RESET:
        SensorResetTick();
        break;
    case TIMER_CHENILLARD:
        RunChenillard();
        break;
    case TIMER_EXTINGUISH:
        ExtinguishTick();
        break;
    }
}
