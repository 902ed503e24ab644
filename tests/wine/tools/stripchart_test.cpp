// The virtual bench's strip chart, drawn into a memory DC through the real
// drawing function.
#include <gtest/gtest.h>
#include <windows.h>
#include <vector>
#include "chart.h"
#include "trace.h"
#include "tooljournal.h"

struct Canvas {
    HDC dc;
    HBITMAP bitmap;
    HGDIOBJ old;
    uint32_t* bits;
    int width, height;
};

static Canvas MakeCanvas(int width, int height)
{
    Canvas c = {};
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
    bi.bmiHeader.biWidth = width;
    bi.bmiHeader.biHeight = -height;  // top-down
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    c.bitmap = CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    c.dc = CreateCompatibleDC(nullptr);
    c.old = SelectObject(c.dc, c.bitmap);
    c.bits = static_cast<uint32_t*>(bits);
    c.width = width;
    c.height = height;
    return c;
}

static void FreeCanvas(Canvas& c)
{
    SelectObject(c.dc, c.old);
    DeleteDC(c.dc);
    DeleteObject(c.bitmap);
}

static COLORREF Pixel(const Canvas& c, int x, int y)
{
    GdiFlush();
    uint32_t p = c.bits[y * c.width + x];
    return RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF);
}

static const COLORREF SENTINEL = RGB(255, 0, 255);
static const RECT AREA = { 10, 10, 730, 262 };

// Draws on a canvas filled with the sentinel colour; fails the test if a
// pixel outside the area changed.
static void DrawChecked(Canvas& c, const DataTrace& t, const ChartView& v)
{
    for (int i = 0; i < c.width * c.height; ++i)
        c.bits[i] = 0xFF00FF;
    DrawStripChart(c.dc, AREA, t, v);
    GdiFlush();
    int outside = 0;
    for (int y = 0; y < c.height; ++y)
        for (int x = 0; x < c.width; ++x) {
            POINT p = { x, y };
            if (!PtInRect(&AREA, p) && Pixel(c, x, y) != SENTINEL)
                ++outside;
        }
    EXPECT_EQ(outside, 0);
}

static int TracePixels(const Canvas& c, const RECT& r)
{
    int n = 0;
    for (int y = r.top; y < r.bottom; ++y)
        for (int x = r.left; x < r.right; ++x)
            if (Pixel(c, x, y) == CHART_TRACE)
                ++n;
    return n;
}

static ChartView LiveView(int64_t end, int64_t spanUs)
{
    ChartView v = {};
    v.endTicks = v.limitTicks = end;
    v.spanTicks = spanUs * FREQ / 1000000;
    v.frequency = FREQ;
    return v;
}

static bool LaneShows(const Canvas& c, const ChartLayout& l, int lane, int x, bool high)
{
    return Pixel(c, x, high ? LaneHighY(l, lane) : LaneLowY(l, lane)) == CHART_TRACE;
}

TEST(StripChart, EmptyTraceDrawsNoLineUnlessTheStartValueIsKnown)
{
    Canvas c = MakeCanvas(740, 272);
    ChartLayout l = ChartLayoutFor(AREA);
    std::vector<JournalWrite> storage(16);
    DataTrace t;
    TraceReset(&t, storage.data(), storage.size(), -1);
    DrawChecked(c, t, LiveView(ORIGIN, 5000000));
    EXPECT_EQ(TracePixels(c, l.plot), 0);
    EXPECT_EQ(Pixel(c, l.plot.left + 5, l.plot.top + 10), CHART_BACKGROUND);

    TraceReset(&t, storage.data(), storage.size(), 0x05);
    DrawChecked(c, t, LiveView(ORIGIN, 5000000));
    int mid = (l.plot.left + l.plot.right) / 2;
    EXPECT_TRUE(LaneShows(c, l, 0, mid, true));
    EXPECT_TRUE(LaneShows(c, l, 1, mid, false));
    EXPECT_TRUE(LaneShows(c, l, 2, mid, true));
    EXPECT_FALSE(LaneShows(c, l, 2, mid, false));
    EXPECT_TRUE(LaneShows(c, l, 7, mid, false));
    FreeCanvas(c);
}

