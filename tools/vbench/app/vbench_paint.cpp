// The virtual bench's painting: the LEDs, the switches' levels, the strip
// chart and the bottom line, drawn from the state in vbench_state.h at the
// places named in vbench_layout.h.
#include <windows.h>
#include <stdio.h>
#include <string>
#include "chart.h"
#include "vbench_layout.h"
#include "vbench_state.h"

constexpr int FIRST_DATA_PIN = 2;                     // D0 is on pin 2
constexpr unsigned long REGISTER_MASK = 0xFFFF;       // a port value as the library passes it
constexpr COLORREF LED_LIT = RGB(255, 48, 32);
constexpr COLORREF LED_DARK = RGB(92, 24, 18);
constexpr COLORREF LED_SHINE_COLOUR = RGB(255, 190, 170);
constexpr COLORREF LED_RIM = RGB(50, 16, 12);
constexpr COLORREF LOW_LEVEL_TEXT = RGB(180, 30, 20);  // an input pulled low

static HDC BackDC;          // memory DC of the double buffer
static HBITMAP BackBitmap;  // the client-sized bitmap selected into BackDC

static void FillWith(HDC dc, const RECT& r, COLORREF colour)
{
    HBRUSH brush = CreateSolidBrush(colour);
    FillRect(dc, &r, brush);
    DeleteObject(brush);
}

static void Text(HDC dc, int x, int y, const std::string& s)
{
    TextOutA(dc, x, y, s.c_str(), static_cast<int>(s.size()));
}

static void CentredText(HDC dc, int x, int y, const std::string& s)
{
    SetTextAlign(dc, TA_CENTER | TA_TOP);
    Text(dc, x, y, s);
    SetTextAlign(dc, TA_LEFT | TA_TOP);
}

static void DrawGroup(HDC dc, const RECT& r, const char* title)
{
    RECT frame = { r.left, r.top + GROUP_FRAME_DROP, r.right, r.bottom };
    DrawEdge(dc, &frame, EDGE_ETCHED, BF_RECT);
    SetBkMode(dc, OPAQUE);
    SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
    Text(dc, r.left + GROUP_TITLE_INDENT, r.top, std::string(" ") + title + " ");
    SetBkMode(dc, TRANSPARENT);
}

// "165   0xA5   1010 0101"
static std::string RegisterText(long value)
{
    char buf[64];
    snprintf(buf, sizeof(buf), "%ld   0x%02lX   ", value, static_cast<unsigned long>(value) & REGISTER_MASK);
    return buf + ByteBits(static_cast<unsigned>(value) & DATA_MASK);
}

static void DrawLeds(HDC dc)
{
    DrawGroup(dc, LED_GROUP, "Lignes de données D0 à D7 (broches 2 à 9)");
    HBRUSH lit = CreateSolidBrush(LED_LIT);
    HBRUSH dark = CreateSolidBrush(LED_DARK);
    HBRUSH shine = CreateSolidBrush(LED_SHINE_COLOUR);
    HPEN rim = CreatePen(PS_SOLID, 1, LED_RIM);
    HGDIOBJ oldPen = SelectObject(dc, rim);
    HGDIOBJ oldBrush = SelectObject(dc, dark);
    for (int bit = 0; bit < DATA_LINES; ++bit) {
        int x = LED_FIRST_X + bit * LED_PITCH;
        bool on = (ShownData >> bit) & 1;
        SelectObject(dc, on ? lit : dark);
        Ellipse(dc, x - LED_RADIUS, LED_Y - LED_RADIUS, x + LED_RADIUS, LED_Y + LED_RADIUS);
        if (on) {
            SelectObject(dc, shine);
            Ellipse(dc, x + LED_SHINE.left, LED_Y + LED_SHINE.top, x + LED_SHINE.right, LED_Y + LED_SHINE.bottom);
        }
        char label[16];
        snprintf(label, sizeof(label), "D%d", bit);
        CentredText(dc, x, LED_Y - LED_RADIUS - LED_NAME_GAP, label);
        snprintf(label, sizeof(label), "broche %d", bit + FIRST_DATA_PIN);
        CentredText(dc, x, LED_Y + LED_RADIUS + LED_PIN_GAP, label);
    }
    SelectObject(dc, oldBrush);
    SelectObject(dc, oldPen);
    DeleteObject(lit);
    DeleteObject(dark);
    DeleteObject(shine);
    DeleteObject(rim);
    Text(dc, TEXT_LEFT, DATA_REGISTER_Y, "Registre de données (0x378) :   " + RegisterText(ShownData));
}

