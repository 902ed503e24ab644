// Resource identifiers of the test bench, banded by kind: resources in the
// hundreds, the icon's one entry, controls from 1000, menu commands from 40001.
#ifndef RESOURCE_H
#define RESOURCE_H

// Resources. The numbers between them (101, 103, 109 to 113) are unused;
// the icon group is loaded by its name "Logo", not by a number.
#define IDM_MAIN                102     // menu
#define IDD_CONTROL_PANEL       104     // dialog
#define IDB_LED_ON              105     // bitmaps
#define IDB_LED_OFF             106
#define IDB_SENSOR_ACTIVE       107
#define IDB_SENSOR_IDLE         108
#define IDB_BANNER              114

// The one image of the "Logo" icon group.
#define IDI_LOGO_ENTRY          1

// Controls of the control panel, fixed by its template. "LED 2" to "LED 8"
// are 1001 to 1007 and "LED 1" is 1008, as 1000 is "Reset". There is
// no 1021: the status box is 1022.
#define IDC_RESET               1000
#define IDC_LED2                1001
#define IDC_LED3                1002
#define IDC_LED4                1003
#define IDC_LED5                1004
#define IDC_LED6                1005
#define IDC_LED7                1006
#define IDC_LED8                1007
#define IDC_LED1                1008
#define IDC_K2000               1009
#define IDC_CHENILLARD          1010
#define IDC_FONTAINE            1011
#define IDC_SENSOR1             1012
#define IDC_SENSOR2             1013
#define IDC_SENSOR3             1014
#define IDC_SENSOR4             1015
#define IDC_SENSOR5             1016
#define IDC_STOP                1017
#define IDC_DELAY_SLIDER        1018
#define IDC_NUMBER_BOX          1019
#define IDC_SEND                1020
#define IDC_STATUS_BOX          1022

// Menu commands
#define IDM_QUIT                40001
#define IDM_ABOUT               40002
#define IDM_DIAGRAM             40003

#endif
