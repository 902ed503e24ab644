// The real program end to end, driven through its window from this process,
// observed through the simulated port's shared state.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>
#include <algorithm>
#include <string>
#include <vector>
#include "mainclass.h"
#include "panel_template.h"
#include "program.h"
#include "simport.h"
#include "testwin.h"
#include "resource.h"


static Program App;                // the program of the running test, started for it
static int64_t WritesAtFirstRead;  // journal count when the first poll was seen
static HANDLE LedOff, LedOn, SensorIdle, SensorActive;  // the program's picture handles, once learnt

static SimPortState* Port()
{
    return SimPortAttach();
}

static HANDLE ImageOf(int id)
{
    return reinterpret_cast<HANDLE>(SendMessageA(Control(App, id), BM_GETIMAGE, IMAGE_BITMAP, 0));
}

// "1" for a lit LED, "0" for an unlit one, "?" otherwise; LED 1 first.
static std::string Leds()
{
    std::string s;
    for (int slot = 0; slot < OUTPUT_SLOTS; ++slot) {
        HANDLE h = ImageOf(SLOT_CONTROLS[slot]);
        s += h == LedOn ? '1' : h == LedOff ? '0' : '?';
    }
    return s;
}

// "a" for the active lamp, "-" for idle ones, "?" otherwise.
static std::string Lamps()
{
    std::string s;
    for (int slot = FIRST_SENSOR_SLOT; slot < INDICATOR_SLOTS; ++slot) {
        HANDLE h = ImageOf(SLOT_CONTROLS[slot]);
        s += h == SensorActive ? 'a' : h == SensorIdle ? '-' : '?';
    }
    return s;
}

static void Settle()
{
    ASSERT_TRUE(Responds(App, 10000));
}

static COLORREF ScreenPixel(HWND control)
{
    RECT r;
    GetWindowRect(control, &r);
    HDC screen = GetDC(nullptr);
    COLORREF c = GetPixel(screen, (r.left + r.right) / 2, (r.top + r.bottom) / 2);
    ReleaseDC(nullptr, screen);
    return c;
}

static bool IsBrightRed(COLORREF c)
{
    return GetRValue(c) > 200 && GetGValue(c) < 80 && GetBValue(c) < 80;
}

static bool IsDarkRed(COLORREF c)
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
            WritesAtFirstRead = SimPortWriteCount(Port());
            break;
        }
    }
    return 0;
}

// Every test gets a program of its own, just started, so that the tests pass
// alone and in any order. The unlit and idle pictures are learnt at start-up.
class ProgramTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        SimPortSetStatus(Port(), 127);
        LedOff = LedOn = SensorIdle = SensorActive = nullptr;
        int64_t reads = Port()->reads;
        HANDLE watcher = CreateThread(nullptr, 0, WatchFirstRead, &reads, 0, nullptr);
        ASSERT_TRUE(StartProgram(App));
        WaitForSingleObject(watcher, 30000);
        CloseHandle(watcher);
        LedOff = ImageOf(IDC_LED1);
        SensorIdle = ImageOf(IDC_SENSOR1);
    }
    void TearDown() override
    {
        StopProgram(App);
        SimPortSetStatus(Port(), 127);
    }
};

// Learns the lit LED picture from a write of 255, which lights all eight.
static void LearnLitPicture()
{
    TypeText(Control(App, IDC_NUMBER_BOX), "255");
    Click(Control(App, IDC_SEND));
    LedOn = ImageOf(IDC_LED1);
    ASSERT_NE(LedOn, LedOff);
}

// The first frame as the test expects it: LEDs dark red, ground white, the
// "Reset" button's face drawn.
static bool FirstFramePainted()
{
    for (int slot = 0; slot < OUTPUT_SLOTS; ++slot)
        if (!IsDarkRed(ScreenPixel(Control(App, SLOT_CONTROLS[slot]))))
            return false;
    RECT r;
    GetWindowRect(Control(App, IDC_RESET), &r);
    HDC screen = GetDC(nullptr);
    COLORREF ground = GetPixel(screen, r.left - 30, r.bottom + 4);
    ReleaseDC(nullptr, screen);
    return ground == RGB(255, 255, 255) && ScreenPixel(Control(App, IDC_RESET)) != RGB(255, 255, 255);
}

