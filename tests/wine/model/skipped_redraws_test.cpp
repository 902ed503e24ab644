// Pictures and texts the program no longer sets again when they are already
// shown: after any sequence of operations every indicator shows the right
// picture, a write's pictures reach the buttons only once its value is on the
// lines, and the status box holds the polled value after every poll.
#include <gtest/gtest.h>
#include <random>
#include "effects.h"
#include "handles.h"
#include "indicators.h"
#include "port.h"
#include "statusbox.h"
#include "testwin.h"

static WNDPROC ButtonProc;         // the button class's own procedure
static std::vector<int> ChangeAt;  // per picture change: writes journaled since the watched write began
static std::string ModelAt;        // the model's LED pictures at the first change
static int64_t WriteMark;          // journal count when the watched write began
static int Changes;                // picture changes seen

static LRESULT CALLBACK WatchedButtonProc(HWND w, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == BM_SETIMAGE) {
        if (Changes++ == 0)
            for (int slot = 0; slot < OUTPUT_SLOTS; ++slot)
                ModelAt += IndicatorPictures[slot] == IndicatorImages.ledOn ? '1' : '0';
        ChangeAt.push_back(static_cast<int>(JournalMark() - WriteMark));
    }
    return CallWindowProcA(ButtonProc, w, message, wParam, lParam);
}

class ShownPicturesTest : public ::testing::Test {
protected:
    void SetUp() override { panel = CreateTestPanel(); }
    void TearDown() override { DestroyTestPanel(panel); }
    void Watch()
    {
        for (int slot = 0; slot < OUTPUT_SLOTS; ++slot)
            ButtonProc = reinterpret_cast<WNDPROC>(SetWindowLongPtrA(
                panel.buttons[slot], GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(WatchedButtonProc)));
    }
    TestPanel panel;
};

static const char* Name(bool lit)
{
    return lit ? "ledOn" : "ledOff";
}

// Random writes, clears, extinguish ticks with random flags and sensor changes;
// the expected pictures follow from each operation's description alone.
TEST_F(ShownPicturesTest, EveryIndicatorShowsTheRightPictureAfterAnySequence)
{
    std::mt19937 random(12);
    std::string leds[OUTPUT_SLOTS], lamps[INDICATOR_SLOTS - FIRST_SENSOR_SLOT];
    ClearOutputs();
    ShowSensorsIdle();
    for (std::string& l : leds)
        l = "ledOff";
    for (std::string& l : lamps)
        l = "sensorIdle";
    for (int step = 0; step < 3000; ++step) {
        int op = static_cast<int>(random() % 6);
        if (op <= 1) {
            short value = static_cast<short>(op == 0 ? random() % 256 : random() % 65536);
            WriteOutputs(DATA_PORT, value);
            for (int i = 0; i < OUTPUT_SLOTS; ++i)
                leds[i] = Name((static_cast<unsigned short>(value) >> i) & 1);
        } else if (op == 2) {
            ClearOutputs();
            for (std::string& l : leds)
                l = "ledOff";
        } else if (op == 3) {
            int flagged = static_cast<int>(random() % OUTPUT_SLOTS);
            ExtinguishFlags[flagged] = 1;
            ExtinguishTick();
            for (int i = 0; i < OUTPUT_SLOTS; ++i)
                if (ExtinguishFlags[i] == 1)
                    leds[i] = "ledOff";
        } else if (op == 4) {
            ShowSensorsIdle();
            for (std::string& l : lamps)
                l = "sensorIdle";
        } else {
            int lamp = static_cast<int>(random() % 5);
            ShowIndicator(FIRST_SENSOR_SLOT + lamp, IndicatorImages.sensorActive);
            lamps[lamp] = "sensorActive";
        }
        std::string expected;
        for (const std::string& l : leds)
            expected += l + " ";
        for (const std::string& l : lamps)
            expected += l + " ";
        expected.pop_back();
        ASSERT_EQ(ShownImages(0, INDICATOR_SLOTS - 1), expected) << "after step " << step << ", operation " << op;
    }
}

