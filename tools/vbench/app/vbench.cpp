// The virtual bench: eight LEDs on the data lines, five switches on the status
// inputs and a strip chart of the data lines, on the simulated port's shared
// state. Apart from setting the status register when a switch moves it only
// reads the state, without locks, so it never holds up the test bench. It
// keeps its own attachment, so the state outlives a test bench that is closed
// and started again.
#include <windows.h>
#include <commdlg.h>
#include <string>
#include "chart.h"
#include "mainclass.h"
#include "portinfo.h"
#include "sharedport.h"
#include "switches.h"
#include "trace.h"
#include "vbench.h"
#include "vbench_layout.h"
#include "vbench_state.h"

constexpr UINT_PTR TIMER_REFRESH = 1;        // reads the shared state and repaints
constexpr UINT REFRESH_MS = 15;              // about 64 times a second: one period of the system timer
constexpr UINT QUIET_REFRESH_MS = 50;        // while nothing on screen moves: a first change shows within 50 ms
constexpr int BENCH_LOOK_TICKS = 25;         // refresh ticks between looks for the test bench
constexpr int64_t CHART_MARGIN_DIVISOR = 50; // a chart scrolls on for a 50th of its span (> 1 column)
constexpr int64_t US_PER_SECOND = 1000000;
constexpr int WINDOW_GAP = 8;                // between this window and the test bench's
constexpr int UI_FONT_HEIGHT = -13;          // character height of Tahoma 8 points, in pixels

static const char WINDOW_TITLE[] = "Banc virtuel — port parallèle 0x378";

// Each described where vbench_state.h declares it.
// -- the window
HINSTANCE Instance;
HWND BenchWindow;
HWND SwitchButtons[INPUT_COUNT];
HWND FreezeBox;
HFONT UiFont;

// -- the port and what was read from it
PortState* Port;
int64_t DroppedWrites;
DataTrace Trace;
int CurrentData;
int32_t CurrentStatus;
PortInfo ShownPort;
bool TestBenchRunning;
std::string Notice;
static int TicksToLook;                         // refresh ticks until the next look for the test bench
static UINT RefreshPeriod;                      // the refresh timer's period now

// -- the chart's view
int ZoomIndex = ZOOM_DEFAULT;
bool Frozen;
int64_t FrozenTicks;
int64_t ViewEnd;
bool HasCursor;
int64_t CursorTicks;

// -- what the last paint showed
int ShownData;
int64_t PaintedWrites;
LONG64 FrameCount;

int64_t SpanTicks()
{
    return ZOOM_SPANS_US[ZoomIndex] * Port->frequency / US_PER_SECOND;
}

ChartView CurrentView()
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
        v.endTicks = v.limitTicks = SharedPortNow();
    }
    return v;
}

// ---- the shared state

// Shows the switches as the status register has them (another program may set it).
void SyncSwitches(int32_t status)
{
    unsigned pulled = SwitchesFromStatus(status);
    for (int i = 0; i < INPUT_COUNT; ++i) {
        WPARAM want = (pulled & (1u << i)) ? BST_CHECKED : BST_UNCHECKED;
        if (static_cast<WPARAM>(SendMessageA(SwitchButtons[i], BM_GETCHECK, 0, 0)) != want)
            SendMessageA(SwitchButtons[i], BM_SETCHECK, want, 0);
    }
}

static void LookForTestBench()
{
    if (--TicksToLook > 0)
        return;
    TicksToLook = BENCH_LOOK_TICKS;
    TestBenchRunning = FindWindowA(MAIN_CLASS, nullptr) != nullptr;
}

// A live chart looks the same from one moment to the next once its last
// write has scrolled out of view (flat lanes, grid fixed to the right edge):
// it moves only while a write lies within its span, plus a margin of more
// than one column.
static bool ChartMoving()
{
    size_t n = TraceSize(Trace);
    if (Frozen || n == 0)
        return false;
    int64_t span = SpanTicks();
    return TraceAt(Trace, n - 1).ticks >= SharedPortNow() - span - span / CHART_MARGIN_DIVISOR;
}

// The refresh wakes the program less often while nothing on screen moves.
static void SetRefreshPeriod(HWND window, UINT period)
{
    if (period == RefreshPeriod)
        return;
    RefreshPeriod = period;
    SetTimer(window, TIMER_REFRESH, period, nullptr);
}