TEST_F(ProgramTest, FirstFrameShowsControlsOverTheWhiteGround)
{
    // Before any click: the panel paints once; wait for that paint to finish.
    WaitFor(FirstFramePainted, 5000);
    for (int slot = 0; slot < OUTPUT_SLOTS; ++slot)
        EXPECT_TRUE(IsDarkRed(ScreenPixel(Control(App, SLOT_CONTROLS[slot])))) << "LED " << slot + 1 << " unlit on first frame";
    // A point of the ground between the LED row and the "Reset" button is white.
    RECT r;
    GetWindowRect(Control(App, IDC_RESET), &r);
    HDC screen = GetDC(nullptr);
    COLORREF ground = GetPixel(screen, r.left - 30, r.bottom + 4);
    ReleaseDC(nullptr, screen);
    EXPECT_EQ(ground, RGB(255, 255, 255));
    // The "Reset" button's face is drawn, not covered by the ground.
    COLORREF face = ScreenPixel(Control(App, IDC_RESET));
    EXPECT_NE(face, RGB(255, 255, 255));
}

TEST_F(ProgramTest, MainWindowClassTitleStylesPlaceAndMenu)
{
    char cls[64];
    GetClassNameA(App.main, cls, sizeof(cls));
    EXPECT_STREQ(cls, MAIN_CLASS);
    wchar_t title[200];
    GetWindowTextW(App.main, title, 200);
    EXPECT_STREQ(title, L"Testeur d'entrées/Sorties sur Port Parallèle      _-=<TRAVEK>=-_          By Velkaris ");
    const DWORD expected = WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX;
    DWORD style = GetWindowLongA(App.main, GWL_STYLE);
    EXPECT_EQ(style & expected, expected);
    EXPECT_EQ(style & ~(expected | WS_CLIPSIBLINGS), 0u);
    EXPECT_TRUE(GetWindowLongA(App.main, GWL_EXSTYLE) & WS_EX_CONTEXTHELP);
    RECT r;
    GetWindowRect(App.main, &r);
    EXPECT_EQ(r.left, 200);
    EXPECT_EQ(r.top, 200);
    EXPECT_EQ(r.right - r.left, 800);
    EXPECT_EQ(r.bottom - r.top, 600);

    // Menus belong to their process: the entries themselves are checked in the
    // resources; here the window carries the class menu.
    EXPECT_NE(GetMenu(App.main), nullptr);
}

