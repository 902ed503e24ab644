// Indicator model and output writes.
#include "indicators.h"
#include "port.h"
#include "handles.h"
#include "resource.h"
#include <commctrl.h>

HWND IndicatorButtons[INDICATOR_SLOTS];
IndicatorImageSet IndicatorImages;
unsigned char ExtinguishFlags[OUTPUT_SLOTS];
HBITMAP IndicatorPictures[INDICATOR_SLOTS];
ShownPicture ShownPictures[INDICATOR_SLOTS];

// Gives the slot's button the model's picture. Setting a picture makes the
// button repaint, which is most of the cost of a write: a picture the button
// already shows is left alone.
static void SendPicture(int slot)
{
    HWND button = IndicatorButtons[slot];
    HBITMAP image = IndicatorPictures[slot];
    ShownPicture& shown = ShownPictures[slot];
    if (button && shown.button == button && shown.image == image)
        return;
    SendMessageA(button, BM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(image));
    shown.button = button;
    shown.image = image;
}

void ShowIndicator(int slot, HBITMAP image)
{
    IndicatorPictures[slot] = image;
    SendPicture(slot);
}

// What SetDlgItemTextA does, without looking the box up among the panel's
// controls at every poll (a round trip to the window server under Wine).
void ShowStatusText(const char* text)
{
    SendMessageA(StatusBox, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
}

// 0 without a slider.
LRESULT DelaySliderPosition()
{
    return SendMessageA(DelaySlider, TBM_GETPOS, 0, 0);
}

UINT_PTR StartMainTimer(UINT_PTR timer, UINT periodMs)
{
    return SetTimer(MainWindow, timer, periodMs, nullptr);
}

void StopMainTimer(UINT_PTR timer)
{
    KillTimer(MainWindow, timer);
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

// Clears the outputs and shows the value's bits in the model, writes the
// value, then hands the changed pictures to the buttons. Each LED is given its
// final picture at once: one that stays lit is not shown unlit in between.
//
// Sending the pictures after the value keeps the data lines low only for the
// time of the model's update. No one but the wire can tell: a button paints,
// and a message from another thread or process reaches it, only when this
// thread next reads its queue, which is after this function has returned.
void WriteOutputs(short port, short value)
{
    BinaryDigits digits = ToBinaryDigits(value);
    PortWrite(DATA_PORT, 0);
    bool ended = false;  // past the last digit: the remaining LEDs are unlit
    for (int i = 0; i < OUTPUT_SLOTS; ++i) {
        ended = ended || digits.text[i] == '\0';
        bool lit = !ended && digits.text[i] == '1';
        IndicatorPictures[i] = lit ? IndicatorImages.ledOn : IndicatorImages.ledOff;
        ExtinguishFlags[i] = 0;
    }
    PortWrite(port, value);
    for (int i = 0; i < OUTPUT_SLOTS; ++i)
        SendPicture(i);
}

void ExtinguishTick()
{
    for (int i = 0; i < OUTPUT_SLOTS; ++i) {
        if (ExtinguishFlags[i] == 1)
            ShowIndicator(i, IndicatorImages.ledOff);
    }
}
