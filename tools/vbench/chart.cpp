#include "chart.h"
#include <math.h>
#include <stdio.h>
#include <string.h>
#include <vector>

constexpr int LABEL_WIDTH = 58;  // lane names on the left
constexpr int AXIS_HEIGHT = 18;  // time labels at the bottom
constexpr int LANE_MARGIN = 4;   // between a lane's levels and its borders
constexpr COLORREF GRID = RGB(44, 52, 60);
constexpr COLORREF LABEL = RGB(190, 200, 210);

ChartLayout ChartLayoutFor(const RECT& area)
{
    ChartLayout l;
    l.plot.left = area.left + LABEL_WIDTH;
    l.plot.top = area.top + 2;
    l.plot.right = area.right - 4;
    l.plot.bottom = area.bottom - AXIS_HEIGHT;
    if (l.plot.right <= l.plot.left)
        l.plot.right = l.plot.left + 1;
    if (l.plot.bottom <= l.plot.top)
        l.plot.bottom = l.plot.top + CHART_LANES;
    l.laneHeight = (l.plot.bottom - l.plot.top) / CHART_LANES;
    if (l.laneHeight < 1)
        l.laneHeight = 1;
    return l;
}

int LaneHighY(const ChartLayout& l, int lane)
{
    int margin = l.laneHeight > 3 * LANE_MARGIN ? LANE_MARGIN : 0;
    return l.plot.top + lane * l.laneHeight + margin;
}

int LaneLowY(const ChartLayout& l, int lane)
{
    int margin = l.laneHeight > 3 * LANE_MARGIN ? LANE_MARGIN : 0;
    return l.plot.top + (lane + 1) * l.laneHeight - 1 - margin;
}

static int PlotWidth(const ChartLayout& l)
{
    return l.plot.right - l.plot.left;
}

int ChartX(const ChartLayout& l, const ChartView& v, int64_t ticks)
{
    if (v.spanTicks <= 0)
        return l.plot.right;
    double offset = static_cast<double>(ticks - (v.endTicks - v.spanTicks));
    double x = offset * PlotWidth(l) / static_cast<double>(v.spanTicks);
    if (x < -1.0)
        x = -1.0;
    if (x > PlotWidth(l) + 1.0)
        x = PlotWidth(l) + 1.0;
    return l.plot.left + static_cast<int>(floor(x));
}

int64_t ChartTicksAt(const ChartLayout& l, const ChartView& v, int x)
{
    double offset = static_cast<double>(x - l.plot.left) * static_cast<double>(v.spanTicks) / PlotWidth(l);
    return v.endTicks - v.spanTicks + static_cast<int64_t>(offset);
}

// What the entries do inside each column of the plot.
struct Columns {
    std::vector<unsigned char> touched;  // the column holds at least one write
    std::vector<unsigned char> toggled;  // lines that changed inside the column
    std::vector<unsigned char> exit;     // data value at the end of the column
};

// Fills the columns from the entries between the left edge and the last
// moment shown. Returns the data value at the left edge, or -1 if unknown.
static int CollectColumns(const DataTrace& trace, const ChartLayout& l, const ChartView& v,
                          int64_t lastShown, Columns& c)
{
    int width = PlotWidth(l);
    c.touched.assign(width, 0);
    c.toggled.assign(width, 0);
    c.exit.assign(width, 0);
    int64_t start = v.endTicks - v.spanTicks;
    size_t i = TraceFirstAfter(trace, start);
    int atStart = i > 0 ? TraceAt(trace, i - 1).value & 0xFF : trace.initialData;
    int value = atStart;
    size_t n = TraceSize(trace);
    for (; i < n; ++i) {
        const JournalWrite& w = TraceAt(trace, i);
        if (w.ticks > lastShown)
            break;
        int x = ChartX(l, v, w.ticks) - l.plot.left;
        if (x < 0)
            x = 0;
        if (x >= width)
            x = width - 1;
        int next = w.value & 0xFF;
        if (value >= 0)
            c.toggled[x] |= static_cast<unsigned char>(value ^ next);
        c.touched[x] = 1;
        c.exit[x] = static_cast<unsigned char>(next);
        value = next;
    }
    return atStart;
}

static void DrawLane(HDC dc, const ChartLayout& l, const Columns& c, int lane, int atStart, int lastX)
{
    int width = PlotWidth(l);
    int yHigh = LaneHighY(l, lane), yLow = LaneLowY(l, lane);
    std::vector<POINT> pts;
    int level = atStart < 0 ? -1 : (atStart >> lane) & 1;
    if (level >= 0)
        pts.push_back({ l.plot.left, level ? yHigh : yLow });
    for (int x = 0; x < width && l.plot.left + x <= lastX; ++x) {
        if (!c.touched[x])
            continue;
        int X = l.plot.left + x;
        int next = (c.exit[x] >> lane) & 1;
        if (level < 0) {
            pts.push_back({ X, next ? yHigh : yLow });
        } else if (c.toggled[x] & (1 << lane)) {
            pts.push_back({ X, level ? yHigh : yLow });
            pts.push_back({ X, level ? yLow : yHigh });
            pts.push_back({ X, next ? yHigh : yLow });
        }
        level = next;
    }
    if (level < 0)
        return;
    pts.push_back({ lastX + 1, level ? yHigh : yLow });
    Polyline(dc, pts.data(), static_cast<int>(pts.size()));
}

// Grid step in microseconds: 1, 2 or 5 times a power of ten, about eight per plot.
static int64_t GridStepUs(int64_t spanUs)
{
    int64_t step = 1;
    for (;;) {
        for (int m : { 1, 2, 5 }) {
            if (spanUs / (step * m) <= 8)
                return step * m;
        }
        step *= 10;
    }
}