// Dialog base units of the panel's font, as the dialog manager computes them.
static SIZE BaseUnits()
{
    HDC dc = GetDC(nullptr);
    HFONT font = CreateFontW(-MulDiv(10, GetDeviceCaps(dc, LOGPIXELSY), 72), 0, 0, 0, FW_DONTCARE, FALSE,
                             FALSE, FALSE, DEFAULT_CHARSET, 0, 0, 0, 0, L"Comic Sans MS");
    HGDIOBJ old = SelectObject(dc, font);
    TEXTMETRICW tm;
    GetTextMetricsW(dc, &tm);
    SIZE sz;
    GetTextExtentPoint32W(dc, L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz", 52, &sz);
    SelectObject(dc, old);
    DeleteObject(font);
    ReleaseDC(nullptr, dc);
    SIZE units = { (sz.cx / 26 + 1) / 2, tm.tmHeight };
    return units;
}

TEST_F(ProgramTest, PanelHoldsTheTemplateItemsInOrder)
{
    // Shown by its creator; the dialog manager adds DS_3DLOOK.
    EXPECT_EQ(GetWindowLongA(App.panel, GWL_STYLE) & ~(WS_VISIBLE | WS_CLIPSIBLINGS | DS_3DLOOK), 0x40000040);
    SIZE units = BaseUnits();
    std::vector<HWND> children;
    for (HWND c = GetWindow(App.panel, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
        children.push_back(c);
    ASSERT_EQ(children.size(), static_cast<size_t>(PANEL_ITEMS));
    for (int i = 0; i < PANEL_ITEMS; ++i) {
        const PanelItem& item = PANEL_TEMPLATE[i];
        HWND c = children[i];
        SCOPED_TRACE("item " + std::to_string(i + 1));
        EXPECT_EQ(GetDlgCtrlID(c), item.id);
        wchar_t cls[64];
        GetClassNameW(c, cls, 64);
        EXPECT_EQ(_wcsicmp(cls, item.cls), 0) << "class";
        wchar_t caption[128] = {};
        InternalGetWindowText(c, caption, 128);
        if (i != 31) {
            EXPECT_STREQ(caption, item.caption);
        }
        DWORD style = GetWindowLongA(c, GWL_STYLE);
        DWORD ex = GetWindowLongA(c, GWL_EXSTYLE);
        // The edit control draws its border as a client edge, as on Windows.
        if ((item.style & WS_BORDER) && !(style & WS_BORDER) && (ex & WS_EX_CLIENTEDGE)) {
            style |= WS_BORDER;
            ex &= ~WS_EX_CLIENTEDGE;
        }
        EXPECT_EQ(style, item.style) << std::hex << style;
        // The dialog manager adds WS_EX_NOPARENTNOTIFY to every control.
        EXPECT_EQ(ex & ~WS_EX_NOPARENTNOTIFY, item.exStyle);
        RECT r;
        GetWindowRect(c, &r);
        MapWindowPoints(nullptr, App.panel, reinterpret_cast<POINT*>(&r), 2);
        EXPECT_NEAR(r.left, MulDiv(item.x, units.cx, 4), 1);
        EXPECT_NEAR(r.top, MulDiv(item.y, units.cy, 8), 1);
        if (i == 31) {  // the image static takes the banner's size
            EXPECT_EQ(r.right - r.left, 391);
            EXPECT_EQ(r.bottom - r.top, 62);
        } else {
            EXPECT_NEAR(r.right - r.left, MulDiv(item.cx, units.cx, 4), 1);
            EXPECT_NEAR(r.bottom - r.top, MulDiv(item.cy, units.cy, 8), 1);
        }
    }
    EXPECT_EQ(Control(App, 1021), nullptr);  // the number no control has
}

TEST_F(ProgramTest, StartupWritesZeroOnceBeforePollingAndSetsTheSlider)
{
    std::vector<SimPortWrite> w = JournalSince(App.startMark);
    ASSERT_GE(w.size(), 1u);
    EXPECT_EQ(w[0].port, 888);
    EXPECT_EQ(w[0].value, 0);
    EXPECT_EQ(WritesAtFirstRead, App.startMark + 1) << "one write of 0, then polling";
    EXPECT_EQ(w.size(), 1u) << "nothing else written while idle";
    HWND slider = Control(App, IDC_DELAY_SLIDER);
    EXPECT_EQ(SendMessageA(slider, TBM_GETPOS, 0, 0), 100);
    EXPECT_EQ(SendMessageA(slider, TBM_GETRANGEMIN, 0, 0), 0);
    EXPECT_EQ(SendMessageA(slider, TBM_GETRANGEMAX, 0, 0), 200);
    EXPECT_EQ(Leds(), "00000000");
    EXPECT_EQ(Lamps(), "-----");
}

TEST_F(ProgramTest, StopWithNothingStartedWritesZero)
{
    int64_t mark = JournalMark();
    Click(Control(App, IDC_STOP));
    EXPECT_EQ(ValuesSince(mark), (std::vector<int>{ 0, 0 }));
    EXPECT_EQ(Leds(), "00000000");
}

TEST_F(ProgramTest, ResetAndTheEightLedButtons)
{
    ASSERT_NO_FATAL_FAILURE(LearnLitPicture());
    EXPECT_EQ(Leds(), "11111111");

    int64_t mark = JournalMark();
    Click(Control(App, IDC_RESET));
    EXPECT_EQ(ValuesSince(mark), (std::vector<int>{ 0 }));
    EXPECT_EQ(Leds(), "00000000");

    for (int led = 0; led < 8; ++led) {
        SCOPED_TRACE("LED " + std::to_string(led + 1));
        mark = JournalMark();
        Click(Control(App, SLOT_CONTROLS[led]));
        EXPECT_EQ(ValuesSince(mark), (std::vector<int>{ 0, 0, 1 << led }));
        EXPECT_EQ(Port()->data, 1 << led);
        std::string expected(8, '0');
        expected[led] = '1';
        EXPECT_EQ(Leds(), expected);
        LetTimePass(40);  // extinguish ticks pass: the LED stays lit
        Settle();
        EXPECT_EQ(Leds(), expected);
        HWND lit = Control(App, SLOT_CONTROLS[led]), other = Control(App, SLOT_CONTROLS[(led + 1) % OUTPUT_SLOTS]);
        EXPECT_TRUE(WaitFor([&] { return IsBrightRed(ScreenPixel(lit)); }, 3000)) << "lit LED on screen";
        EXPECT_TRUE(IsDarkRed(ScreenPixel(other))) << "unlit LED on screen";
    }
}

TEST_F(ProgramTest, EnvoiWritesTheTypedNumber)
{
    struct Case {
        const char* text;
        int written;       // the 16-bit value the port receives
        const char* leds;  // LED 1 to LED 8
    } cases[] = {
        { "", 0, "00000000" },
        { "300", 300, "00110100" },
        { "256", 256, "00000000" },
        { "65535", 65535, "11111111" },
        { "65537", 1, "10000000" },
        { "40000", 40000, "00000010" },
        { "99999999999", 59391, "11111111" },
        { "0000000000000000000000000000001", 1, "10000000" },
        { "9999999999999999999999999999999", 65535, "11111111" },
        // 33 characters: only the first 31 are read ("...0001" cut to 31 zeros-and-ones)
        { "000000000000000000000000000000123", 1, "10000000" },
    };
    ASSERT_NO_FATAL_FAILURE(LearnLitPicture());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        TypeText(Control(App, IDC_NUMBER_BOX), c.text);
        int64_t mark = JournalMark();
        Click(Control(App, IDC_SEND));
        std::vector<SimPortWrite> w = JournalSince(mark);
        ASSERT_EQ(w.size(), 2u);
        EXPECT_EQ(w[0].value, 0);
        EXPECT_EQ(w[1].value, c.written);
        EXPECT_EQ(Port()->data, c.written & 0xFF);
        EXPECT_EQ(Leds(), c.leds);
    }
}

TEST_F(ProgramTest, InvalidNumberIsReportedAndNothingIsWritten)
{
    ASSERT_NO_FATAL_FAILURE(LearnLitPicture());
    TypeText(Control(App, IDC_NUMBER_BOX), "300");
    Click(Control(App, IDC_SEND));
    const char* invalid[] = { "12a", " 5", "-3", "+7", "\xe9", "3.5" };
    for (const char* text : invalid) {
        SCOPED_TRACE(text);
        TypeText(Control(App, IDC_NUMBER_BOX), text);
        int64_t mark = JournalMark();
        ClickLater(Control(App, IDC_SEND));
        HWND box = WaitForBox(L"Chiffre incorrect", 10000);
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(BoxText(box), L"Veuillez entrer un nombre valide");
        AnswerBox(box, IDOK);
        Settle();
        EXPECT_TRUE(JournalSince(mark).empty());
        EXPECT_EQ(Port()->data, 300 & 0xFF);
        EXPECT_EQ(Leds(), "00110100");
    }
}

TEST_F(ProgramTest, SensorLampsFollowTheStatusRegisterAndIgnoreClicks)
{
    SimPortSetStatus(Port(), 119);
    ASSERT_TRUE(WaitFor([] { return TextOf(Control(App, IDC_STATUS_BOX)) == L"119"; }, 5000));
    ASSERT_TRUE(WaitFor([] {
        HANDLE h = ImageOf(IDC_SENSOR1);
        if (h && h != SensorIdle)
            SensorActive = h;
        return SensorActive != nullptr;
    }, 5000));
    EXPECT_TRUE(WaitFor([] { return Lamps() == "a----"; }, 5000)) << Lamps();

    struct Case {
        int status;
        const char* lamps;
    } cases[] = { { 111, "-a---" }, { 95, "--a--" }, { 255, "---a-" }, { 63, "----a" } };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.status);
        SimPortSetStatus(Port(), c.status);
        EXPECT_TRUE(WaitFor([&] { return Lamps() == c.lamps; }, 5000)) << Lamps();
        EXPECT_EQ(TextOf(Control(App, IDC_STATUS_BOX)), std::to_wstring(c.status));
    }
    SimPortSetStatus(Port(), -1);
    EXPECT_TRUE(WaitFor([] { return TextOf(Control(App, IDC_STATUS_BOX)) == L"-1"; }, 5000));
    EXPECT_TRUE(WaitFor([] { return Lamps() == "-----"; }, 5000)) << "reset tick clears the lamp";

    int64_t mark = JournalMark();
    for (int slot = FIRST_SENSOR_SLOT; slot < INDICATOR_SLOTS; ++slot)
        Click(Control(App, SLOT_CONTROLS[slot]));
    EXPECT_TRUE(JournalSince(mark).empty()) << "sensor clicks do nothing";
    SimPortSetStatus(Port(), 127);
    EXPECT_TRUE(WaitFor([] { return TextOf(Control(App, IDC_STATUS_BOX)) == L"127"; }, 5000));
}

