// The virtual bench: eight LEDs on the data lines, five switches on the status
// inputs and a strip chart of the data lines, on the simulated port's shared
// state. Apart from setting the status register when a switch moves it only
// reads the state, without locks, so it never holds up the test bench. It
// keeps its own attachment, so the state outlives a test bench that is closed
// and started again.
#include <windows.h>
#include <commdlg.h>
#include <stdio.h>
#include <string>
#include <vector>
#include "chart.h"
#include "portinfo.h"
#include "simport.h"
#include "switches.h"
#include "trace.h"
#include "vbench.h"
#include "vcd.h"

constexpr UINT_PTR TIMER_REFRESH = 1;        // reads the shared state and repaints
constexpr UINT REFRESH_MS = 15;              // about 64 times a second: one period of the system timer
constexpr size_t TRACE_CAPACITY = 1 << 18;   // data writes kept for the chart and the dump
constexpr size_t STATUS_CAPACITY = 4096;     // status changes kept
constexpr size_t COPY_CHUNK = 4096;          // journal entries copied at a time
constexpr int BENCH_LOOK_TICKS = 25;         // refresh ticks between looks for the test bench
constexpr int CLIENT_WIDTH = 760;
constexpr int CLIENT_HEIGHT = 640;
constexpr int ZOOM_DEFAULT = 1;              // 5 s: the last few seconds

static const char TEST_BENCH_CLASS[] = "VelkarisClasse";
static const char WINDOW_TITLE[] = "Banc virtuel — port parallèle 0x378";

// Time across the chart, in microseconds, from the widest to the narrowest.
static const int64_t ZOOM_SPANS_US[] = { 10000000, 5000000, 2000000, 1000000, 500000, 200000,
                                         100000,   50000,   20000,   10000,   5000,   2000,
                                         1000,     500,     200,     100,     50,     20 };
constexpr int ZOOM_COUNT = static_cast<int>(sizeof(ZOOM_SPANS_US) / sizeof(ZOOM_SPANS_US[0]));

static const RECT LED_GROUP = { 10, 8, 750, 136 };
static const RECT SWITCH_GROUP = { 10, 146, 750, 282 };
static const RECT CHART_GROUP = { 10, 292, 750, 606 };
static const RECT CHART_AREA = { 20, 314, 740, 566 };
constexpr int LED_Y = 64;        // centre of the LEDs
constexpr int LED_RADIUS = 17;
constexpr int LED_PITCH = 90;
constexpr int SWITCH_Y = 170;
constexpr int SWITCH_PITCH = 146;
constexpr int CONTROL_ROW_Y = 574;
constexpr int BOTTOM_LINE_Y = 616;
static const RECT BOTTOM_LINE = { 0, BOTTOM_LINE_Y - 4, CLIENT_WIDTH, CLIENT_HEIGHT };

static HINSTANCE Instance;                 // this program's module
static HWND BenchWindow;                   // the main window
static HWND SwitchButtons[INPUT_COUNT];    // the push-like switches, checked when pulled low
static HWND FreezeBox;                     // "Figer": stops the chart scrolling
static HFONT UiFont;                       // font of the controls and the texts
static HDC BackDC;                         // memory DC of the double buffer
static HBITMAP BackBitmap;                 // the client-sized bitmap selected into BackDC
static SimPortState* Port;                 // the shared state, attached for the whole run
static int64_t JournalCursor;              // next journal sequence number to copy
static LONG SeenResets;                    // the state's reset count at the last look
static int64_t DroppedWrites;              // journal entries lost before they could be copied
static std::vector<SimPortWrite> CopyBuffer;     // one chunk of journal entries
static std::vector<SimPortWrite> TraceStorage;   // ring storage of Trace
static std::vector<StatusChange> StatusStorage;  // ring storage of Statuses
static DataTrace Trace;                    // data writes seen, for the chart and the dump
static StatusTrace Statuses;               // status values seen, for the dump
static int64_t StartTicks;                 // when the bench attached
static int CurrentData;                    // data register at the last refresh
static int64_t PaintedWrites;              // trace length the bottom line showed
static int ShownData;                      // data value the LEDs showed at the last paint
static int32_t CurrentStatus;              // status register at the last refresh
static LONG64 FrameCount;                  // paints since the start
static int ZoomIndex = ZOOM_DEFAULT;       // index into ZOOM_SPANS_US
static bool Frozen;                        // the chart stands still
static int64_t FrozenTicks;                // the moment it was frozen
static int64_t ViewEnd;                    // right edge of a frozen chart
static bool HasCursor;                     // a frozen chart shows the marker
static int64_t CursorTicks;                // the marker's moment
static bool TestBenchRunning;              // the test bench window was there at the last look
static int TicksToLook;                    // refresh ticks until the next look for it
static PortInfo ShownPort;                 // the port watched, as the window shows it
static std::string Notice;                 // the last outcome shown on the bottom line

