// The real program end to end, driven through its window from this process,
// observed through the simulated port's shared state: its window, panel and start-up.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>
#include <string>
#include <vector>
#include "dlgtemplate.h"
#include "mainclass.h"
#include "programview.h"
#include "resfile.h"
#include "resource.h"
#include "slots.h"
#include "testwin.h"

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
    WaitFor(FirstFramePainted, WaitMs());
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

// The panel's template as the program file holds it; no items if it is missing.
static ParsedDialog PanelTemplate()
{
    for (const Resource& r : FileResources(TestFolder() + "Travek.exe"))
        if (KeyIsOrdinal(r.type, RT_DIALOG) && KeyIsOrdinal(r.name, MAKEINTRESOURCEA(IDD_CONTROL_PANEL)))
            return ParseDialog(r.data.data(), static_cast<DWORD>(r.data.size()));
    return ParsedDialog{};
}

// The class a template names: the predefined ones by ordinal, others by name.
static std::wstring ClassOf(const ParsedItem& item)
{
    if (item.cls == L"#128")
        return L"Button";
    if (item.cls == L"#129")
        return L"Edit";
    if (item.cls == L"#130")
        return L"Static";
    return item.cls;
}

TEST_F(ProgramTest, PanelHoldsTheTemplateItemsInOrder)
{
    const ParsedDialog panel = PanelTemplate();
    ASSERT_FALSE(panel.overrun);
    ASSERT_EQ(panel.items.size(), size_t(32)) << "the template read from the program file";
    // Shown by its creator; the dialog manager adds DS_3DLOOK.
    EXPECT_EQ(GetWindowLongA(App.panel, GWL_STYLE) & ~(WS_VISIBLE | WS_CLIPSIBLINGS | DS_3DLOOK), 0x40000040);
    SIZE units = BaseUnits();
    std::vector<HWND> children;
    for (HWND c = GetWindow(App.panel, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
        children.push_back(c);
    ASSERT_EQ(children.size(), panel.items.size());
    for (size_t i = 0; i < children.size(); ++i) {
        const ParsedItem& item = panel.items[i];
        HWND c = children[i];
        SCOPED_TRACE("item " + std::to_string(i + 1));
        EXPECT_EQ(GetDlgCtrlID(c), static_cast<int>(item.id));
        wchar_t cls[64];
        GetClassNameW(c, cls, 64);
        EXPECT_EQ(_wcsicmp(cls, ClassOf(item).c_str()), 0) << "class";
        wchar_t caption[128] = {};
        InternalGetWindowText(c, caption, 128);
        if (i != 31) {
            EXPECT_STREQ(caption, item.caption.c_str());
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
    std::vector<JournalWrite> w = JournalSince(App.startMark);
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
