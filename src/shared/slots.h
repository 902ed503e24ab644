// The thirteen indicator slots of the control panel and the control of each:
// slots 0 to 7 are the output LEDs of data bits 0 to 7, slots 8 to 12 the
// sensor lamps "Capteur 1" to "Capteur 5".
#ifndef SLOTS_H
#define SLOTS_H

#include "resource.h"

constexpr int OUTPUT_SLOTS = 8;        // slots 0 to 7: output LED of data bit i
constexpr int FIRST_SENSOR_SLOT = 8;   // slots 8 to 12: "Capteur 1" to "Capteur 5"
constexpr int SENSOR_SLOTS = 5;
constexpr int INDICATOR_SLOTS = OUTPUT_SLOTS + SENSOR_SLOTS;

// Controls by slot: "LED 1" (bit 0) is the template's last LED.
inline constexpr int SLOT_CONTROLS[INDICATOR_SLOTS] = {
    IDC_LED1, IDC_LED2, IDC_LED3, IDC_LED4, IDC_LED5, IDC_LED6, IDC_LED7,
    IDC_LED8, IDC_SENSOR1, IDC_SENSOR2, IDC_SENSOR3, IDC_SENSOR4, IDC_SENSOR5,
};

#endif
