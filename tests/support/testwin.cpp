#include "testwin.h"
#include "effects.h"
#include "handles.h"
#include "indicators.h"
#include "resource.h"
#include <commctrl.h>
#include <string>


static HBITMAP SolidBitmap(COLORREF colour)
{
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP bmp = CreateCompatibleBitmap(screen, 8, 8);
    HGDIOBJ old = SelectObject(dc, bmp);
    HBRUSH brush = CreateSolidBrush(colour);
    RECT r = { 0, 0, 8, 8 };
    FillRect(dc, &r, brush);
    DeleteObject(brush);
    SelectObject(dc, old);
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
    return bmp;
}

LRESULT CALLBACK TimerDispatchProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message != WM_TIMER)
        return DefWindowProcA(window, message, wParam, lParam);
    DispatchTimer(wParam);
    return 0;
}

TestPanel CreateTestPanel(WNDPROC mainProc)
{
    INITCOMMONCONTROLSEX icc = { sizeof(icc), ICC_BAR_CLASSES };
    InitCommonControlsEx(&icc);
    static bool registered = false;
    if (!registered) {
        WNDCLASSA wc = {};
        wc.lpfnWndProc = DefWindowProcA;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = "TravekTestMain";
        RegisterClassA(&wc);
        registered = true;
    }
    TestPanel p = {};
    p.main = CreateWindowExA(0, "TravekTestMain", "test", WS_OVERLAPPEDWINDOW, 0, 0,
                             700, 300, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    if (mainProc)
        SetWindowLongPtrA(p.main, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(mainProc));
    p.panel = CreateWindowExA(0, "STATIC", "", WS_CHILD | WS_VISIBLE, 0, 0, 700, 300, p.main,
                              nullptr, nullptr, nullptr);
    for (int slot = 0; slot < INDICATOR_SLOTS; ++slot) {
        p.buttons[slot] = CreateWindowExA(0, "BUTTON", "", WS_CHILD | WS_VISIBLE | BS_BITMAP,
                                          10 + slot * 50, 10, 45, 45, p.panel,
                                          reinterpret_cast<HMENU>(static_cast<INT_PTR>(SLOT_CONTROLS[slot])),
                                          nullptr, nullptr);
        IndicatorButtons[slot] = p.buttons[slot];
    }
    p.slider = CreateWindowExA(0, TRACKBAR_CLASSA, "", WS_CHILD | WS_VISIBLE, 10, 70, 200, 30,
                               p.panel, reinterpret_cast<HMENU>(IDC_DELAY_SLIDER), nullptr, nullptr);
    SendMessageA(p.slider, TBM_SETRANGEMAX, TRUE, 200);
    SendMessageA(p.slider, TBM_SETRANGEMIN, TRUE, 0);
    SendMessageA(p.slider, TBM_SETPOS, TRUE, 100);
    p.statusBox = CreateWindowExA(0, "EDIT", "", WS_CHILD | WS_VISIBLE | ES_READONLY, 220, 70, 80, 20,
                                  p.panel, reinterpret_cast<HMENU>(IDC_STATUS_BOX), nullptr, nullptr);
    IndicatorImages.ledOff = SolidBitmap(RGB(125, 34, 9));
    IndicatorImages.ledOn = SolidBitmap(RGB(238, 14, 4));
    IndicatorImages.sensorActive = SolidBitmap(RGB(16, 2, 204));
    IndicatorImages.sensorIdle = SolidBitmap(RGB(19, 36, 39));
    for (unsigned char& f : ExtinguishFlags)
        f = 0;
    MainWindow = p.main;
    ControlPanel = p.panel;
    DelaySlider = p.slider;
    StatusBox = p.statusBox;
    return p;
}

void DestroyTestPanel(TestPanel& p)
{
    for (UINT_PTR timer : { TIMER_SENSOR_POLL, TIMER_K2000, TIMER_SENSOR_RESET, TIMER_CHENILLARD,
                            TIMER_EXTINGUISH })
        KillTimer(p.main, timer);
    DestroyWindow(p.main);
    for (HWND& h : IndicatorButtons)
        h = nullptr;
    for (HBITMAP* b : { &IndicatorImages.ledOff, &IndicatorImages.ledOn,
                        &IndicatorImages.sensorActive, &IndicatorImages.sensorIdle }) {
        DeleteObject(*b);
        *b = nullptr;
    }
    MainWindow = ControlPanel = DelaySlider = StatusBox = nullptr;
    K2000Timer = ChenillardTimer = 0;
    p = TestPanel();
}

const char* ShownImage(int slot)
{
    HANDLE h = reinterpret_cast<HANDLE>(SendMessageA(IndicatorButtons[slot], BM_GETIMAGE, IMAGE_BITMAP, 0));
    if (!h)
        return "none";
    if (h == IndicatorImages.ledOff)
        return "ledOff";
    if (h == IndicatorImages.ledOn)
        return "ledOn";
    if (h == IndicatorImages.sensorActive)
        return "sensorActive";
    if (h == IndicatorImages.sensorIdle)
        return "sensorIdle";
    return "other";
}

std::string ShownImages(int first, int last)
{
    std::string s;
    for (int slot = first; slot <= last; ++slot) {
        if (!s.empty())
            s += ' ';
        s += ShownImage(slot);
    }
    return s;
}

bool PumpUntil(const std::function<bool()>& pred, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    for (;;) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
            if (pred() || GetTickCount() - start > timeoutMs)
                break;  // repeating timers can keep the queue from ever running dry
        }
        if (pred())
            return true;
        if (GetTickCount() - start > timeoutMs)
            return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    }
}

PortReadEntry LibraryRead()
{
    return FindPortRead(LoadLibraryA("INPOUT32.dll"));
}

PortWriteEntry LibraryWrite()
{
    return FindPortWrite(LoadLibraryA("INPOUT32.dll"));
}

void LetTimePass(DWORD ms)
{
    PumpUntil([] { return false; }, ms);
}

int64_t JournalMark()
{
    return SharedPortWriteCount(SharedPortAttach());
}

std::vector<JournalWrite> JournalSince(int64_t mark)
{
    std::vector<JournalWrite> out(PORTSTATE_JOURNAL_CAPACITY);
    int64_t next = 0, dropped = 0;
    size_t n = SharedPortCopyJournal(SharedPortAttach(), mark, out.data(), out.size(), &next, &dropped);
    out.resize(n);
    return out;
}

std::vector<int> ValuesSince(int64_t mark)
{
    std::vector<int> values;
    for (const JournalWrite& w : JournalSince(mark))
        values.push_back(static_cast<short>(w.value));
    return values;
}

double TicksToMs(int64_t ticks)
{
    return 1000.0 * static_cast<double>(ticks) / static_cast<double>(SharedPortAttach()->frequency);
}

std::string TestFolder()
{
    char exe[MAX_PATH];
    GetModuleFileNameA(nullptr, exe, MAX_PATH);
    std::string dir(exe);
    dir.resize(dir.find_last_of("\\/") + 1);
    return dir;
}