static int64_t Now()
{
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return t.QuadPart;
}

static int64_t SpanTicks()
{
    return ZOOM_SPANS_US[ZoomIndex] * Port->frequency / 1000000;
}

static ChartView CurrentView()
{
    ChartView v;
    v.spanTicks = SpanTicks();
    v.frequency = Port->frequency;
    v.hasCursor = Frozen && HasCursor;
    v.cursorTicks = CursorTicks;
    if (Frozen) {
        v.endTicks = ViewEnd;
        v.limitTicks = FrozenTicks;
    } else {
        v.endTicks = v.limitTicks = Now();
    }
    return v;
}

// ---- the shared state

static void RecordStatus(int32_t value)
{
    CurrentStatus = value;
    StatusTraceAppend(&Statuses, StatusChange{ Now(), value });
}

static unsigned SwitchesPulled()
{
    unsigned pulled = 0;
    for (int i = 0; i < INPUT_COUNT; ++i)
        if (SendMessageA(SwitchButtons[i], BM_GETCHECK, 0, 0) == BST_CHECKED)
            pulled |= 1u << i;
    return pulled;
}

// Shows the switches as the status register has them (another program may set it).
static void SyncSwitches(int32_t status)
{
    unsigned pulled = SwitchesFromStatus(status);
    for (int i = 0; i < INPUT_COUNT; ++i) {
        WPARAM want = (pulled & (1u << i)) ? BST_CHECKED : BST_UNCHECKED;
        if (static_cast<WPARAM>(SendMessageA(SwitchButtons[i], BM_GETCHECK, 0, 0)) != want)
            SendMessageA(SwitchButtons[i], BM_SETCHECK, want, 0);
    }
}

static void ReadJournal()
{
    if (Port->resets != SeenResets || SimPortWriteCount(Port) < JournalCursor) {
        SeenResets = Port->resets;  // re-initialised: its journal starts again at 0
        JournalCursor = 0;
    }
    size_t rounds = SIMPORT_JOURNAL_CAPACITY / COPY_CHUNK + 1;
    size_t copied = COPY_CHUNK;
    while (copied == COPY_CHUNK && rounds-- > 0) {
        int64_t next = JournalCursor, dropped = 0;
        copied = SimPortCopyJournal(Port, JournalCursor, CopyBuffer.data(), COPY_CHUNK, &next, &dropped);
        for (size_t i = 0; i < copied; ++i)
            TraceAppend(&Trace, CopyBuffer[i]);
        DroppedWrites += dropped;
        JournalCursor = next;
    }
}

static void LookForTestBench()
{
    if (--TicksToLook > 0)
        return;
    TicksToLook = BENCH_LOOK_TICKS;
    TestBenchRunning = FindWindowA(TEST_BENCH_CLASS, nullptr) != nullptr;
}

// Repaints what changed: the whole window for a new register value, else the
// scrolling chart and the bottom line's count.
static void OnTimer(HWND window)
{
    ReadJournal();
    bool changed = false;
    int data = Port->data & 0xFF;
    if (data != CurrentData) {
        CurrentData = data;
        changed = true;
    }
    int32_t status = Port->status;
    if (status != CurrentStatus) {
        RecordStatus(status);
        SyncSwitches(status);
        changed = true;
    }
    PortInfo port = PortInfoRead(Port);
    if (!PortInfoSame(port, ShownPort)) {
        ShownPort = port;
        PortInfoApply(window, ShownPort, SwitchButtons, INPUT_COUNT);
        changed = true;
    }
    bool wasRunning = TestBenchRunning;
    LookForTestBench();
    if (changed || wasRunning != TestBenchRunning || ShownData != CurrentData) {
        InvalidateRect(window, nullptr, FALSE);
        return;
    }
    if (!Frozen)
        InvalidateRect(window, &CHART_AREA, FALSE);
    if (PaintedWrites != Trace.appended)
        InvalidateRect(window, &BOTTOM_LINE, FALSE);
}

