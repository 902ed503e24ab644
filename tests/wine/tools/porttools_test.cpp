// The companion programs' logic: switches and status values, the Value Change
// Dump of a journal, the virtual bench's trace and its strip chart drawn into
// a memory DC through the real drawing function.
#include <gtest/gtest.h>
#include <windows.h>
#include <random>
#include <string>
#include <vector>
#include "chart.h"
#include "switches.h"
#include "trace.h"
#include "vcd.h"
#include "vcdcheck.h"

// ---- switches

TEST(Switches, EachSwitchAloneGivesItsSensorCodeAndTwoGiveTheirCombination)
{
    EXPECT_EQ(StatusFromSwitches(0), 127);
    struct Case {
        int input;
        int32_t status;
        int sensor;
    };
    const Case cases[] = { { INPUT_NERROR, 119, 1 }, { INPUT_SELECT, 111, 2 }, { INPUT_PAPEROUT, 95, 3 },
                           { INPUT_NACK, 63, 5 },    { INPUT_BUSY, 255, 4 } };
    for (const Case& c : cases) {
        SCOPED_TRACE(STATUS_INPUTS[c.input].name);
        int32_t v = StatusFromSwitches(1u << c.input);
        EXPECT_EQ(v, c.status);
        EXPECT_EQ(SensorForStatus(v), c.sensor);
        EXPECT_FALSE(InputIsHigh(v, c.input));
    }
    int32_t two = StatusFromSwitches((1u << INPUT_NERROR) | (1u << INPUT_SELECT));
    EXPECT_EQ(two, 103);
    EXPECT_EQ(SensorForStatus(two), 0);
    EXPECT_EQ(StatusFromSwitches(0x1F), 0x87);  // every input low: Busy's bit set, the others clear
    EXPECT_EQ(SensorForStatus(127), 0);
}

TEST(Switches, StatusValuesMapBackToTheSwitchesForEveryCombination)
{
    for (unsigned mask = 0; mask < 32; ++mask) {
        int32_t v = StatusFromSwitches(mask);
        EXPECT_EQ(v & 0x07, 0x07) << mask;
        EXPECT_EQ(v & ~0xFF, 0) << mask;
        EXPECT_EQ(SwitchesFromStatus(v), mask);
    }
    // Bits 0 to 2 and bits above 7 play no part in which inputs are low.
    EXPECT_EQ(SwitchesFromStatus(0x78), 0u);
    EXPECT_EQ(SwitchesFromStatus(0x70), 1u << INPUT_NERROR);
    EXPECT_EQ(SwitchesFromStatus(0x17F), 0u);
    EXPECT_EQ(STATUS_INPUTS[INPUT_BUSY].pin, 11);
    EXPECT_EQ(STATUS_INPUTS[INPUT_NACK].pin, 10);
}

static bool Parses(std::vector<const char*> args, int32_t expected)
{
    int32_t value = -99999;
    std::string error;
    return ParseStatusArguments(static_cast<int>(args.size()), args.data(), &value, &error) && value == expected;
}

TEST(Switches, StatusArgumentsByValueOrByNames)
{
    EXPECT_TRUE(Parses({ "119" }, 119));
    EXPECT_TRUE(Parses({ "0x6F" }, 111));
    EXPECT_TRUE(Parses({ "-1" }, -1));
    EXPECT_TRUE(Parses({ "nerror", "SELECT" }, 103));
    EXPECT_TRUE(Parses({ "Busy", "Busy" }, 255));
    for (std::vector<const char*> bad : std::vector<std::vector<const char*>>{
             {}, { "" }, { "12abc" }, { "0x" }, { "65536" }, { "-32769" }, { "99999999999999999999" },
             { "Strobe" }, { "nError", "119" } }) {
        int32_t value;
        std::string error;
        EXPECT_FALSE(ParseStatusArguments(static_cast<int>(bad.size()), bad.data(), &value, &error));
        EXPECT_FALSE(error.empty());
    }
}

// ---- the dump

static const int64_t FREQ = 10000000;      // 10 MHz: 10 ticks a microsecond
static const int64_t ORIGIN = 1000000000;  // an arbitrary counter value as time 0

static JournalWrite W(int64_t seq, int64_t ticks, uint16_t port, uint16_t value)
{
    JournalWrite w;
    w.seq = seq;
    w.ticks = ORIGIN + ticks;
    w.port = port;
    w.value = value;
    return w;
}

