// Polling of the status register: what the status box and the five sensor
// lamps show, polled directly and from real timers 101 and 103.
#include <gtest/gtest.h>
#include "effects.h"
#include "handles.h"
#include "indicators.h"
#include "port.h"
#include "testwin.h"

class Sensors : public ::testing::Test {
protected:
    void SetUp() override
    {
        panel = CreateTestPanel(TimerDispatchProc);
        ShowSensorsIdle();
    }
    void TearDown() override
    {
        SimPortSetStatus(SharedPortAttach(), PORT_STATUS_IDLE);
        DestroyTestPanel(panel);
    }
    void SetStatus(int value) { SimPortSetStatus(SharedPortAttach(), value); }
    // Polls once with this status value and returns the status box's text.
    std::string Poll(int value)
    {
        SetStatus(value);
        PollSensors();
        return StatusText();
    }
    std::string StatusText()
    {
        char text[32] = {};
        GetWindowTextA(panel.statusBox, text, sizeof(text));
        return text;
    }
    TestPanel panel;
};

// The lamps "Capteur 1" to "Capteur 5": '*' lit, '.' idle, '?' anything else.
static std::string Lamps()
{
    std::string s;
    for (int slot = FIRST_SENSOR_SLOT; slot < INDICATOR_SLOTS; ++slot) {
        std::string shown = ShownImage(slot);
        s += shown == "sensorActive" ? '*' : shown == "sensorIdle" ? '.' : '?';
    }
    return s;
}

TEST_F(Sensors, EachRecognisedValueLightsItsOwnLampOnly)
{
    struct Case {
        int value;
        const char* lamps;
    } cases[] = {
        { 119, "*...." },  // nError low
        { 111, ".*..." },  // Select low
        { 95, "..*.." },   // PaperOut low
        { 255, "...*." },  // Busy low, read inverted
        { 63, "....*" },   // nAck low
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Poll(c.value), std::to_string(c.value));
        EXPECT_EQ(Lamps(), c.lamps) << c.value;
        EXPECT_EQ(LastStatusValue, c.value);
    }
    EXPECT_EQ(ShownImages(0, 7), "none none none none none none none none") << "outputs untouched";
}

TEST_F(Sensors, OtherValuesAreShownAndChangeNoLamp)
{
    struct Case {
        int value;
        const char* text;
    } cases[] = {
        { PORT_STATUS_IDLE, "127" },        // idle
        { 103, "103" },        // nError and Select low together
        { 120, "120" },        // idle with bits 0 to 2 at 0
        { 112, "112" },        // nError low with bits 0 to 2 at 0
        { 0x177, "375" },      // low byte 119, but the whole value counts
        { -1, "-1" },          // low byte 255
        { -32768, "-32768" },
        { 0, "0" },
    };
    Poll(95);
    for (const Case& c : cases) {
        EXPECT_EQ(Poll(c.value), c.text);
        EXPECT_EQ(Lamps(), "..*..") << c.value << " leaves the lit lamp alone";
    }
    SensorResetTick();
    for (const Case& c : cases) {
        Poll(c.value);
        EXPECT_EQ(Lamps(), ".....") << c.value;
    }
}

TEST_F(Sensors, EveryPollRewritesTheStatusBox)
{
    Poll(PORT_STATUS_IDLE);
    SetWindowTextA(panel.statusBox, "x");
    EXPECT_EQ(Poll(PORT_STATUS_IDLE), "127") << "shown again although unchanged";
}

TEST_F(Sensors, ALightMovesAtOnceAndTheResetTickDarkensIt)
{
    Poll(119);
    Poll(63);
    EXPECT_EQ(Lamps(), "....*") << "a different recognised value before the reset tick";
    WriteOutputs(DATA_PORT, 24);
    int64_t mark = JournalMark();
    SensorResetTick();
    EXPECT_EQ(Lamps(), ".....");
    EXPECT_EQ(ShownImages(3, 4), "ledOn ledOn") << "the reset tick leaves the outputs";
    EXPECT_TRUE(JournalSince(mark).empty());
    EXPECT_EQ(StatusText(), "63") << "and the status box";
    Poll(63);
    EXPECT_EQ(Lamps(), "....*") << "lit again while the input stays low";
}

TEST_F(Sensors, TimersPollAndResetAsTheProgramRunsThem)
{
    SetStatus(111);
    SetTimer(panel.main, TIMER_SENSOR_POLL, 1, nullptr);
    SetTimer(panel.main, TIMER_SENSOR_RESET, 500, nullptr);
    ASSERT_TRUE(PumpUntil([&] { return Lamps() == ".*..." && StatusText() == "111"; }, 2000));
    SetStatus(255);
    ASSERT_TRUE(PumpUntil([&] { return Lamps() == "...*."; }, 2000));
    SetStatus(PORT_STATUS_IDLE);  // released: the lamp stays lit until the reset tick
    SetTimer(panel.main, TIMER_SENSOR_RESET, 500, nullptr);  // which is now 500 ms away
    ASSERT_TRUE(PumpUntil([&] { return StatusText() == std::to_string(PORT_STATUS_IDLE); }, 2000));
    EXPECT_EQ(Lamps(), "...*.");
    EXPECT_TRUE(PumpUntil([&] { return Lamps() == "....."; }, 2000)) << "the reset tick comes";
    LetTimePass(50);
    EXPECT_EQ(Lamps(), ".....");
}
