// The virtual bench's commands: the switches, the chart's zoom, freeze and
// cursor, and saving the trace.
#include <windows.h>
#include <commdlg.h>
#include <string>
#include "chart.h"
#include "sharedport.h"
#include "switches.h"
#include "vbench.h"
#include "vbench_layout.h"
#include "vbench_state.h"

static unsigned SwitchesPulled()
{
    unsigned pulled = 0;
    for (int i = 0; i < INPUT_COUNT; ++i)
        if (SendMessageA(SwitchButtons[i], BM_GETCHECK, 0, 0) == BST_CHECKED)
            pulled |= 1u << i;
    return pulled;
}

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
    FrozenTicks = ViewEnd = SharedPortNow();
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

void OnCommand(HWND window, int id, int code)
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

void OnMouseWheel(HWND window, WPARAM wParam, LPARAM lParam)
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

void OnChartClick(HWND window, LPARAM lParam)
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