// A trace over the writes and status changes, from ORIGIN to ORIGIN + endTicks,
// starting from data 0 and all inputs released.
static VcdTrace TraceOf(const std::vector<JournalWrite>& writes, const std::vector<StatusChange>& status,
                        int64_t endTicks)
{
    VcdTrace trace = {};
    trace.writes = writes.data();
    trace.writeCount = writes.size();
    trace.statusChanges = status.data();
    trace.statusCount = status.size();
    trace.frequency = FREQ;
    trace.originTicks = ORIGIN;
    trace.endTicks = ORIGIN + endTicks;
    trace.initialData = 0;
    trace.initialStatus = 127;
    return trace;
}

static const char HEADER[] =
    "$version\n   Travek banc virtuel\n$end\n"
    "$comment\n   Port parallele 0x378 : D0 a D7 sur les broches 2 a 9 ; entrees d'etat au niveau de "
    "leur broche (0 = a la masse) : nError 15, Select 13, PaperOut 12, nAck 10, Busy 11\n$end\n"
    "$timescale 1 us $end\n"
    "$scope module port $end\n"
    "$var wire 1 ! D0 $end\n$var wire 1 \" D1 $end\n$var wire 1 # D2 $end\n$var wire 1 $ D3 $end\n"
    "$var wire 1 % D4 $end\n$var wire 1 & D5 $end\n$var wire 1 ' D6 $end\n$var wire 1 ( D7 $end\n"
    "$var wire 1 ) nError $end\n$var wire 1 * Select $end\n$var wire 1 + PaperOut $end\n"
    "$var wire 1 , nAck $end\n$var wire 1 - Busy $end\n"
    "$upscope $end\n$enddefinitions $end\n";

struct KnownJournal {
    std::vector<JournalWrite> writes;
    std::vector<StatusChange> status;
    VcdTrace trace;
};

// The 0 before each value, a control write, a 16-bit value, a write that
// changes nothing, two status changes, and a write in the microsecond of the
// one before.
static KnownJournal MakeKnownJournal()
{
    KnownJournal k;
    k.writes = { W(0, 0, 0x378, 0),          W(1, 250, 0x378, 4),     W(2, 253, 0x378, 0),
                 W(3, 400, 0x37A, 0x0C),     W(4, 1000, 0x378, 0x1204), W(5, 1300, 0x378, 4),
                 W(6, 10000000, 0x378, 0x80) };
    k.status = { { ORIGIN + 600, 119 }, { ORIGIN + 2000, 255 } };
    k.trace = TraceOf(k.writes, k.status, 20000000);
    k.trace.initialData = -1;  // not known before the first write
    return k;
}

TEST(Vcd, KnownJournalGivesExactlyTheExpectedText)
{
    KnownJournal k = MakeKnownJournal();
    std::string expected = std::string(HEADER) +
                           "#0\n$dumpvars\nx!\nx\"\nx#\nx$\nx%\nx&\nx'\nx(\n1)\n1*\n1+\n1,\n1-\n$end\n"
                           "#1\n0!\n0\"\n0#\n0$\n0%\n0&\n0'\n0(\n"
                           "#25\n1#\n"
                           "#26\n0#\n"
                           "#60\n0)\n"
                           "#100\n1#\n"
                           "#200\n1)\n0-\n"
                           "#1000000\n0#\n1(\n"
                           "#2000000\n";
    EXPECT_EQ(VcdText(k.trace), expected);

    // A known start value, a date, and no end mark past the last change.
    k.trace.initialData = 0;
    k.trace.endTicks = ORIGIN;
    k.trace.date = "2026-12-08 20:42:35";
    std::string text = VcdText(k.trace);
    EXPECT_EQ(text.compare(0, 39, "$date\n   2026-12-08 20:42:35\n$end\n$vers"), 0) << text.substr(0, 60);
    EXPECT_NE(text.find("$dumpvars\n0!\n0\"\n0#\n0$\n0%\n0&\n0'\n0(\n1)\n"), std::string::npos);
    EXPECT_EQ(text.find("#1\n"), std::string::npos);  // the first write changes nothing
    EXPECT_EQ(text.substr(text.size() - 15), "#1000000\n0#\n1(\n");
}