// The values written since the mark without the zeros: the effects' steps
// without the clears between them.
static std::vector<int> PassValues(int64_t mark)
{
    std::vector<int> values;
    for (const SimPortWrite& w : JournalSince(mark))
        if (w.value != 0)
            values.push_back(w.value);
    return values;
}

TEST_F(ProgramTest, EffectButtonsStartAndStopTheirTimers)
{
    SendMessageA(Control(App, IDC_DELAY_SLIDER), TBM_SETPOS, TRUE, 0);
    int64_t mark = JournalMark();
    Click(Control(App, IDC_K2000));
    Click(Control(App, IDC_K2000));  // started twice: still one timer
    ASSERT_TRUE(WaitFor([&] { return PassValues(mark).size() >= 48; }, 10000));
    Click(Control(App, IDC_CHENILLARD));
    ASSERT_TRUE(WaitFor([&] { return PassValues(mark).size() >= 120; }, 10000));
    Click(Control(App, IDC_STOP));
    Settle();
    int64_t stopped = JournalMark();
    std::vector<int> values = PassValues(mark);
    // Every pass is whole: K2000 passes of 16 and Chenillard passes of 8, in turns.
    const std::vector<int> k2000 = { 1, 2, 4, 8, 16, 32, 64, 128, 128, 64, 32, 16, 8, 4, 2, 1 };
    const std::vector<int> chenillard = { 1, 2, 4, 8, 16, 32, 64, 128 };
    size_t i = 0, k = 0, c = 0;
    while (i < values.size()) {
        if (i + 16 <= values.size() && std::equal(k2000.begin(), k2000.end(), values.begin() + i)) {
            i += 16;
            ++k;
        } else if (i + 8 <= values.size() && std::equal(chenillard.begin(), chenillard.end(), values.begin() + i)) {
            i += 8;
            ++c;
        } else {
            break;
        }
    }
    EXPECT_EQ(i, values.size()) << "a pass was cut or interleaved at write " << i;
    EXPECT_GE(k, 3u);
    EXPECT_GE(c, 1u);
    std::vector<SimPortWrite> tail = JournalSince(stopped - 2);
    ASSERT_EQ(tail.size(), 2u);
    EXPECT_EQ(tail[1].value, 0) << "stop ends with 0";
    LetTimePass(200);
    EXPECT_TRUE(JournalSince(stopped).empty()) << "both effects stopped";

    mark = JournalMark();
    Click(Control(App, IDC_FONTAINE));
    EXPECT_EQ(ValuesSince(mark), (std::vector<int>{ 0, 24, 0, 36, 0, 66, 0, 129 }));
    WaitFor([] { return Leds() == "00000000"; }, 5000);  // the next extinguish tick
    Settle();
    EXPECT_EQ(Leds(), "00000000") << "LEDs 1 and 8 unlit after the tick";
    EXPECT_EQ(Port()->data, 129);
    SendMessageA(Control(App, IDC_DELAY_SLIDER), TBM_SETPOS, TRUE, 100);
}

