// Control panel: binds the indicator model to the panel's controls, sets up
// the delay slider, and turns every button click into an output operation.
#include <windows.h>
#include <commctrl.h>
#include <string.h>
#include "effects.h"
#include "handles.h"
#include "indicators.h"
#include "panel.h"
#include "port.h"
#include "resource.h"

UINT_PTR ExtinguishTimer;
static WNDPROC GroundProc;  // the white rectangle's own window procedure

static void ReportError(const char* text)
{
    MessageBoxA(nullptr, text, "Erreur", MB_OK);
}

static HBITMAP LoadIndicatorBitmap(int id)
{
    HBITMAP bitmap = LoadBitmapA(Instance, MAKEINTRESOURCEA(id));
    if (!bitmap)
        ReportError("Impossible d'initialiser une ressource bitmap");
    return bitmap;
}

static void InitialisePanel(HWND dialog)
{
    DelaySlider = GetDlgItem(dialog, IDC_DELAY_SLIDER);
    if (!DelaySlider)
        ReportError("Impossible d'initialiser le composant de selection d'intervalle de temps");
    SendMessageA(DelaySlider, TBM_SETRANGEMAX, TRUE, MAX_STEP_DELAY);
    SendMessageA(DelaySlider, TBM_SETRANGEMIN, TRUE, MIN_STEP_DELAY);
    SendMessageA(DelaySlider, TBM_SETPOS, TRUE, INITIAL_STEP_DELAY);
    StatusBox = GetDlgItem(dialog, IDC_STATUS_BOX);

    for (int slot = 0; slot < INDICATOR_SLOTS; ++slot) {
        IndicatorButtons[slot] = GetDlgItem(dialog, SLOT_CONTROLS[slot]);
        if (!IndicatorButtons[slot])
            ReportError("Impossible d'obtenir une information sur un bouton");
    }

    IndicatorImages.ledOff = LoadIndicatorBitmap(IDB_LED_OFF);
    IndicatorImages.ledOn = LoadIndicatorBitmap(IDB_LED_ON);
    IndicatorImages.sensorActive = LoadIndicatorBitmap(IDB_SENSOR_ACTIVE);
    IndicatorImages.sensorIdle = LoadIndicatorBitmap(IDB_SENSOR_IDLE);

    for (int slot = 0; slot < OUTPUT_SLOTS; ++slot) {
        ShowIndicator(slot, IndicatorImages.ledOff);
        ExtinguishFlags[slot] = 0;
    }
    ExtinguishTimer = SetTimer(GetParent(dialog), TIMER_EXTINGUISH, EXTINGUISH_PERIOD_MS, nullptr);
    for (int slot = FIRST_SENSOR_SLOT; slot < INDICATOR_SLOTS; ++slot)
        ShowIndicator(slot, IndicatorImages.sensorIdle);
}

// Sets one data line; the LED stays lit, as the line does.
static void SetSingleLine(int bit)
{
    ClearOutputs();
    WriteOutputs(DATA_PORT, static_cast<short>(1 << bit));
}

// The typed number modulo 65536, computed exactly however many digits there are.
static unsigned short DecimalModulo65536(const char* digits)
{
    unsigned value = 0;
    for (const char* p = digits; *p; ++p)
        value = (value * 10 + static_cast<unsigned>(*p - '0')) & 0xFFFF;
    return static_cast<unsigned short>(value);
}

static void SendTypedNumber()
{
    char text[32];
    memset(text, 0, sizeof(text));
    GetDlgItemTextA(ControlPanel, IDC_NUMBER_BOX, text, sizeof(text));
    for (size_t i = 0; i < strlen(text); ++i) {
        if (text[i] < '0' || text[i] > '9') {
            MessageBoxA(nullptr, "Veuillez entrer un nombre valide", "Chiffre incorrect", MB_OK);
            return;  // a refused number writes nothing
        }
    }
    WriteOutputs(DATA_PORT, static_cast<short>(DecimalModulo65536(text)));
}

static void OnPanelCommand(WORD command)
{
    switch (command) {
    case IDC_RESET:
        ClearOutputs();
        break;
    case IDC_LED1:
        SetSingleLine(0);
        break;
    case IDC_LED2:
    case IDC_LED3:
    case IDC_LED4:
    case IDC_LED5:
    case IDC_LED6:
    case IDC_LED7:
    case IDC_LED8:
        SetSingleLine(command - IDC_LED2 + 1);  // LED 2 to LED 8: bits 1 to 7
        break;
    case IDC_K2000:
        StartK2000();
        break;
    case IDC_CHENILLARD:
        StartChenillard();
        break;
    case IDC_FONTAINE:
        RunFontaine();
        break;
    case IDC_STOP:
        StopEffects();
        break;
    case IDC_SEND:
        SendTypedNumber();
        break;
    }
}

INT_PTR CALLBACK ControlPanelProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        InitialisePanel(dialog);
        return TRUE;
    case WM_COMMAND:
        OnPanelCommand(LOWORD(wParam));
        return TRUE;
    }
    return FALSE;
}

// After the ground has painted, the controls that lie on it paint again, so
// that they are drawn over it whatever order the system paints siblings in.
static LRESULT CALLBACK GroundPaintProc(HWND ground, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message != WM_PAINT)
        return CallWindowProcA(GroundProc, ground, message, wParam, lParam);
    RECT dirty;
    if (!GetUpdateRect(ground, &dirty, FALSE))
        return CallWindowProcA(GroundProc, ground, message, wParam, lParam);
    LRESULT result = CallWindowProcA(GroundProc, ground, message, wParam, lParam);
    HWND panel = GetParent(ground);
    MapWindowPoints(ground, panel, reinterpret_cast<POINT*>(&dirty), 2);
    for (HWND c = GetWindow(ground, GW_HWNDPREV); c; c = GetWindow(c, GW_HWNDPREV)) {
        RECT rc, overlap;
        GetWindowRect(c, &rc);
        MapWindowPoints(nullptr, panel, reinterpret_cast<POINT*>(&rc), 2);
        if (IntersectRect(&overlap, &rc, &dirty)) {
            MapWindowPoints(panel, c, reinterpret_cast<POINT*>(&overlap), 2);
            RedrawWindow(c, &overlap, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME);
        }
    }
    return result;
}

void KeepGroundBeneathControls(HWND panel)
{
    for (HWND c = GetWindow(panel, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
        char cls[16];
        LONG style = GetWindowLongA(c, GWL_STYLE);
        if (GetClassNameA(c, cls, sizeof(cls)) && lstrcmpiA(cls, "Static") == 0 &&
            (style & SS_TYPEMASK) == SS_WHITERECT) {
            GroundProc = reinterpret_cast<WNDPROC>(
                SetWindowLongPtrA(c, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(GroundPaintProc)));
            return;
        }
    }
}