// ---- painting

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
    RECT frame = { r.left, r.top + 7, r.right, r.bottom };
    DrawEdge(dc, &frame, EDGE_ETCHED, BF_RECT);
    SetBkMode(dc, OPAQUE);
    SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
    Text(dc, r.left + 10, r.top, std::string(" ") + title + " ");
    SetBkMode(dc, TRANSPARENT);
}

// "165   0xA5   1010 0101"
static std::string RegisterText(long value)
{
    char buf[64];
    snprintf(buf, sizeof(buf), "%ld   0x%02lX   ", value, static_cast<unsigned long>(value) & 0xFFFF);
    return buf + ByteBits(static_cast<unsigned>(value) & 0xFF);
}

static void DrawLeds(HDC dc)
{
    DrawGroup(dc, LED_GROUP, "Lignes de données D0 à D7 (broches 2 à 9)");
    HBRUSH lit = CreateSolidBrush(RGB(255, 48, 32));
    HBRUSH dark = CreateSolidBrush(RGB(92, 24, 18));
    HBRUSH shine = CreateSolidBrush(RGB(255, 190, 170));
    HPEN rim = CreatePen(PS_SOLID, 1, RGB(50, 16, 12));
    HGDIOBJ oldPen = SelectObject(dc, rim);
    HGDIOBJ oldBrush = SelectObject(dc, dark);
    for (int bit = 0; bit < 8; ++bit) {
        int x = 58 + bit * LED_PITCH;
        bool on = (ShownData >> bit) & 1;
        SelectObject(dc, on ? lit : dark);
        Ellipse(dc, x - LED_RADIUS, LED_Y - LED_RADIUS, x + LED_RADIUS, LED_Y + LED_RADIUS);
        if (on) {
            SelectObject(dc, shine);
            Ellipse(dc, x - 8, LED_Y - 10, x - 1, LED_Y - 4);
        }
        char label[16];
        snprintf(label, sizeof(label), "D%d", bit);
        CentredText(dc, x, LED_Y - LED_RADIUS - 20, label);
        snprintf(label, sizeof(label), "broche %d", bit + 2);
        CentredText(dc, x, LED_Y + LED_RADIUS + 4, label);
    }
    SelectObject(dc, oldBrush);
    SelectObject(dc, oldPen);
    DeleteObject(lit);
    DeleteObject(dark);
    DeleteObject(shine);
    DeleteObject(rim);
    Text(dc, 26, 108, "Registre de données (0x378) :   " + RegisterText(ShownData));
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
        int x = 26 + i * SWITCH_PITCH + 65;
        bool high = InputIsHigh(CurrentStatus, i);
        SetTextColor(dc, high ? GetSysColor(COLOR_BTNTEXT) : RGB(180, 30, 20));
        CentredText(dc, x, SWITCH_Y + 42, high ? "niveau haut" : "niveau bas (masse)");
    }
    SetTextColor(dc, GetSysColor(COLOR_BTNTEXT));
    Text(dc, 26, 248, "Registre d'état (0x379) :   " + RegisterText(CurrentStatus) + "   —   " +
                          SensorText(CurrentStatus));
    PortInfoDraw(dc, ShownPort, 26, 264);
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
    Text(dc, 270, CONTROL_ROW_Y + 5, line);
}

static void DrawBottomLine(HDC dc)
{
    std::string line = TestBenchRunning ? "Banc de test : lancé" : "Banc de test : pas lancé (il est suivi dès qu'il démarre)";
    line += "    Écritures suivies : " + std::to_string(Trace.appended);
    if (DroppedWrites > 0)
        line += " (perdues : " + std::to_string(DroppedWrites) + ")";
    if (!Notice.empty())
        line += "    " + Notice;
    Text(dc, 14, BOTTOM_LINE_Y, line);
}

static void PaintBench(HDC dc)
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
static void OnPaint(HWND window)
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
        PaintBench(BackDC);
    }
    BitBlt(dc, r.left, r.top, r.right - r.left, r.bottom - r.top, BackDC, r.left, r.top, SRCCOPY);
    EndPaint(window, &ps);
    ++FrameCount;
}

