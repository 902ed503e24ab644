// The real program on the emulated parallel port, end to end under Wine:
// TRAVEK_PORT names the emulated ppdev device, the library starts the native
// helper, and what the program writes is read back from the device's record
// of data writes; the status pins are set through its control file. Runs
// inside the emulated port's fixture (with-emuport.sh).
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>
#include <string>
#include <vector>
#include "emudevice.h"
#include "program.h"

static const int LED3 = 1002, K2000 = 1009, FONTAINE = 1011, STOP = 1017, SLIDER = 1018;
static const int NUMBER_BOX = 1019, ENVOI = 1020, STATUS_TEXT = 1022;
static const int SENSOR_IDS[5] = { 1012, 1013, 1014, 1015, 1016 };
static const DWORD WIRE_WAIT_MS = 5000;  // for writes to reach the device

static Program App;                      // the program of the suite, on the emulated port
static HANDLE SensorIdle, SensorActive;  // the program's lamp pictures

static HANDLE ImageOf(int id)
{
    return reinterpret_cast<HANDLE>(SendMessageA(Control(App, id), BM_GETIMAGE, IMAGE_BITMAP, 0));
}

// "a" for the active lamp, "-" for idle ones, "?" otherwise.
static std::string Lamps()
{
    std::string s;
    for (int id : SENSOR_IDS) {
        HANDLE h = ImageOf(id);
        s += h && h == SensorActive ? 'a' : h == SensorIdle ? '-' : '?';
    }
    return s;
}

// Waits until the device has recorded `count` writes after `mark`; the values.
static std::vector<int> WireAfter(size_t mark, size_t count)
{
    std::vector<int> values;
    WaitFor([&] { return (values = EmuValues(mark)).size() >= count; }, WIRE_WAIT_MS);
    Sleep(20);  // nothing more may follow
    return EmuValues(mark);
}

class RealPort : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (EmuMount().empty())
            return;
        ASSERT_TRUE(EmuControl("normal\nstatus 127\nclear"));
        SetEnvironmentVariableA("TRAVEK_PORT", EmuDevice().c_str());
        ASSERT_TRUE(StartProgram(App));
        SensorIdle = ImageOf(SENSOR_IDS[0]);
    }
    static void TearDownTestSuite()
    {
        StopProgram(App);
        SetEnvironmentVariableA("TRAVEK_PORT", nullptr);
    }
    void SetUp() override
    {
        if (EmuMount().empty())
            GTEST_SKIP() << "run inside with-emuport.sh";
        ASSERT_TRUE(Responds(App, 10000));
    }
};

TEST_F(RealPort, StartupZeroLedEnvoiAndFontaineReachTheWireWithEveryZero)
{
    EXPECT_EQ(WireAfter(0, 1), (std::vector<int>{ 0 })) << "the start-up write";
    EXPECT_EQ(EmuState("claimed"), "1") << "the helper holds the port";

    size_t mark = EmuRecord().size();
    Click(Control(App, LED3));
    EXPECT_EQ(WireAfter(mark, 3), (std::vector<int>{ 0, 0, 4 }));

    struct Case { const char* text; int wire; } cases[] = { { "200", 200 }, { "300", 44 }, { "65535", 255 } };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        TypeText(Control(App, NUMBER_BOX), c.text);
        mark = EmuRecord().size();
        Click(Control(App, ENVOI));
        EXPECT_EQ(WireAfter(mark, 2), (std::vector<int>{ 0, c.wire })) << "the low eight bits";
    }

    SendMessageA(Control(App, SLIDER), TBM_SETPOS, TRUE, 0);
    mark = EmuRecord().size();
    Click(Control(App, FONTAINE));
    EXPECT_EQ(WireAfter(mark, 8), (std::vector<int>{ 0, 24, 0, 36, 0, 66, 0, 129 }));
    SendMessageA(Control(App, SLIDER), TBM_SETPOS, TRUE, 100);
}

TEST_F(RealPort, K2000PassesAtDelayZeroReachTheWireWhole)
{
    const int sweep[16] = { 1, 2, 4, 8, 16, 32, 64, 128, 128, 64, 32, 16, 8, 4, 2, 1 };
    SendMessageA(Control(App, SLIDER), TBM_SETPOS, TRUE, 0);
    size_t mark = EmuRecord().size();
    Click(Control(App, K2000));
    ASSERT_TRUE(WaitFor([&] { return EmuRecord().size() >= mark + 3 * 32; }, WIRE_WAIT_MS));
    Click(Control(App, STOP));
    ASSERT_TRUE(Responds(App, 10000));
    std::vector<int> wire = WireAfter(mark, 3 * 32 + 2);
    SendMessageA(Control(App, SLIDER), TBM_SETPOS, TRUE, 100);

    ASSERT_GE(wire.size(), 3u * 32 + 2);
    EXPECT_EQ(wire[wire.size() - 2], 0) << "Stop clears";
    EXPECT_EQ(wire[wire.size() - 1], 0);
    size_t passes = (wire.size() - 2) / 32;
    ASSERT_EQ(passes * 32 + 2, wire.size()) << "whole passes only";
    for (size_t i = 0; i < passes * 32; i += 2) {
        ASSERT_EQ(wire[i], 0) << "write " << i;
        ASSERT_EQ(wire[i + 1], sweep[(i / 2) % 16]) << "write " << i + 1;
    }
}

TEST_F(RealPort, EachSensorCodeOnTheStatusPinsLightsItsLamp)
{
    struct Case { int status; const char* lamps; } cases[] = {
        { 119, "a----" }, { 111, "-a---" }, { 95, "--a--" }, { 255, "---a-" }, { 63, "----a" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.status);
        ASSERT_TRUE(EmuControl("status " + std::to_string(c.status)));
        EXPECT_TRUE(WaitFor([&] { return TextOf(Control(App, STATUS_TEXT)) == std::to_wstring(c.status); }, 5000));
        EXPECT_TRUE(WaitFor([&] {
            int lit = &c - cases;
            HANDLE h = ImageOf(SENSOR_IDS[lit]);
            if (h && h != SensorIdle)
                SensorActive = h;
            return Lamps() == c.lamps;
        }, 5000)) << Lamps();
    }
    ASSERT_TRUE(EmuControl("status 127"));
    EXPECT_TRUE(WaitFor([] { return TextOf(Control(App, STATUS_TEXT)) == L"127"; }, 5000));
    EXPECT_TRUE(WaitFor([] { return Lamps() == "-----"; }, 5000)) << "no lamp for 127";
}
