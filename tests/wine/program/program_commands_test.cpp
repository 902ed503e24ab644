// The real program end to end, driven through its window from this process,
// observed through the simulated port's shared state: the panel's commands, the sensor lamps and closing.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>
#include <algorithm>
#include <string>
#include <vector>
#include "programview.h"
#include "resource.h"
#include "slots.h"
#include "testwin.h"

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
        std::vector<JournalWrite> w = JournalSince(mark);
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
        HWND box = WaitForBox(L"Chiffre incorrect", WaitLongMs());
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
    ASSERT_TRUE(WaitFor([] { return TextOf(Control(App, IDC_STATUS_BOX)) == L"119"; }, WaitMs()));
    ASSERT_TRUE(WaitFor([] {
        HANDLE h = ImageOf(IDC_SENSOR1);
        if (h && h != SensorIdle)
            SensorActive = h;
        return SensorActive != nullptr;
    }, WaitMs()));
    EXPECT_TRUE(WaitFor([] { return Lamps() == "a----"; }, WaitMs())) << Lamps();

    struct Case {
        int status;
        const char* lamps;
    } cases[] = { { 111, "-a---" }, { 95, "--a--" }, { 255, "---a-" }, { 63, "----a" } };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.status);
        SimPortSetStatus(Port(), c.status);
        EXPECT_TRUE(WaitFor([&] { return Lamps() == c.lamps; }, WaitMs())) << Lamps();
        EXPECT_EQ(TextOf(Control(App, IDC_STATUS_BOX)), std::to_wstring(c.status));
    }
    SimPortSetStatus(Port(), -1);
    EXPECT_TRUE(WaitFor([] { return TextOf(Control(App, IDC_STATUS_BOX)) == L"-1"; }, WaitMs()));
    EXPECT_TRUE(WaitFor([] { return Lamps() == "-----"; }, WaitMs())) << "reset tick clears the lamp";

    int64_t mark = JournalMark();
    for (int slot = FIRST_SENSOR_SLOT; slot < INDICATOR_SLOTS; ++slot)
        Click(Control(App, SLOT_CONTROLS[slot]));
    EXPECT_TRUE(JournalSince(mark).empty()) << "sensor clicks do nothing";
    SimPortSetStatus(Port(), PORT_STATUS_IDLE);
    EXPECT_TRUE(WaitFor([] { return TextOf(Control(App, IDC_STATUS_BOX)) == std::to_wstring(PORT_STATUS_IDLE); }, WaitMs()));
}

// The values written since the mark without the zeros: the effects' steps
// without the clears between them.
static std::vector<int> PassValues(int64_t mark)
{
    std::vector<int> values;
    for (const JournalWrite& w : JournalSince(mark))
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
    ASSERT_TRUE(WaitFor([&] { return PassValues(mark).size() >= 48; }, WaitLongMs()));
    Click(Control(App, IDC_CHENILLARD));
    ASSERT_TRUE(WaitFor([&] { return PassValues(mark).size() >= 120; }, WaitLongMs()));
    Click(Control(App, IDC_STOP));
    Settle();
    int64_t stopped = JournalMark();
    std::vector<int> values = PassValues(mark);
    // Every pass is whole: K2000 passes of 16 and Chenillard passes of 8, in turns.
    const std::vector<int>& k2000 = K2000_PASS;
    const std::vector<int>& chenillard = CHENILLARD_PASS;
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
    std::vector<JournalWrite> tail = JournalSince(stopped - 2);
    ASSERT_EQ(tail.size(), 2u);
    EXPECT_EQ(tail[1].value, 0) << "stop ends with 0";
    LetTimePass(200);
    EXPECT_TRUE(JournalSince(stopped).empty()) << "both effects stopped";

    mark = JournalMark();
    Click(Control(App, IDC_FONTAINE));
    EXPECT_EQ(ValuesSince(mark), (std::vector<int>{ 0, 24, 0, 36, 0, 66, 0, 129 }));
    WaitFor([] { return Leds() == "00000000"; }, WaitMs());  // the next extinguish tick
    Settle();
    EXPECT_EQ(Leds(), "00000000") << "LEDs 1 and 8 unlit after the tick";
    EXPECT_EQ(Port()->data, 129);
    SendMessageA(Control(App, IDC_DELAY_SLIDER), TBM_SETPOS, TRUE, 100);
}