static std::string SensorText(int32_t status)
{
    if (status == STATUS_RELEASED)
        return "au repos";
    int sensor = SensorForStatus(status);
    if (sensor == 0)
        return "aucun capteur reconnu";
    return "allume « Capteur " + std::to_string(sensor) + " » sur le banc de test";
}

static void DrawSwitchLevels(HDC dc)
{
    DrawGroup(dc, SWITCH_GROUP, ShownPort.real ? "Entrées d'état lues sur le port réel (interrupteurs en lecture seule)"
                                               : "Entrées d'état (interrupteur enfoncé : entrée à la masse)");
    for (int i = 0; i < INPUT_COUNT; ++i) {
        int x = SWITCH_LEFT + i * SWITCH_PITCH + SWITCH_LEVEL_X;
        bool high = InputIsHigh(CurrentStatus, i);
        SetTextColor(dc, high ? GetSysColor(COLOR_BTNTEXT) : LOW_LEVEL_TEXT);
        CentredText(dc, x, SWITCH_Y + SWITCH_LEVEL_DY, high ? "niveau haut" : "niveau bas (masse)");
    }
    SetTextColor(dc, GetSysColor(COLOR_BTNTEXT));
    Text(dc, TEXT_LEFT, STATUS_REGISTER_Y, "Registre d'état (0x379) :   " + RegisterText(CurrentStatus) + "   —   " +
                          SensorText(CurrentStatus));
    PortInfoDraw(dc, ShownPort, TEXT_LEFT, PORT_INFO_Y);
}

static std::string SpanText(int64_t us)
{
    if (us >= 1000000)
        return std::to_string(us / 1000000) + " s";
    if (us >= 1000)
        return std::to_string(us / 1000) + " ms";
    return std::to_string(us) + " \xB5s";
}

static void DrawChart(HDC dc)
{
    DrawGroup(dc, CHART_GROUP, "Chronogramme des lignes D0 à D7");
    DrawStripChart(dc, CHART_AREA, Trace, CurrentView());
    SetTextColor(dc, GetSysColor(COLOR_BTNTEXT));
    std::string line = "Fenêtre : " + SpanText(ZOOM_SPANS_US[ZoomIndex]);
    line += Frozen ? "  (figé : clic = curseur)" : "  (en direct)";
    Text(dc, ZOOM_TEXT_X, CONTROL_ROW_Y + ZOOM_TEXT_DY, line);
}

static void DrawBottomLine(HDC dc)
{
    std::string line = TestBenchRunning ? "Banc de test : lancé" : "Banc de test : pas lancé (il est suivi dès qu'il démarre)";
    line += "    Écritures suivies : " + std::to_string(Trace.appended);
    if (DroppedWrites > 0)
        line += " (perdues : " + std::to_string(DroppedWrites) + ")";
    if (!Notice.empty())
        line += "    " + Notice;
    Text(dc, BOTTOM_TEXT_X, BOTTOM_LINE_Y, line);
}

static void PaintAll(HDC dc)
{
    RECT all = { 0, 0, CLIENT_WIDTH, CLIENT_HEIGHT };
    FillWith(dc, all, GetSysColor(COLOR_BTNFACE));
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, GetSysColor(COLOR_BTNTEXT));
    DrawLeds(dc);
    DrawSwitchLevels(dc);
    DrawChart(dc);
    SetTextColor(dc, GetSysColor(COLOR_BTNTEXT));
    DrawBottomLine(dc);
}

// Draws into the back buffer, then copies the part to repaint. When only the
// chart is to be repainted, only the chart is drawn.
void PaintBench(HWND window)
{
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(window, &ps);
    if (!BackDC) {
        BackDC = CreateCompatibleDC(dc);
        BackBitmap = CreateCompatibleBitmap(dc, CLIENT_WIDTH, CLIENT_HEIGHT);
        SelectObject(BackDC, BackBitmap);
        SelectObject(BackDC, UiFont);
    }
    RECT r = ps.rcPaint, inChart;
    IntersectRect(&inChart, &r, &CHART_AREA);
    if (EqualRect(&inChart, &r)) {
        DrawStripChart(BackDC, CHART_AREA, Trace, CurrentView());
    } else {
        ShownData = CurrentData;
        PaintedWrites = Trace.appended;
        PaintAll(BackDC);
    }
    BitBlt(dc, r.left, r.top, r.right - r.left, r.bottom - r.top, BackDC, r.left, r.top, SRCCOPY);
    EndPaint(window, &ps);
    ++FrameCount;
}