TEST_F(ProgramTest, APassBlocksPollingThenItResumes)
{
    SendMessageA(Control(App, IDC_DELAY_SLIDER), TBM_SETPOS, TRUE, 50);
    SimPortSetStatus(Port(), 127);
    ASSERT_TRUE(WaitFor([] { return TextOf(Control(App, IDC_STATUS_BOX)) == L"127"; }, 5000));
    int64_t mark = JournalMark();
    ClickLater(Control(App, IDC_FONTAINE));  // Fontaine: 4 x 50 ms inside the click
    ASSERT_TRUE(WaitFor([&] { return !JournalSince(mark).empty(); }, 5000));
    int64_t reads = Port()->reads;
    SimPortSetStatus(Port(), 95);
    LetTimePass(100);
    EXPECT_EQ(Port()->reads, reads) << "no poll during the pass";
    wchar_t shown[16] = {};
    InternalGetWindowText(Control(App, IDC_STATUS_BOX), shown, 16);
    EXPECT_STRNE(shown, L"95");
    ASSERT_TRUE(WaitFor([] { return TextOf(Control(App, IDC_STATUS_BOX)) == L"95"; }, 5000));
    EXPECT_GT(Port()->reads, reads);
    SimPortSetStatus(Port(), 127);
    SendMessageA(Control(App, IDC_DELAY_SLIDER), TBM_SETPOS, TRUE, 100);
}

