// The status values that light a sensor lamp: the whole value read from the
// status register with exactly one input pulled low (bits 0 to 2 read 1).
#ifndef SENSORCODES_H
#define SENSORCODES_H

#include "slots.h"

struct SensorCode {
    short value;  // the whole status value with exactly one input pulled low
    int slot;     // the lamp it lights
};

inline constexpr SensorCode SENSOR_CODES[SENSOR_SLOTS] = {
    { 119, 8 },   // 0x77 nError (pin 15): "Capteur 1"
    { 111, 9 },   // 0x6F Select (pin 13): "Capteur 2"
    { 95, 10 },   // 0x5F PaperOut (pin 12): "Capteur 3"
    { 255, 11 },  // 0xFF Busy (pin 11, inverted): "Capteur 4"
    { 63, 12 },   // 0x3F nAck (pin 10): "Capteur 5"
};

#endif
