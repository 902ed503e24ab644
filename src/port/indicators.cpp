// Indicator model and output writes.
#include "indicators.h"
#include "port.h"

HWND IndicatorButtons[INDICATOR_SLOTS];
IndicatorImageSet IndicatorImages;
unsigned char ExtinguishFlags[OUTPUT_SLOTS];

void ShowIndicator(int slot, HBITMAP image)
{
    SendMessageA(IndicatorButtons[slot], BM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(image));
}

void ClearOutputs()
{
    PortWrite(DATA_PORT, 0);
    for (int i = 0; i < OUTPUT_SLOTS; ++i) {
        ShowIndicator(i, IndicatorImages.ledOff);
        ExtinguishFlags[i] = 0;
    }
}

void ShowSensorsIdle()
{
    for (int slot = FIRST_SENSOR_SLOT; slot < INDICATOR_SLOTS; ++slot)
        ShowIndicator(slot, IndicatorImages.sensorIdle);
}

// The value is read as the 16-bit pattern the port receives, so the LEDs show
// bits 0 to 7 of every value, negative ones included.
BinaryDigits ToBinaryDigits(short value)
{
    BinaryDigits digits = {};
    unsigned q = static_cast<unsigned short>(value);
    int n = 0;
    do {
        digits.text[n++] = static_cast<char>('0' + (q & 1));
        q >>= 1;
    } while (q > 0);
    return digits;
}

void WriteOutputs(short port, short value)
{
    ClearOutputs();
    BinaryDigits digits = ToBinaryDigits(value);
    for (int i = 0; i < OUTPUT_SLOTS && digits.text[i] != '\0'; ++i) {
        if (digits.text[i] == '1')
            ShowIndicator(i, IndicatorImages.ledOn);
    }
    PortWrite(port, value);
}

void ExtinguishTick()
{
    for (int i = 0; i < OUTPUT_SLOTS; ++i) {
        if (ExtinguishFlags[i] == 1)
            ShowIndicator(i, IndicatorImages.ledOff);
    }
}
