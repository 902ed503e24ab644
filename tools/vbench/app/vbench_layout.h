// Where the virtual bench draws and places things in its client area, in
// pixels. The painting and the controls both read from here.
#ifndef VBENCH_LAYOUT_H
#define VBENCH_LAYOUT_H

#include <windows.h>

constexpr int CLIENT_WIDTH = 760;
constexpr int CLIENT_HEIGHT = 640;

// The three framed groups, top to bottom, and the chart inside the last.
constexpr RECT LED_GROUP = { 10, 8, 750, 136 };
constexpr RECT SWITCH_GROUP = { 10, 146, 750, 282 };
constexpr RECT CHART_GROUP = { 10, 292, 750, 606 };
constexpr RECT CHART_AREA = { 20, 314, 740, 566 };
constexpr int GROUP_FRAME_DROP = 7;    // the frame starts half a text line below the title
constexpr int GROUP_TITLE_INDENT = 10;

// The LEDs: a row of circles with their names above and their pins below.
constexpr int LED_FIRST_X = 58;        // centre of D0
constexpr int LED_Y = 64;              // centre of the LEDs
constexpr int LED_RADIUS = 17;
constexpr int LED_PITCH = 90;
constexpr RECT LED_SHINE = { -8, -10, -1, -4 };  // the highlight of a lit LED, from its centre
constexpr int LED_NAME_GAP = 20;       // from the top of a LED up to its name
constexpr int LED_PIN_GAP = 4;         // from the bottom of a LED down to its pin

// Lines of text at the left of the groups.
constexpr int TEXT_LEFT = 26;
constexpr int DATA_REGISTER_Y = 108;
constexpr int STATUS_REGISTER_Y = 248;
constexpr int PORT_INFO_Y = 264;

// The switches: push-like buttons in a row, their levels written below them.
constexpr int SWITCH_LEFT = 26;
constexpr int SWITCH_Y = 170;
constexpr int SWITCH_PITCH = 146;
constexpr int SWITCH_WIDTH = 130;
constexpr int SWITCH_HEIGHT = 36;
constexpr int SWITCH_LEVEL_X = 65;     // centre of the level text, from the switch's left
constexpr int SWITCH_LEVEL_DY = 42;    // top of the level text, from the switch's top

// The row of chart controls under the chart.
constexpr int CONTROL_ROW_Y = 574;
constexpr int CONTROL_HEIGHT = 26;
constexpr RECT ZOOM_IN_BUTTON = { 20, CONTROL_ROW_Y, 98, CONTROL_ROW_Y + CONTROL_HEIGHT };
constexpr RECT ZOOM_OUT_BUTTON = { 104, CONTROL_ROW_Y, 182, CONTROL_ROW_Y + CONTROL_HEIGHT };
constexpr RECT FREEZE_BOX = { 192, CONTROL_ROW_Y, 262, CONTROL_ROW_Y + CONTROL_HEIGHT };
constexpr RECT SAVE_BUTTON = { 570, CONTROL_ROW_Y, 740, CONTROL_ROW_Y + CONTROL_HEIGHT };
constexpr int ZOOM_TEXT_X = 270;
constexpr int ZOOM_TEXT_DY = 5;        // the zoom text sits level with the buttons' captions

// The bottom line: the test bench, the count of writes and the last notice.
constexpr int BOTTOM_TEXT_X = 14;
constexpr int BOTTOM_LINE_Y = 616;
constexpr RECT BOTTOM_LINE = { 0, BOTTOM_LINE_Y - 4, CLIENT_WIDTH, CLIENT_HEIGHT };

#endif
