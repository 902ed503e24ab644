// The program under test as its tests see it: started for each test, its
// indicators read as text, its pixels on the screen.
#include "programview.h"
#include <commctrl.h>
#include "resource.h"
#include "testwin.h"

Program App;                // the program of the running test, started for it
int64_t WritesAtFirstRead;  // journal count when the first poll was seen
HANDLE LedOff, LedOn, SensorIdle, SensorActive;  // the program's picture handles, once learnt

PortState* Port()
{
    return SharedPortAttach();
}

HANDLE ImageOf(int id)
{
    return reinterpret_cast<HANDLE>(SendMessageA(Control(App, id), BM_GETIMAGE, IMAGE_BITMAP, 0));
}

// "1" for a lit LED, "0" for an unlit one, "?" otherwise; LED 1 first.
std::string Leds()
{
    std::string s;
    for (int slot = 0; slot < OUTPUT_SLOTS; ++slot) {
        HANDLE h = ImageOf(SLOT_CONTROLS[slot]);
        s += h == LedOn ? '1' : h == LedOff ? '0' : '?';
    }
    return s;
}

// "a" for the active lamp, "-" for idle ones, "?" otherwise.
std::string Lamps()
{
    std::string s;
    for (int slot = FIRST_SENSOR_SLOT; slot < INDICATOR_SLOTS; ++slot) {
        HANDLE h = ImageOf(SLOT_CONTROLS[slot]);
        s += h == SensorActive ? 'a' : h == SensorIdle ? '-' : '?';
    }
    return s;
}

void Settle()
{
    ASSERT_TRUE(Responds(App, WaitLongMs()));
}

COLORREF ScreenPixel(HWND control)
{
    RECT r;
    GetWindowRect(control, &r);
    HDC screen = GetDC(nullptr);
    COLORREF c = GetPixel(screen, (r.left + r.right) / 2, (r.top + r.bottom) / 2);
    ReleaseDC(nullptr, screen);
    return c;
}

bool IsBrightRed(COLORREF c)
{
    return GetRValue(c) > 200 && GetGValue(c) < 80 && GetBValue(c) < 80;
}

bool IsDarkRed(COLORREF c)
{
    return GetRValue(c) > 90 && GetRValue(c) < 170 && GetGValue(c) < 80 && GetBValue(c) < 60;
}

// Records how many writes the journal holds when the first poll is seen.
static DWORD WINAPI WatchFirstRead(LPVOID p)
{
    int64_t reads0 = *static_cast<int64_t*>(p);
    DWORD start = GetTickCount();
    WritesAtFirstRead = -1;
    while (GetTickCount() - start < 30000) {
        if (Port()->reads > reads0) {
            WritesAtFirstRead = SharedPortWriteCount(Port());
            break;
        }
    }
    return 0;
}

void ProgramTest::SetUp()
{
    SimPortSetStatus(Port(), PORT_STATUS_IDLE);
    LedOff = LedOn = SensorIdle = SensorActive = nullptr;
    int64_t reads = Port()->reads;
    HANDLE watcher = CreateThread(nullptr, 0, WatchFirstRead, &reads, 0, nullptr);
    ASSERT_TRUE(StartProgram(App));
    WaitForSingleObject(watcher, 30000);
    CloseHandle(watcher);
    LedOff = ImageOf(IDC_LED1);
    SensorIdle = ImageOf(IDC_SENSOR1);
}

void ProgramTest::TearDown()
{
    StopProgram(App);
    SimPortSetStatus(Port(), PORT_STATUS_IDLE);
}

// Learns the lit LED picture from a write of 255, which lights all eight.
void LearnLitPicture()
{
    TypeText(Control(App, IDC_NUMBER_BOX), "255");
    Click(Control(App, IDC_SEND));
    LedOn = ImageOf(IDC_LED1);
    ASSERT_NE(LedOn, LedOff);
}
