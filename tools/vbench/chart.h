// Strip chart of the data lines D0 to D7, drawn from the bench's trace like a
// logic analyser: one lane per line, D0 at the top, time running to the right.
#ifndef CHART_H
#define CHART_H

#include <windows.h>
#include <stdint.h>
#include "trace.h"

constexpr COLORREF CHART_BACKGROUND = RGB(12, 16, 20);
constexpr COLORREF CHART_TRACE = RGB(40, 230, 110);
constexpr COLORREF CHART_CURSOR = RGB(250, 210, 40);
constexpr COLORREF CHART_NO_DATA = RGB(34, 38, 46);  // after the last moment known

constexpr int CHART_LANES = 8;

struct ChartView {
    int64_t endTicks;     // time at the right edge of the plot
    int64_t spanTicks;    // time across the plot
    int64_t limitTicks;   // last moment known (now, or the moment the chart was frozen)
    bool hasCursor;       // a marker is shown at cursorTicks; time labels count from it
    int64_t cursorTicks;
    int64_t frequency;    // ticks per second
};

struct ChartLayout {
    RECT plot;       // the lanes, without the labels and the time axis
    int laneHeight;
};

ChartLayout ChartLayoutFor(const RECT& area);
int LaneHighY(const ChartLayout& layout, int lane);
int LaneLowY(const ChartLayout& layout, int lane);
// Column of the plot at which a moment is drawn (may lie outside the plot).
int ChartX(const ChartLayout& layout, const ChartView& view, int64_t ticks);
// Moment shown at column x.
int64_t ChartTicksAt(const ChartLayout& layout, const ChartView& view, int x);

// Draws the chart into area; the caller's font is used for the labels.
void DrawStripChart(HDC dc, const RECT& area, const DataTrace& trace, const ChartView& view);

#endif