// A full ring (exactly its capacity) and a wrapped one (more appended than it
// holds): 0x0F and 0xF0 in alternate blocks over the five seconds shown.
TEST(StripChart, FullAndWrappedTracesDrawTheirValuesInTheRightColumns)
{
    const size_t capacity = PORTSTATE_JOURNAL_CAPACITY;
    const int64_t spanTicks = 5 * FREQ;
    const int64_t step = spanTicks / static_cast<int64_t>(capacity);
    const size_t block = 4096;
    std::vector<JournalWrite> storage(capacity);
    Canvas c = MakeCanvas(740, 272);
    ChartLayout l = ChartLayoutFor(AREA);
    for (size_t extra : { static_cast<size_t>(0), static_cast<size_t>(3 * block + 100) }) {
        SCOPED_TRACE(extra ? "wrapped" : "full");
        DataTrace t;
        TraceReset(&t, storage.data(), capacity, 0);
        size_t total = capacity + extra;
        for (size_t i = 0; i < total; ++i)
            TraceAppend(&t, At(static_cast<int64_t>(i), static_cast<int64_t>(i) * step, (i / block) % 2 ? 0xF0 : 0x0F));
        ASSERT_EQ(TraceSize(t), capacity);
        ChartView v = LiveView(ORIGIN + static_cast<int64_t>(total) * step, 5000000);
        LARGE_INTEGER f, t0, t1;
        QueryPerformanceFrequency(&f);
        QueryPerformanceCounter(&t0);
        DrawStripChart(c.dc, AREA, t, v);
        GdiFlush();
        QueryPerformanceCounter(&t1);
        printf("[ chart ] %s trace of %zu writes in view drawn in %.2f ms\n", extra ? "wrapped" : "full",
               capacity, 1000.0 * static_cast<double>(t1.QuadPart - t0.QuadPart) / static_cast<double>(f.QuadPart));
        DrawChecked(c, t, v);
        for (size_t b = extra / block + 1; b < total / block - 1; ++b) {
            int64_t middle = ORIGIN + static_cast<int64_t>(b * block + block / 2) * step;
            int x = ChartX(l, v, middle);
            bool low = (b % 2) == 0;  // 0x0F: D0 to D3 high
            for (int lane = 0; lane < 8; ++lane) {
                bool high = (lane < 4) == low;
                EXPECT_TRUE(LaneShows(c, l, lane, x, high)) << "block " << b << " lane " << lane;
                EXPECT_FALSE(LaneShows(c, l, lane, x, !high)) << "block " << b << " lane " << lane;
            }
        }
        // A change between blocks is a vertical edge from one level to the other.
        int edge = ChartX(l, v, ORIGIN + static_cast<int64_t>((total / block - 1) * block) * step);
        for (int y = LaneHighY(l, 0); y <= LaneLowY(l, 0); ++y)
            EXPECT_EQ(Pixel(c, edge, y), CHART_TRACE) << y;
        if (extra) {
            // Before the oldest write kept, the chart shows the value it replaced.
            EXPECT_EQ(t.initialData, 0xF0);
            ChartView earlier = LiveView(ORIGIN + static_cast<int64_t>(extra + 50) * step, 5000000);
            DrawChecked(c, t, earlier);
            int x = ChartX(l, earlier, ORIGIN + static_cast<int64_t>(extra / 2) * step);
            EXPECT_TRUE(LaneShows(c, l, 7, x, true));
            EXPECT_TRUE(LaneShows(c, l, 0, x, false));
        }
    }
    FreeCanvas(c);
}

// ClearOutputs then WriteOutputs: 4, a 0 of 30 us, 4 again.
TEST(StripChart, TheBriefZeroIsAnEdgeWhenWideAndAGapWhenZoomed)
{
    std::vector<JournalWrite> storage(16);
    DataTrace t;
    TraceReset(&t, storage.data(), storage.size(), 0);
    const int64_t second = FREQ;
    TraceAppend(&t, At(0, 0, 4));
    TraceAppend(&t, At(1, second, 0));
    TraceAppend(&t, At(2, second + 300, 4));
    Canvas c = MakeCanvas(740, 272);
    ChartLayout l = ChartLayoutFor(AREA);

    ChartView wide = LiveView(ORIGIN + 2 * second, 5000000);
    DrawChecked(c, t, wide);
    int x = ChartX(l, wide, ORIGIN + second);
    EXPECT_TRUE(LaneShows(c, l, 2, x, true));
    EXPECT_TRUE(LaneShows(c, l, 2, x, false));  // the dip, as a line from high to low and back
    EXPECT_FALSE(LaneShows(c, l, 2, x + 3, false));
    EXPECT_FALSE(LaneShows(c, l, 2, x - 3, false));

    ChartView zoomed = LiveView(ORIGIN + second + 700, 100);  // 100 us, the zero from 30 % to 60 %
    zoomed.limitTicks = ORIGIN + 2 * second;
    zoomed.hasCursor = true;
    zoomed.cursorTicks = ORIGIN + second + 300;
    DrawChecked(c, t, zoomed);
    int inside = ChartX(l, zoomed, ORIGIN + second + 150);
    int after = ChartX(l, zoomed, ORIGIN + second + 600);
    int before = ChartX(l, zoomed, ORIGIN + second - 100);
    EXPECT_TRUE(LaneShows(c, l, 2, inside, false));
    EXPECT_FALSE(LaneShows(c, l, 2, inside, true));
    EXPECT_TRUE(LaneShows(c, l, 2, after, true));
    EXPECT_TRUE(LaneShows(c, l, 2, before, true));
    EXPECT_GT(after - inside, 100);  // 15 us is many columns wide
    int cursor = ChartX(l, zoomed, zoomed.cursorTicks), marked = 0;
    for (int y = l.plot.top; y < l.plot.bottom; ++y)
        marked += Pixel(c, cursor, y) == CHART_CURSOR;
    EXPECT_GT(marked, (l.plot.bottom - l.plot.top) / 3);
    FreeCanvas(c);
}
