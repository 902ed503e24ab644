// The reference for the window system's share of the program's start-up: a
// program of the same shape as Travek.exe (the same main window, its class
// with the same icon, cursor and menu, the common controls, the control panel
// from the same dialog template 104) that does none of the program's own work
// (no bitmaps, no indicators, no slider set-up), then writes 0 and starts the
// same timers. Built as a start-up probe (see startup_probe.h).
#include <windows.h>
#include <commctrl.h>
#include "handles.h"
#include "port.h"
#include "resource.h"

static const char BARE_DIALOG_CLASS[] = "TravekBenchBareDialogClasse";
static const DWORD MAIN_STYLE =
    WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX;

static INT_PTR CALLBACK BareDialogProc(HWND, UINT message, WPARAM, LPARAM)
{
    return message == WM_INITDIALOG;
}

static LRESULT CALLBACK BareDialogWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE: {
        InitCommonControls();
        HWND panel = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_CONTROL_PANEL), window,
                                        BareDialogProc, 0);
        ShowWindow(panel, SW_SHOW);
        PortWrite(DATA_PORT, 0);
        SetTimer(window, TIMER_SENSOR_POLL, SENSOR_POLL_PERIOD_MS, nullptr);
        SetTimer(window, TIMER_SENSOR_RESET, SENSOR_RESET_PERIOD_MS, nullptr);
        return 0;
    }
    case WM_TIMER:
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand)
{
    WNDCLASSEXA wc = {};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = BareDialogWndProc;
    wc.hInstance = instance;
    wc.hIcon = LoadIconA(instance, "Logo");
    wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszMenuName = MAKEINTRESOURCEA(IDM_MAIN);
    wc.lpszClassName = BARE_DIALOG_CLASS;
    wc.hIconSm = LoadIconA(instance, "Logo");
    if (!RegisterClassExA(&wc))
        return 1;
    HWND window = CreateWindowExA(WS_EX_CONTEXTHELP, BARE_DIALOG_CLASS, "bench_bare_dialog", MAIN_STYLE, 200, 200,
                                  800, 600, nullptr, nullptr, instance, nullptr);
    if (!window)
        return 1;
    ShowWindow(window, showCommand);
    UpdateWindow(window);
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return static_cast<int>(msg.wParam);
}
