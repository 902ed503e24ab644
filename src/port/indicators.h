// The thirteen indicators of the control panel (eight output LEDs mirroring
// D0 to D7, five sensor lamps) and the operations that write the data lines.
#ifndef INDICATORS_H
#define INDICATORS_H

#include <windows.h>
#include "slots.h"

struct IndicatorImageSet {
    HBITMAP ledOff;        // IDB_LED_OFF, dark red LED
    HBITMAP ledOn;         // IDB_LED_ON, bright red LED
    HBITMAP sensorActive;  // IDB_SENSOR_ACTIVE, blue dot
    HBITMAP sensorIdle;    // IDB_SENSOR_IDLE, plain dark square
};

// Base-2 digits, least significant first, as '0' and '1'; never empty.
struct BinaryDigits {
    char text[17];
};

extern HWND IndicatorButtons[INDICATOR_SLOTS];             // bitmap buttons by slot
extern IndicatorImageSet IndicatorImages;                   // the four pictures
extern unsigned char ExtinguishFlags[OUTPUT_SLOTS];         // 1: shown unlit at every tick

// The picture each indicator shows in the model, in the order the operations
// change them; the buttons are given it by SendPicture.
extern HBITMAP IndicatorPictures[INDICATOR_SLOTS];

// The picture each slot's button was last given, and that button: a picture
// already shown is not set again.
struct ShownPicture {
    HWND button;
    HBITMAP image;
};
extern ShownPicture ShownPictures[INDICATOR_SLOTS];

// The model's calls into the window system: the pictures of the indicators,
// the status box's text, the delay slider's position, and the timers of
// MainWindow (StartMainTimer returns what SetTimer returned).
void ShowIndicator(int slot, HBITMAP image);
void ShowStatusText(const char* text);
LRESULT DelaySliderPosition();
UINT_PTR StartMainTimer(UINT_PTR timer, UINT periodMs);
void StopMainTimer(UINT_PTR timer);
void ClearOutputs();
void ShowSensorsIdle();
void WriteOutputs(short port, short value);
BinaryDigits ToBinaryDigits(short value);
void ExtinguishTick();

#endif