TEST_F(ProgramTest, CloseConfirmationKeepsPollingCancelKeepsRunningOkExits)
{
    SendMessageA(Control(App, IDC_DELAY_SLIDER), TBM_SETPOS, TRUE, 0);
    Click(Control(App, IDC_K2000));
    PostMessageA(App.main, WM_SYSCOMMAND, SC_CLOSE, 0);
    HWND box = WaitForBox(L"Quitter", 10000);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(BoxText(box), L"Désirez vous quitter l'application ?");
    EXPECT_EQ(GetWindow(box, GW_OWNER), App.main);
    int64_t reads = Port()->reads, writes = JournalMark();
    SimPortSetStatus(Port(), 111);
    EXPECT_TRUE(WaitFor([] { return TextOf(Control(App, IDC_STATUS_BOX)) == L"111"; }, 5000)) << "polling goes on";
    EXPECT_TRUE(WaitFor([&] { return JournalMark() > writes + 32; }, 5000)) << "K2000 goes on";
    EXPECT_GT(Port()->reads, reads);
    AnswerBox(box, IDCANCEL);
    EXPECT_EQ(WaitForSingleObject(App.process.hProcess, 300), static_cast<DWORD>(WAIT_TIMEOUT));
    writes = JournalMark();
    EXPECT_TRUE(WaitFor([&] { return JournalMark() > writes + 32; }, 5000)) << "still running after Cancel";

    PostMessageA(App.main, WM_COMMAND, IDM_ABOUT, 0);  // "About" does nothing
    PostMessageA(App.main, WM_COMMAND, IDM_QUIT, 0);  // "&Quitter" asks the same question
    box = WaitForBox(L"Quitter", 10000);
    ASSERT_NE(box, nullptr);
    AnswerBox(box, IDOK);
    ASSERT_EQ(WaitForSingleObject(App.process.hProcess, 10000), WAIT_OBJECT_0);
    DWORD code = 1;
    GetExitCodeProcess(App.process.hProcess, &code);
    EXPECT_EQ(code, 0u);
    SimPortSetStatus(Port(), 127);
}
