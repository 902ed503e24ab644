// Polling of the status register and the sensor lamps.
#include "effects.h"
#include "handles.h"
#include "indicators.h"
#include "port.h"
#include "resource.h"
#include <stdio.h>
#include <string.h>

short LastStatusValue;  // the status register as last polled; only the poll reads it

struct SensorCode {
    short value;  // the whole status value with exactly one input pulled low
    int slot;     // the lamp it lights
};

static const SensorCode SENSOR_CODES[] = {
    { 119, 8 },   // 0x77 nError (pin 15): "Capteur 1"
    { 111, 9 },   // 0x6F Select (pin 13): "Capteur 2"
    { 95, 10 },   // 0x5F PaperOut (pin 12): "Capteur 3"
    { 255, 11 },  // 0xFF Busy (pin 11, inverted): "Capteur 4"
    { 63, 12 },   // 0x3F nAck (pin 10): "Capteur 5"
};

// Shows the status value at every poll; lights a lamp only for an exact match
// of the whole value, after showing all five idle.
void PollSensors()
{
    LastStatusValue = PortRead(STATUS_PORT);
    char text[32];
    memset(text, 0, sizeof(text));
    snprintf(text, sizeof(text), "%d", static_cast<int>(LastStatusValue));
    SetDlgItemTextA(ControlPanel, IDC_STATUS_BOX, text);
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