// ---- commands

static void OnSwitch(HWND window)
{
    if (ShownPort.real) {  // real inputs cannot be forced: show them as read
        SyncSwitches(CurrentStatus);
        return;
    }
    int32_t value = StatusFromSwitches(SwitchesPulled());
    SimPortSetStatus(Port, value);
    RecordStatus(value);
    InvalidateRect(window, nullptr, FALSE);
}

static void Freeze(bool on)
{
    Frozen = on;
    SendMessageA(FreezeBox, BM_SETCHECK, on ? BST_CHECKED : BST_UNCHECKED, 0);
    if (!on) {
        HasCursor = false;
        return;
    }
    FrozenTicks = ViewEnd = Now();
    size_t n = TraceSize(Trace);
    HasCursor = n > 0;  // on the last write: zooming in shows the brief 0 before it
    if (HasCursor)
        CursorTicks = TraceAt(Trace, n - 1).ticks;
}

// Zooms by `steps` (positive: in), keeping the moment `anchor` at the same
// fraction of the plot when frozen.
static void Zoom(int steps, bool hasAnchor, int64_t anchor, double fraction)
{
    int index = ZoomIndex + steps;
    if (index < 0)
        index = 0;
    if (index >= ZOOM_COUNT)
        index = ZOOM_COUNT - 1;
    ZoomIndex = index;
    if (Frozen && hasAnchor)
        ViewEnd = anchor + static_cast<int64_t>((1.0 - fraction) * static_cast<double>(SpanTicks()));
}

static void OnZoomButton(HWND window, int steps)
{
    if (Frozen && HasCursor)
        Zoom(steps, true, CursorTicks, 0.5);
    else
        Zoom(steps, false, 0, 0.0);
    InvalidateRect(window, nullptr, FALSE);
}

static std::string LocalDate()
{
    SYSTEMTIME t;
    GetLocalTime(&t);
    char buf[32];
    snprintf(buf, sizeof(buf), "%04d-%02d-%02d %02d:%02d:%02d", t.wYear, t.wMonth, t.wDay, t.wHour,
             t.wMinute, t.wSecond);
    return buf;
}

static bool SaveTrace(const char* path, size_t* writes)
{
    std::vector<SimPortWrite> entries = TraceEntries(Trace);
    std::vector<StatusChange> changes = StatusTraceEntries(Statuses);
    int64_t now = Now();
    int64_t origin = StartTicks;
    if (!entries.empty() && entries.front().ticks < origin)
        origin = entries.front().ticks;
    if (!changes.empty() && changes.front().ticks < origin)
        origin = changes.front().ticks;
    std::string date = LocalDate();
    VcdTrace t = {};
    t.writes = entries.data();
    t.writeCount = entries.size();
    t.statusChanges = changes.data();
    t.statusCount = changes.size();
    t.frequency = Port->frequency;
    t.originTicks = origin;
    t.endTicks = now;
    t.initialData = Trace.initialData;
    t.initialStatus = Statuses.initialStatus;
    t.date = date.c_str();
    *writes = entries.size();
    return WriteTextFile(path, VcdText(t));
}

static void OnSave(HWND window)
{
    char path[MAX_PATH] = "trace.vcd";
    OPENFILENAMEA ofn = {};
    ofn.lStructSize = sizeof(ofn);
    ofn.hwndOwner = window;
    ofn.lpstrFilter = "Trace VCD (*.vcd)\0*.vcd\0Tous les fichiers (*.*)\0*.*\0";
    ofn.lpstrFile = path;
    ofn.nMaxFile = MAX_PATH;
    ofn.lpstrTitle = "Enregistrer la trace";
    ofn.lpstrDefExt = "vcd";
    ofn.Flags = OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_NOCHANGEDIR;
    if (!GetSaveFileNameA(&ofn))
        return;
    size_t writes = 0;
    if (!SaveTrace(path, &writes)) {
        std::string text = std::string("Impossible d'écrire le fichier :\n") + path;
        MessageBoxA(window, text.c_str(), "Erreur", MB_OK | MB_ICONERROR);
        Notice = "Trace non enregistrée.";
    } else {
        Notice = "Trace enregistrée (" + std::to_string(writes) + " écritures).";
    }
    InvalidateRect(window, nullptr, FALSE);
}