TEST(Vcd, StrictReaderAcceptsTheDumpAndRejectsMalformedOnes)
{
    KnownJournal k = MakeKnownJournal();
    VcdFile f = ParseVcdStrict(VcdText(k.trace));
    ASSERT_TRUE(f.ok) << f.error;
    EXPECT_EQ(f.timescale, "1 us");
    ASSERT_EQ(f.vars.size(), 13u);
    EXPECT_EQ(f.vars[0].name, "port.D0");
    EXPECT_EQ(f.vars[12].name, "port.Busy");
    EXPECT_EQ(f.initial.size(), 13u);
    EXPECT_EQ(VcdDataValues(f), (std::vector<int>{ -1, 0, 4, 0, 4, 0x80 }));  // from x at time 0
    std::map<std::string, char> at150 = VcdLevelsAt(f, 150);
    EXPECT_EQ(at150[VcdIdOf(f, "nError")], '0');
    EXPECT_EQ(at150[VcdIdOf(f, "Busy")], '1');
    EXPECT_EQ(f.times.back(), 2000000);

    // The reader is strict: each of these faults is found.
    const std::string good = VcdText(k.trace);
    auto replaced = [&](const std::string& from, const std::string& to) {
        std::string s = good;
        size_t at = s.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        return s.replace(at, from.size(), to);
    };
    const std::string faults[] = {
        replaced("#26\n", "#25\n"),                // time not increasing
        replaced("#60\n0)\n", "#60\n0.\n"),        // undeclared identifier
        replaced("$upscope $end\n", ""),           // unbalanced scope
        replaced("#0\n$dumpvars", "$dumpvars"),    // change before any time
    };
    for (const std::string& bad : faults)
        EXPECT_FALSE(ParseVcdStrict(bad).ok);
}

// Random journals: bursts of writes in the same microsecond, status changes
// in between. Every change of the data value must survive into the dump.
TEST(Vcd, NoDataChangeIsLostInBurstsAndTimesStayIncreasing)
{
    std::mt19937 rng(1234);
    std::vector<JournalWrite> writes;
    std::vector<StatusChange> status;
    int64_t t = 0;
    for (int i = 0; i < 20000; ++i) {
        t += rng() % 4 == 0 ? 0 : rng() % 40;  // a quarter in the same tick, many in the same microsecond
        uint16_t port = rng() % 50 == 0 ? 0x37A : 0x378;
        writes.push_back(W(i, t, port, static_cast<uint16_t>(rng() % 8 == 0 ? 0 : rng())));
        if (rng() % 100 == 0)
            status.push_back({ ORIGIN + t, static_cast<int32_t>(rng() % 256) });
    }
    VcdTrace trace = TraceOf(writes, status, t + 1000);
    VcdFile f = ParseVcdStrict(VcdText(trace));
    ASSERT_TRUE(f.ok) << f.error;
    std::vector<int> expected = { 0 };
    for (const JournalWrite& w : writes)
        if (w.port == 0x378 && (w.value & 0xFF) != expected.back())
            expected.push_back(w.value & 0xFF);
    EXPECT_EQ(VcdDataValues(f), expected);
    // Spreading a burst never runs far ahead of the real time.
    EXPECT_LT(f.times.back() - (t / 10), 20000);
}

// A sweep of the eight lines as the test bench's K2000 makes it, each value
// after a brief 0, for the viewers' check outside Wine (vcd_viewers).
TEST(Vcd, WritesASampleSweepForTheViewers)
{
    std::vector<JournalWrite> writes;
    int64_t t = 0, seq = 0;
    const int steps[] = { 1, 2, 4, 8, 16, 32, 64, 128, 128, 64, 32, 16, 8, 4, 2, 1 };
    for (int v : steps) {
        writes.push_back(W(seq++, t, 0x378, 0));
        writes.push_back(W(seq++, t + 300, 0x378, static_cast<uint16_t>(v)));  // 30 us later
        t += 1000000;  // 100 ms a step
    }
    std::vector<StatusChange> status = { { ORIGIN + 5000000, 119 }, { ORIGIN + 9000000, 127 } };
    VcdTrace trace = TraceOf(writes, status, t);
    trace.date = "2026-12-08 20:42:35";
    std::string text = VcdText(trace);
    ASSERT_TRUE(ParseVcdStrict(text).ok);
    ASSERT_TRUE(WriteTextFile("vcd_sample.vcd", text));
}

static JournalWrite At(int64_t seq, int64_t ticks, int value)
{
    return W(seq, ticks, 0x378, static_cast<uint16_t>(value));
}

// ---- the strip chart

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