// "-1,5 ms": the offset in the unit that suits the span, French decimals.
static void FormatOffset(char* buf, size_t size, int64_t us, int64_t spanUs)
{
    const char* unit = "\xB5s";
    int64_t div = 1;
    if (spanUs >= 2000000) {
        unit = "s";
        div = 1000000;
    } else if (spanUs >= 2000) {
        unit = "ms";
        div = 1000;
    }
    const char* sign = us > 0 ? "+" : us < 0 ? "-" : "";
    int64_t magnitude = us < 0 ? -us : us;
    int64_t whole = magnitude / div, rest = magnitude % div;
    if (rest == 0) {
        snprintf(buf, size, "%s%lld %s", sign, static_cast<long long>(whole), unit);
        return;
    }
    int digits = div == 1000000 ? 6 : 3;
    while (rest % 10 == 0) {
        rest /= 10;
        --digits;
    }
    snprintf(buf, size, "%s%lld,%0*lld %s", sign, static_cast<long long>(whole), digits,
             static_cast<long long>(rest), unit);
}

static void DrawGrid(HDC dc, const RECT& area, const ChartLayout& l, const ChartView& v)
{
    HPEN grid = CreatePen(PS_SOLID, 1, GRID);
    HGDIOBJ old = SelectObject(dc, grid);
    for (int lane = 0; lane <= CHART_LANES; ++lane) {
        int y = l.plot.top + lane * l.laneHeight;
        MoveToEx(dc, l.plot.left, y, nullptr);
        LineTo(dc, l.plot.right, y);
    }
    SetTextColor(dc, LABEL);
    SetBkMode(dc, TRANSPARENT);
    char text[32];
    for (int lane = 0; lane < CHART_LANES; ++lane) {
        int len = snprintf(text, sizeof(text), "D%d (%d)", lane, lane + 2);
        TextOutA(dc, area.left + 4, l.plot.top + lane * l.laneHeight + (l.laneHeight - 14) / 2, text, len);
    }
    if (v.frequency > 0 && v.spanTicks > 0) {
        int64_t spanUs = v.spanTicks * 1000000 / v.frequency;
        if (spanUs < 1)
            spanUs = 1;
        int64_t stepUs = GridStepUs(spanUs);
        int64_t ref = v.hasCursor ? v.cursorTicks : v.endTicks;
        int64_t startUs = (v.endTicks - v.spanTicks - ref) * 1000000 / v.frequency;
        int64_t endUs = (v.endTicks - ref) * 1000000 / v.frequency;
        int64_t k = startUs / stepUs - 1;
        SetTextAlign(dc, TA_CENTER | TA_TOP);
        for (int64_t us = k * stepUs; us <= endUs + stepUs; us += stepUs) {
            int x = ChartX(l, v, ref + us * v.frequency / 1000000);
            if (x < l.plot.left || x > l.plot.right)
                continue;
            MoveToEx(dc, x, l.plot.top, nullptr);
            LineTo(dc, x, l.plot.bottom);
            FormatOffset(text, sizeof(text), us, spanUs);
            int len = static_cast<int>(strlen(text));
            SIZE extent;
            GetTextExtentPoint32A(dc, text, len, &extent);
            int tx = x;
            if (tx + extent.cx / 2 > area.right - 2)
                tx = area.right - 2 - extent.cx / 2;
            TextOutA(dc, tx, l.plot.bottom + 2, text, len);
        }
        SetTextAlign(dc, TA_LEFT | TA_TOP);
    }
    SelectObject(dc, old);
    DeleteObject(grid);
}

void DrawStripChart(HDC dc, const RECT& area, const DataTrace& trace, const ChartView& view)
{
    HBRUSH back = CreateSolidBrush(CHART_BACKGROUND);
    FillRect(dc, &area, back);
    DeleteObject(back);
    ChartLayout l = ChartLayoutFor(area);
    int64_t lastShown = view.limitTicks < view.endTicks ? view.limitTicks : view.endTicks;
    int lastX = ChartX(l, view, lastShown);
    if (lastX >= l.plot.right)
        lastX = l.plot.right - 1;
    if (lastX + 1 < l.plot.right) {
        RECT unknown = { lastX + 1 < l.plot.left ? l.plot.left : lastX + 1, l.plot.top, l.plot.right,
                         l.plot.bottom };
        HBRUSH shade = CreateSolidBrush(CHART_NO_DATA);
        FillRect(dc, &unknown, shade);
        DeleteObject(shade);
    }
    DrawGrid(dc, area, l, view);
    if (lastX >= l.plot.left && view.spanTicks > 0) {
        Columns c;
        int atStart = CollectColumns(trace, l, view, lastShown, c);
        HPEN pen = CreatePen(PS_SOLID, 1, CHART_TRACE);
        HGDIOBJ old = SelectObject(dc, pen);
        for (int lane = 0; lane < CHART_LANES; ++lane)
            DrawLane(dc, l, c, lane, atStart, lastX);
        SelectObject(dc, old);
        DeleteObject(pen);
    }
    if (view.hasCursor) {
        int x = ChartX(l, view, view.cursorTicks);
        if (x >= l.plot.left && x < l.plot.right) {
            HPEN pen = CreatePen(PS_DOT, 1, CHART_CURSOR);
            HGDIOBJ old = SelectObject(dc, pen);
            MoveToEx(dc, x, l.plot.top, nullptr);
            LineTo(dc, x, l.plot.bottom);
            SelectObject(dc, old);
            DeleteObject(pen);
        }
    }
}