// Repaints what changed: the whole window for a new register value, else the
// chart while it scrolls and the bottom line's count.
static void OnTimer(HWND window)
{
    ReadJournal();
    bool changed = false;
    int data = Port->data & DATA_MASK;
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
        SetRefreshPeriod(window, REFRESH_MS);
        return;
    }
    bool moving = ChartMoving();
    if (moving)
        InvalidateRect(window, &CHART_AREA, FALSE);
    if (PaintedWrites != Trace.appended)
        InvalidateRect(window, &BOTTOM_LINE, FALSE);
    SetRefreshPeriod(window, moving ? REFRESH_MS : QUIET_REFRESH_MS);
}

// ---- window

static HWND Button(HWND parent, const char* text, DWORD style, const RECT& r, int id)
{
    HWND b = CreateWindowExA(0, "BUTTON", text, WS_CHILD | WS_VISIBLE | WS_TABSTOP | style, r.left, r.top,
                             r.right - r.left, r.bottom - r.top,
                             parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), Instance, nullptr);
    SendMessageA(b, WM_SETFONT, reinterpret_cast<WPARAM>(UiFont), FALSE);
    return b;
}

static void OnCreate(HWND window)
{
    for (int i = 0; i < INPUT_COUNT; ++i) {
        std::string label = std::string(STATUS_INPUTS[i].name) + " (" + std::to_string(STATUS_INPUTS[i].pin) + ")";
        int left = SWITCH_LEFT + i * SWITCH_PITCH;
        RECT r = { left, SWITCH_Y, left + SWITCH_WIDTH, SWITCH_Y + SWITCH_HEIGHT };
        SwitchButtons[i] = Button(window, label.c_str(), BS_AUTOCHECKBOX | BS_PUSHLIKE, r, IDC_SWITCH_FIRST + i);
    }
    Button(window, "Zoom +", BS_PUSHBUTTON, ZOOM_IN_BUTTON, IDC_ZOOM_IN);
    Button(window, "Zoom -", BS_PUSHBUTTON, ZOOM_OUT_BUTTON, IDC_ZOOM_OUT);
    FreezeBox = Button(window, "Figer", BS_AUTOCHECKBOX, FREEZE_BOX, IDC_FREEZE);
    Button(window, "Enregistrer la trace…", BS_PUSHBUTTON, SAVE_BUTTON, IDC_SAVE);
    SyncSwitches(CurrentStatus);
    ShownPort = PortInfoRead(Port);
    PortInfoApply(window, ShownPort, SwitchButtons, INPUT_COUNT);
    SetRefreshPeriod(window, REFRESH_MS);
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
        PaintBench(window);
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

// Beside the test bench's window if it is open: on its right, else its left,
// else below it where there is room; else at the screen's right edge, which
// covers the least of it. Without it, where the system puts new windows.
static void InitialPlace(int width, int height, int* x, int* y)
{
    *x = *y = CW_USEDEFAULT;
    HWND bench = FindWindowA(MAIN_CLASS, nullptr);
    RECT r;
    if (!bench || !GetWindowRect(bench, &r))
        return;
    int screenW = GetSystemMetrics(SM_CXSCREEN), screenH = GetSystemMetrics(SM_CYSCREEN);
    *y = r.top + height <= screenH ? r.top : (screenH > height ? screenH - height : 0);
    if (r.right + WINDOW_GAP + width <= screenW) {
        *x = r.right + WINDOW_GAP;
    } else if (r.left - WINDOW_GAP - width >= 0) {
        *x = r.left - WINDOW_GAP - width;
    } else if (r.bottom + WINDOW_GAP + height <= screenH) {
        *x = r.left + width <= screenW ? r.left : 0;
        *y = r.bottom + WINDOW_GAP;
    } else {
        *x = screenW > width ? screenW - width : 0;
    }
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand)
{
    Instance = instance;
    AttachPort();
    UiFont = CreateFontA(UI_FONT_HEIGHT, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, ANSI_CHARSET, OUT_DEFAULT_PRECIS,
                         CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS, "Tahoma");
    WNDCLASSEXA wc = {};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = BenchWndProc;
    wc.hInstance = instance;
    wc.hIcon = LoadIconA(instance, "Logo");
    wc.hIconSm = wc.hIcon;
    wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
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
