// The least program of the bench's shape, the reference for the start-up and
// idle figures of Travek.exe: binds the port library by ordinal, writes 0 to
// the data port first thing, shows a plain window and runs the same three idle
// timers (1 ms, 500 ms, 1 ms) with nothing to do at their events.
#include <windows.h>
#include "handles.h"
#include "port.h"

static LRESULT CALLBACK BareWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
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
    PortWrite(DATA_PORT, 0);
    WNDCLASSA wc = {};
    wc.lpfnWndProc = BareWndProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = "TravekBenchBare";
    if (!RegisterClassA(&wc))
        return 1;
    HWND window = CreateWindowExA(0, wc.lpszClassName, "bench_bare", WS_OVERLAPPEDWINDOW, 200, 200, 800, 600,
                                  nullptr, nullptr, instance, nullptr);
    if (!window)
        return 1;
    SetTimer(window, TIMER_SENSOR_POLL, SENSOR_POLL_PERIOD_MS, nullptr);
    SetTimer(window, TIMER_SENSOR_RESET, SENSOR_RESET_PERIOD_MS, nullptr);
    SetTimer(window, TIMER_EXTINGUISH, EXTINGUISH_PERIOD_MS, nullptr);
    ShowWindow(window, showCommand);
    UpdateWindow(window);
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return static_cast<int>(msg.wParam);
}