static void OnCommand(HWND window, int id, int code)
{
    if (code != BN_CLICKED)
        return;
    if (id >= IDC_SWITCH_FIRST && id < IDC_SWITCH_FIRST + INPUT_COUNT)
        OnSwitch(window);
    else if (id == IDC_ZOOM_IN)
        OnZoomButton(window, 1);
    else if (id == IDC_ZOOM_OUT)
        OnZoomButton(window, -1);
    else if (id == IDC_FREEZE)
        Freeze(SendMessageA(FreezeBox, BM_GETCHECK, 0, 0) == BST_CHECKED);
    else if (id == IDC_SAVE)
        OnSave(window);
    InvalidateRect(window, nullptr, FALSE);
}

static bool InPlot(POINT p)
{
    ChartLayout l = ChartLayoutFor(CHART_AREA);
    return PtInRect(&l.plot, p) != 0;
}

static void OnMouseWheel(HWND window, WPARAM wParam, LPARAM lParam)
{
    POINT p = { static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam)) };
    ScreenToClient(window, &p);
    if (!InPlot(p))
        return;
    ChartLayout l = ChartLayoutFor(CHART_AREA);
    int64_t anchor = ChartTicksAt(l, CurrentView(), p.x);
    double fraction = static_cast<double>(p.x - l.plot.left) / (l.plot.right - l.plot.left);
    Zoom(static_cast<short>(HIWORD(wParam)) > 0 ? 1 : -1, true, anchor, fraction);
    InvalidateRect(window, nullptr, FALSE);
}

static void OnChartClick(HWND window, LPARAM lParam)
{
    POINT p = { static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam)) };
    if (!InPlot(p))
        return;
    ChartView v = CurrentView();
    if (!Frozen) {
        Freeze(true);
        ViewEnd = v.endTicks;
    }
    CursorTicks = ChartTicksAt(ChartLayoutFor(CHART_AREA), v, p.x);
    HasCursor = true;
    InvalidateRect(window, nullptr, FALSE);
}

// ---- window

static HWND Button(HWND parent, const char* text, DWORD style, int x, int y, int w, int h, int id)
{
    HWND b = CreateWindowExA(0, "BUTTON", text, WS_CHILD | WS_VISIBLE | WS_TABSTOP | style, x, y, w, h,
                             parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), Instance, nullptr);
    SendMessageA(b, WM_SETFONT, reinterpret_cast<WPARAM>(UiFont), FALSE);
    return b;
}

static void OnCreate(HWND window)
{
    for (int i = 0; i < INPUT_COUNT; ++i) {
        std::string label = std::string(STATUS_INPUTS[i].name) + " (" + std::to_string(STATUS_INPUTS[i].pin) + ")";
        SwitchButtons[i] = Button(window, label.c_str(), BS_AUTOCHECKBOX | BS_PUSHLIKE, 26 + i * SWITCH_PITCH,
                                  SWITCH_Y, 130, 36, IDC_SWITCH_FIRST + i);
    }
    Button(window, "Zoom +", BS_PUSHBUTTON, 20, CONTROL_ROW_Y, 78, 26, IDC_ZOOM_IN);
    Button(window, "Zoom -", BS_PUSHBUTTON, 104, CONTROL_ROW_Y, 78, 26, IDC_ZOOM_OUT);
    FreezeBox = Button(window, "Figer", BS_AUTOCHECKBOX, 192, CONTROL_ROW_Y, 70, 26, IDC_FREEZE);
    Button(window, "Enregistrer la trace…", BS_PUSHBUTTON, 570, CONTROL_ROW_Y, 170, 26, IDC_SAVE);
    SyncSwitches(CurrentStatus);
    ShownPort = PortInfoRead(Port);
    PortInfoApply(window, ShownPort, SwitchButtons, INPUT_COUNT);
    SetTimer(window, TIMER_REFRESH, REFRESH_MS, nullptr);
}

static void OnDestroy(HWND window)
{
    KillTimer(window, TIMER_REFRESH);
    PostQuitMessage(0);
}

