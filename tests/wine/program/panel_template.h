// The 32 items of the control panel's template, in template order, as the
// resource test expects to find them in the program file.
#ifndef PANEL_TEMPLATE_H
#define PANEL_TEMPLATE_H

#include <windows.h>
#include "resource.h"

struct PanelItem {
    int id;                 // -1 for none
    const wchar_t* cls;     // "Button", "Edit", "Static" or the trackbar's class name
    const wchar_t* caption;
    DWORD style;
    DWORD exStyle;
    short x, y, cx, cy;     // dialog units
};

constexpr int PANEL_ITEMS = 32;

static const PanelItem PANEL_TEMPLATE[PANEL_ITEMS] = {
    { IDC_RESET, L"Button", L"Reset", 0x50010000, 0x20, 180, 78, 35, 9 },
    { IDC_LED2, L"Button", L"LED 2", 0x50018080, 0x20, 95, 49, 30, 24 },
    { IDC_LED3, L"Button", L"LED 3", 0x50018080, 0x20, 130, 49, 30, 24 },
    { IDC_LED4, L"Button", L"LED 4", 0x50018080, 0x20, 165, 49, 30, 24 },
    { IDC_LED5, L"Button", L"LED 5", 0x50018080, 0x20, 200, 49, 30, 24 },
    { IDC_LED6, L"Button", L"LED 6", 0x50018080, 0x20, 235, 49, 30, 24 },
    { IDC_LED7, L"Button", L"LED 7", 0x50018080, 0x20, 270, 49, 30, 24 },
    { IDC_LED8, L"Button", L"LED 8", 0x50018080, 0x20, 305, 49, 30, 24 },
    { IDC_LED1, L"Button", L"LED 1", 0x50018080, 0x20, 60, 49, 30, 24 },
    { -1, L"Button", L"Etat des LEDs", 0x50008307, 0x20, 50, 39, 295, 54 },
    { IDC_K2000, L"Button", L"K2000", 0x50010000, 0x20, 34, 115, 60, 12 },
    { IDC_CHENILLARD, L"Button", L"Chenillard", 0x50010000, 0x20, 99, 115, 60, 12 },
    { IDC_FONTAINE, L"Button", L"Fontaine", 0x50010000, 0x20, 164, 115, 60, 12 },
    { -1, L"Button", L"Effets", 0x50008307, 0x20, 19, 95, 220, 79 },
    { IDC_SENSOR1, L"Button", L"Capteur 1", 0x50008080, 0x20, 15, 204, 35, 25 },
    { IDC_SENSOR2, L"Button", L"Capteur 2", 0x50008080, 0x20, 55, 204, 35, 25 },
    { IDC_SENSOR3, L"Button", L"Capteur 3", 0x50008080, 0x20, 95, 204, 35, 25 },
    { IDC_SENSOR4, L"Button", L"Capteur 4", 0x50008080, 0x20, 135, 204, 35, 25 },
    { IDC_SENSOR5, L"Button", L"Capteur 5", 0x50008080, 0x20, 175, 204, 35, 25 },
    { -1, L"Button", L"Capteurs", 0x50008307, 0x20, 7, 193, 213, 44 },
    { IDC_DELAY_SLIDER, L"msctls_trackbar32", L"Slider1", 0x50010019, 0x20, 39, 155, 180, 10 },
    { -1, L"Button", L"Envoi de code sur le port parallèle", 0x50008307, 0x20, 249, 95, 125, 25 },
    { IDC_NUMBER_BOX, L"Edit", L"", 0x50810081, 0x20, 264, 105, 40, 10 },
    { IDC_SEND, L"Button", L"Envoi", 0x50010000, 0x20, 314, 105, 35, 10 },
    { -1, L"Button", L"Récéption de donnée de code du port parallèle", 0x50008307, 0x20, 230, 193, 155, 24 },
    { IDC_STATUS_BOX, L"Edit", L"", 0x50010881, 0x20, 295, 204, 25, 10 },
    { -1, L"Static", L"Réglage de l'intervalle d'execution", 0x50020001, 0x20, 69, 147, 115, 10 },
    { IDC_STOP, L"Button", L"Arreter", 0x50010000, 0x20, 109, 132, 40, 10 },
    { -1, L"Button", L"LEDs", 0x50008307, 0x20, 5, 29, 385, 150 },
    { -1, L"Button", L"Capteurs", 0x50008307, 0, 0, 184, 395, 56 },
    { -1, L"Static", L"", 0x50000006, 0, 0, 0, 400, 245 },
    { -1, L"Static", L"", 0x5000000E, 0, 110, 0, 24, 21 },  // IDB_BANNER by number
};

#endif