TEST_F(ProgramTest, APassBlocksPollingThenItResumes)
{
    SendMessageA(Control(App, IDC_DELAY_SLIDER), TBM_SETPOS, TRUE, 50);
    SimPortSetStatus(Port(), PORT_STATUS_IDLE);
    ASSERT_TRUE(WaitFor([] { return TextOf(Control(App, IDC_STATUS_BOX)) == std::to_wstring(PORT_STATUS_IDLE); }, WaitMs()));
    int64_t mark = JournalMark();
    ClickLater(Control(App, IDC_FONTAINE));  // Fontaine: 4 x 50 ms inside the click
    ASSERT_TRUE(WaitFor([&] { return !JournalSince(mark).empty(); }, WaitMs()));
    int64_t reads = Port()->reads;
    SimPortSetStatus(Port(), 95);
    LetTimePass(100);
    EXPECT_EQ(Port()->reads, reads) << "no poll during the pass";
    wchar_t shown[16] = {};
    InternalGetWindowText(Control(App, IDC_STATUS_BOX), shown, 16);
    EXPECT_STRNE(shown, L"95");
    ASSERT_TRUE(WaitFor([] { return TextOf(Control(App, IDC_STATUS_BOX)) == L"95"; }, WaitMs()));
    EXPECT_GT(Port()->reads, reads);
    SimPortSetStatus(Port(), PORT_STATUS_IDLE);
    SendMessageA(Control(App, IDC_DELAY_SLIDER), TBM_SETPOS, TRUE, 100);
}

TEST_F(ProgramTest, CloseConfirmationKeepsPollingCancelKeepsRunningOkExits)
{
    SendMessageA(Control(App, IDC_DELAY_SLIDER), TBM_SETPOS, TRUE, 0);
    Click(Control(App, IDC_K2000));
    PostMessageA(App.main, WM_SYSCOMMAND, SC_CLOSE, 0);
    HWND box = WaitForBox(L"Quitter", WaitLongMs());
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(BoxText(box), L"Désirez vous quitter l'application ?");
    EXPECT_EQ(GetWindow(box, GW_OWNER), App.main);
    int64_t reads = Port()->reads, writes = JournalMark();
    SimPortSetStatus(Port(), 111);
    EXPECT_TRUE(WaitFor([] { return TextOf(Control(App, IDC_STATUS_BOX)) == L"111"; }, WaitMs())) << "polling goes on";
    EXPECT_TRUE(WaitFor([&] { return JournalMark() > writes + 32; }, WaitMs())) << "K2000 goes on";
    EXPECT_GT(Port()->reads, reads);
    AnswerBox(box, IDCANCEL);
    EXPECT_EQ(WaitForSingleObject(App.process.hProcess, 300), static_cast<DWORD>(WAIT_TIMEOUT));
    writes = JournalMark();
    EXPECT_TRUE(WaitFor([&] { return JournalMark() > writes + 32; }, WaitMs())) << "still running after Cancel";

    PostMessageA(App.main, WM_COMMAND, IDM_ABOUT, 0);  // "About" does nothing
    PostMessageA(App.main, WM_COMMAND, IDM_QUIT, 0);  // "&Quitter" asks the same question
    box = WaitForBox(L"Quitter", WaitLongMs());
    ASSERT_NE(box, nullptr);
    AnswerBox(box, IDOK);
    ASSERT_EQ(WaitForSingleObject(App.process.hProcess, WaitLongMs()), WAIT_OBJECT_0);
    DWORD code = 1;
    GetExitCodeProcess(App.process.hProcess, &code);
    EXPECT_EQ(code, 0u);
    SimPortSetStatus(Port(), PORT_STATUS_IDLE);
}