// Each write changes only the pictures that differ, all of them once its 0 and
// its value are written, and with the whole model already updated; a repeated
// value changes none.
TEST_F(ShownPicturesTest, PicturesReachTheButtonsAfterTheValue)
{
    WriteOutputs(DATA_PORT, 0);
    Watch();
    struct Case {
        short value;
        int changes;  // pictures that differ from the previous value's
    } cases[] = { { 1, 1 }, { 2, 2 }, { 2, 0 }, { 255, 7 }, { 255, 0 }, { 256, 8 }, { 129, 2 }, { -1, 6 } };
    for (const Case& c : cases) {
        Changes = 0;
        ChangeAt.clear();
        ModelAt.clear();
        WriteMark = JournalMark();
        WriteOutputs(DATA_PORT, c.value);
        EXPECT_EQ(Changes, c.changes) << c.value;
        for (int writes : ChangeAt)
            EXPECT_EQ(writes, 2) << c.value << ": a picture reached its button before the value";
        std::string lit;
        for (int i = 0; i < OUTPUT_SLOTS; ++i)
            lit += (static_cast<unsigned short>(c.value) >> i) & 1 ? '1' : '0';
        if (c.changes > 0) {
            EXPECT_EQ(ModelAt, lit) << c.value << ": the model was not complete before the pictures went out";
        }
        EXPECT_EQ(ValuesSince(WriteMark), (std::vector<int>{ 0, c.value }));
    }
}

// The model remembers the button and the picture: a new button, or a new
// bitmap in IndicatorImages, is set even where the old one was shown.
TEST_F(ShownPicturesTest, NewButtonsAndNewBitmapsAreSet)
{
    WriteOutputs(DATA_PORT, 4);
    HWND fresh = CreateWindowExA(0, "BUTTON", "", WS_CHILD | BS_BITMAP, 0, 0, 10, 10, panel.panel, nullptr,
                                 nullptr, nullptr);
    HWND old = IndicatorButtons[2];
    IndicatorButtons[2] = fresh;
    WriteOutputs(DATA_PORT, 4);
    EXPECT_EQ(ShownImage(2), std::string("ledOn"));
    IndicatorButtons[2] = old;
    DestroyWindow(fresh);

    HBITMAP previous = IndicatorImages.ledOff;
    IndicatorImages.ledOff = static_cast<HBITMAP>(CopyImage(previous, IMAGE_BITMAP, 0, 0, 0));
    ClearOutputs();
    EXPECT_EQ(ShownImages(0, 7), "ledOff ledOff ledOff ledOff ledOff ledOff ledOff ledOff");
    DeleteObject(previous);
}

static WNDPROC PanelProc;  // the test panel's own procedure
static int TextChanges;    // EN_CHANGE from the status box: texts the edit control really set

static LRESULT CALLBACK CountingPanelProc(HWND w, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_COMMAND && LOWORD(wParam) == 1022 && HIWORD(wParam) == EN_CHANGE)
        ++TextChanges;
    return CallWindowProcA(PanelProc, w, message, wParam, lParam);
}

// The box holds the value after every poll; an unchanged text is not set again
// unless a selection would be reset by it.
TEST_F(ShownPicturesTest, StatusBoxHoldsTheValueAfterEveryPoll)
{
    SkipUnchangedText(panel.statusBox);
    PanelProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(panel.panel, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(CountingPanelProc)));
    TextChanges = 0;
    const int values[] = { 127, 127, 127, 119, 119, 127, -1, -1, 32767, 0, 0, 255 };
    int changes = 0, previous = 1 << 20;
    for (int v : values) {
        SimPortSetStatus(SharedPortAttach(), v);
        PollSensors();
        char text[32] = {};
        GetWindowTextA(panel.statusBox, text, sizeof(text));
        EXPECT_EQ(std::string(text), std::to_string(v));
        changes += v != previous;
        previous = v;
    }
    EXPECT_EQ(TextChanges, changes);

    SendMessageA(panel.statusBox, EM_SETSEL, 0, -1);
    PollSensors();
    DWORD start = 1, end = 1;
    SendMessageA(panel.statusBox, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    EXPECT_EQ(start, 0u);
    EXPECT_EQ(end, 0u) << "the text is set again, as without the skip, when it resets a selection";
    SimPortSetStatus(SharedPortAttach(), PORT_STATUS_IDLE);
}