LRESULT CALLBACK BenchWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        OnCreate(window);
        return 0;
    case WM_TIMER:
        OnTimer(window);
        return 0;
    case WM_ERASEBKGND:
        return 1;
    case WM_PAINT:
        OnPaint(window);
        return 0;
    case WM_COMMAND:
        OnCommand(window, LOWORD(wParam), HIWORD(wParam));
        return 0;
    case WM_MOUSEWHEEL:
        OnMouseWheel(window, wParam, lParam);
        return 0;
    case WM_LBUTTONDOWN:
        OnChartClick(window, lParam);
        return 0;
    case WM_DESTROY:
        OnDestroy(window);
        return 0;
    case VB_GET_LEDS:
        return ShownData;
    case VB_GET_FRAMES:
        return static_cast<LRESULT>(FrameCount);
    case VB_GET_STATUS:
        return CurrentStatus;
    case VB_GET_WRITES:
        return static_cast<LRESULT>(Trace.appended);
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

static void AttachPort()
{
    Port = SimPortAttach();
    StartTicks = Now();
    SeenResets = Port->resets;
    int64_t total = SimPortWriteCount(Port);
    JournalCursor = total > static_cast<int64_t>(SIMPORT_JOURNAL_CAPACITY)
                        ? total - static_cast<int64_t>(SIMPORT_JOURNAL_CAPACITY) : 0;
    CopyBuffer.resize(COPY_CHUNK);
    TraceStorage.resize(TRACE_CAPACITY);
    StatusStorage.resize(STATUS_CAPACITY);
    // A journal read from its first write starts from the register's initial 0.
    TraceReset(&Trace, TraceStorage.data(), TraceStorage.size(), JournalCursor == 0 ? 0 : -1);
    CurrentStatus = Port->status;
    StatusTraceReset(&Statuses, StatusStorage.data(), StatusStorage.size(), CurrentStatus);
    ReadJournal();
    CurrentData = ShownData = Port->data & 0xFF;
}

// Beside the test bench's window if it is open: on its right, else its left,
// else below it where there is room; else at the screen's right edge, which
// covers the least of it. Without it, where the system puts new windows.
static void InitialPlace(int width, int height, int* x, int* y)
{
    const int gap = 8;
    *x = *y = CW_USEDEFAULT;
    HWND bench = FindWindowA(TEST_BENCH_CLASS, nullptr);
    RECT r;
    if (!bench || !GetWindowRect(bench, &r))
        return;
    int screenW = GetSystemMetrics(SM_CXSCREEN), screenH = GetSystemMetrics(SM_CYSCREEN);
    *y = r.top + height <= screenH ? r.top : (screenH > height ? screenH - height : 0);
    if (r.right + gap + width <= screenW) {
        *x = r.right + gap;
    } else if (r.left - gap - width >= 0) {
        *x = r.left - gap - width;
    } else if (r.bottom + gap + height <= screenH) {
        *x = r.left + width <= screenW ? r.left : 0;
        *y = r.bottom + gap;
    } else {
        *x = screenW > width ? screenW - width : 0;
    }
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand)
{
    Instance = instance;
    AttachPort();
    UiFont = CreateFontA(-13, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, ANSI_CHARSET, OUT_DEFAULT_PRECIS,
                         CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS, "Tahoma");
    WNDCLASSEXA wc = {};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = BenchWndProc;
    wc.hInstance = instance;
    wc.hIcon = LoadIconA(instance, "Logo");
    wc.hIconSm = wc.hIcon;
    wc.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = VBENCH_CLASS;
    if (!RegisterClassExA(&wc)) {
        MessageBoxA(nullptr, "L'enregistrement de la classe de la fenêtre a échoué.", "Erreur", MB_ICONERROR);
        return 1;
    }
    DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
    RECT frame = { 0, 0, CLIENT_WIDTH, CLIENT_HEIGHT };
    AdjustWindowRect(&frame, style, FALSE);
    int width = frame.right - frame.left, height = frame.bottom - frame.top, x, y;
    InitialPlace(width, height, &x, &y);
    BenchWindow = CreateWindowExA(0, VBENCH_CLASS, WINDOW_TITLE, style, x, y, width, height, nullptr,
                                  nullptr, instance, nullptr);
    if (!BenchWindow) {
        MessageBoxA(nullptr, "La création de la fenêtre a échoué.", "Erreur", MB_ICONERROR);
        return 1;
    }
    ShowWindow(BenchWindow, showCommand);
    UpdateWindow(BenchWindow);
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return static_cast<int>(msg.wParam);
}
