// Polling of the status register and the sensor lamps.
#include "effects.h"
#include "indicators.h"
#include "port.h"
#include "sensorcodes.h"
#include <stdio.h>
#include <string.h>

short LastStatusValue;  // the status register as last polled; only the poll reads it

// Shows the status value at every poll; lights a lamp only for an exact match
// of the whole value, after showing all five idle.
void PollSensors()
{
    LastStatusValue = PortRead(STATUS_PORT);
    char text[32];
    memset(text, 0, sizeof(text));
    snprintf(text, sizeof(text), "%d", static_cast<int>(LastStatusValue));
    ShowStatusText(text);
    for (const SensorCode& code : SENSOR_CODES) {
        if (code.value == LastStatusValue) {
            ShowSensorsIdle();
            ShowIndicator(code.slot, IndicatorImages.sensorActive);
            return;
        }
    }
}

void SensorResetTick()
{
    ShowSensorsIdle();
}
