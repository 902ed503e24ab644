// Application entry and main window: class, creation, the message loop and
// its timers handed to DispatchTimer.
#include <windows.h>
#include <commctrl.h>
#include "effects.h"
#include "handles.h"
#include "indicators.h"
#include "mainclass.h"
#include "panel.h"
#include "port.h"
#include "resource.h"
#include "statusbox.h"

static MSG Message;            // the last message retrieved; its wParam is the exit code
// SetTimer's results, written and never read (timers are addressed by their
// identifiers); kept so that the start-up stores what it always stored.
static UINT_PTR SensorPollTimer;   // the sensor-poll timer as SetTimer returned it
static UINT_PTR SensorResetTimer;  // the sensor-reset timer as SetTimer returned it

static const char MAIN_TITLE[] =
    "Testeur d'entrées/Sorties sur Port Parallèle      _-=<TRAVEK>=-_          By Velkaris ";
static const DWORD MAIN_STYLE =
    WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX;
static const UINT CONFIRM_BOX = MB_OKCANCEL | MB_ICONQUESTION;  // the close confirmation
static const UINT FATAL_BOX = MB_SYSTEMMODAL | MB_ICONWARNING;  // start-up failures
static_assert(MAIN_STYLE == 0x90CB0000 && CONFIRM_BOX == 0x21 && FATAL_BOX == 0x1030,
              "the exact style and box bits the program has always used");

#if !defined(_WIN64)
static_assert(sizeof(WNDCLASSEXA) == 48, "window-class record of a 32-bit build");
#endif

LRESULT CALLBACK MainWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

static ATOM RegisterMainClass()
{
    WNDCLASSEXA wc;
    wc.cbSize = sizeof(wc);
    wc.style = 0;
    wc.lpfnWndProc = MainWndProc;
    wc.cbClsExtra = 0;
    wc.cbWndExtra = 0;
    wc.hInstance = Instance;
    wc.hIcon = LoadIconA(Instance, "Logo");
    wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszMenuName = MAKEINTRESOURCEA(IDM_MAIN);
    wc.lpszClassName = MAIN_CLASS;
    wc.hIconSm = LoadIconA(Instance, "Logo");
    return RegisterClassExA(&wc);
}

static void OnCreate(HWND window)
{
    InitCommonControls();
    ControlPanel = CreateDialogParamA(Instance, MAKEINTRESOURCEA(IDD_CONTROL_PANEL), window,
                                      ControlPanelProc, 0);
    if (!ControlPanel)
        MessageBoxA(nullptr, "Impossible de créer le module principal", "Erreur", MB_OK);
    ShowWindow(ControlPanel, SW_SHOW);
    PortWrite(DATA_PORT, 0);
    SensorPollTimer = SetTimer(window, TIMER_SENSOR_POLL, SENSOR_POLL_PERIOD_MS, nullptr);
    SensorResetTimer = SetTimer(window, TIMER_SENSOR_RESET, SENSOR_RESET_PERIOD_MS, nullptr);
    // After the first write, which they would hold up (a look at every control):
    // nothing paints, and no timer or message reaches the panel, before this
    // function has returned.
    KeepGroundBeneathControls(ControlPanel);
    SkipUnchangedText(StatusBox);
}

static void OnClose(HWND window)
{
    if (MessageBoxA(window, "Désirez vous quitter l'application ?", "Quitter", CONFIRM_BOX) == IDOK)
        DestroyWindow(window);
}

static void OnMenuCommand(HWND window, WORD command)
{
    if (command == IDM_QUIT)
        PostMessageA(window, WM_CLOSE, 0, 0);
}

LRESULT CALLBACK MainWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        OnCreate(window);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    case WM_CLOSE:
        OnClose(window);
        return 0;
    case WM_COMMAND:
        OnMenuCommand(window, LOWORD(wParam));
        return 0;
    case WM_TIMER:
        DispatchTimer(wParam);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand)
{
    Instance = instance;
    if (RegisterMainClass() == 0) {
        MessageBoxA(nullptr, "L'enregistrement de la classe de la fenetre a échoué !",
                    "Attention! Erreur!", FATAL_BOX);
        return 0;
    }
    MainWindow = CreateWindowExA(WS_EX_CONTEXTHELP, MAIN_CLASS, MAIN_TITLE, MAIN_STYLE, 200, 200, 800,
                                 600, nullptr, nullptr, Instance, nullptr);
    if (!MainWindow) {
        MessageBoxA(nullptr, "La création de la fenetre a echouée!", "Erreur Fatale!", FATAL_BOX);
        return 0;
    }
    ShowWindow(MainWindow, showCommand);
    UpdateWindow(MainWindow);
    while (GetMessageA(&Message, nullptr, 0, 0)) {
        TranslateMessage(&Message);
        DispatchMessageA(&Message);
    }
    return static_cast<int>(Message.wParam);
}
