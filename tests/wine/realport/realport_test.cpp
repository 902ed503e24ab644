// The real program on the emulated parallel port, end to end under Wine:
// TRAVEK_PORT names an emulated ppdev device, the library starts the native
// helper, and what the program writes is read back from the device's record
// of data writes and compared with the shared state's journal; the status
// pins and the faults are set through the device's control file. Each
// session has its own runtime folder, so its own state and helper. Runs
// inside the emulated port's fixture (with-emuport.sh).
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>
#include <stdio.h>
#include <algorithm>
#include <string>
#include <vector>
#include "emudevice.h"
#include "realsession.h"
#include "switches.h"
#include "testwin.h"
#include "vbench.h"
#include "realport.h"

const std::vector<int> LED3_WRITES = { 0, 0, 4 };

static HANDLE SensorIdle, SensorActive;  // the program's lamp pictures

static HANDLE ImageOf(const Program& p, int id)
{
    return reinterpret_cast<HANDLE>(SendMessageA(Control(p, id), BM_GETIMAGE, IMAGE_BITMAP, 0));
}

// "a" for the active lamp, "-" for idle ones, "?" otherwise.
static std::string Lamps(const Program& p)
{
    std::string s;
    for (int id = IDC_SENSOR1; id <= IDC_SENSOR5; ++id) {
        HANDLE h = ImageOf(p, id);
        s += h && h == SensorActive ? 'a' : h == SensorIdle ? '-' : '?';
    }
    return s;
}

// Waits until the device has recorded `count` writes after `mark`; the values.
static std::vector<int> WireAfter(size_t mark, size_t count, int device = 0)
{
    WaitFor([&] { return EmuRecord(mark, device).size() >= count; }, WaitMs());
    return EmuValues(mark, device);
}

std::vector<int> Tail(const std::vector<int>& v, size_t from)
{
    return from <= v.size() ? std::vector<int>(v.begin() + from, v.end()) : std::vector<int>();
}

bool PortsFree()
{
    return WaitFor([] { return EmuState("claimed", 0) == "0" && EmuState("claimed", 1) == "0"; }, HELPER_END_MS);
}

bool NotInFixture()
{
    return EmuMount().empty();
}

// The wire: one session for the suite; after each test the device's record
// equals the journal's data writes.
class RealPort : public ::testing::Test {
protected:
    static RealSession S;
    static void SetUpTestSuite()
    {
        if (NotInFixture())
            return;
        ASSERT_TRUE(PortsFree());
        ASSERT_TRUE(EmuControl("normal\nstatus 127\nclear"));
        ASSERT_TRUE(StartRealSession(S, EmuDevice()));
        SensorIdle = ImageOf(S.program, IDC_SENSOR1);
    }
    static void TearDownTestSuite() { StopRealSession(S); }
    void SetUp() override
    {
        if (NotInFixture())
            GTEST_SKIP() << "run inside with-emuport.sh";
        ASSERT_TRUE(Responds(S.program, WaitLongMs()));
    }
    void TearDown() override
    {
        if (NotInFixture())
            return;
        ASSERT_TRUE(AllApplied(S, WaitMs()));
        EXPECT_EQ(EmuValues(), JournalData(S)) << "the wire got the journal exactly";
        EXPECT_EQ(AtomicLoad(&S.state->fault), uint32_t(PORT_FAULT_NONE)) << FaultText(S);
    }
};
RealSession RealPort::S;

TEST_F(RealPort, StartupZeroLedEnvoiAndFontaineReachTheWireWithEveryZero)
{
    EXPECT_EQ(WireAfter(0, 1), (std::vector<int>{ 0 })) << "the start-up write";
    EXPECT_EQ(EmuState("claimed"), "1") << "the helper holds the port";
    EXPECT_EQ(AtomicLoad(&S.state->backend), uint32_t(PORT_BACKEND_PPDEV));

    size_t mark = EmuRecord().size();
    Click(Control(S.program, IDC_LED3));
    EXPECT_EQ(WireAfter(mark, 3), LED3_WRITES);

    struct Case { const char* text; int wire; } cases[] = { { "200", 200 }, { "300", 44 }, { "65535", 255 } };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        TypeText(Control(S.program, IDC_NUMBER_BOX), c.text);
        mark = EmuRecord().size();
        Click(Control(S.program, IDC_SEND));
        EXPECT_EQ(WireAfter(mark, 2), (std::vector<int>{ 0, c.wire })) << "the low eight bits";
    }

    SendMessageA(Control(S.program, IDC_DELAY_SLIDER), TBM_SETPOS, TRUE, 0);
    mark = EmuRecord().size();
    Click(Control(S.program, IDC_FONTAINE));
    EXPECT_EQ(WireAfter(mark, 8), (std::vector<int>{ 0, 24, 0, 36, 0, 66, 0, 129 }));
    SendMessageA(Control(S.program, IDC_DELAY_SLIDER), TBM_SETPOS, TRUE, 100);
}

TEST_F(RealPort, K2000PassesAtDelayZeroReachTheWireWhole)
{
    SendMessageA(Control(S.program, IDC_DELAY_SLIDER), TBM_SETPOS, TRUE, 0);
    size_t mark = EmuRecord().size();
    Click(Control(S.program, IDC_K2000));
    ASSERT_TRUE(WaitFor([&] { return EmuRecord().size() >= mark + 3 * 32; }, WaitMs()));
    Click(Control(S.program, IDC_STOP));
    ASSERT_TRUE(Responds(S.program, WaitLongMs()));
    ASSERT_TRUE(AllApplied(S, WaitMs()));
    std::vector<int> wire = EmuValues(mark);
    SendMessageA(Control(S.program, IDC_DELAY_SLIDER), TBM_SETPOS, TRUE, 100);

    ASSERT_GE(wire.size(), 3u * 32 + 2);
    EXPECT_EQ(wire[wire.size() - 2], 0) << "Stop clears";
    EXPECT_EQ(wire[wire.size() - 1], 0);
    size_t passes = (wire.size() - 2) / 32;
    ASSERT_EQ(passes * 32 + 2, wire.size()) << "whole passes only";
    for (size_t i = 0; i < passes * 32; i += 2) {
        ASSERT_EQ(wire[i], 0) << "write " << i;
        ASSERT_EQ(wire[i + 1], K2000_PASS[(i / 2) % K2000_PASS.size()]) << "write " << i + 1;
    }

    // One clock on both sides: each write reaches the device after its call.
    std::vector<EmuWrite> device = EmuRecord();
    std::vector<JournalWrite> journal = JournalDataWrites(S);
    ASSERT_EQ(device.size(), journal.size());
    std::vector<int64_t> delays;
    for (size_t i = mark; i < device.size(); i++) {
        ASSERT_GE(device[i].ticks, journal[i].ticks) << "write " << i;
        delays.push_back(device[i].ticks - journal[i].ticks);
    }
    std::sort(delays.begin(), delays.end());
    printf("call to device, K2000 at delay 0: median %.1f us, p99 %.1f us (%zu writes; not a benchmark)\n",
           delays[delays.size() / 2] / 10.0, delays[delays.size() * 99 / 100] / 10.0, delays.size());
}

TEST_F(RealPort, EachSensorCodeOnTheStatusPinsLightsItsLamp)
{
    const Program& p = S.program;
    struct Case { int status; const char* lamps; } cases[] = {
        { 119, "a----" }, { 111, "-a---" }, { 95, "--a--" }, { 255, "---a-" }, { 63, "----a" },
    };
    for (int i = 0; i < 5; i++) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.status);
        ASSERT_TRUE(EmuControl("status " + std::to_string(c.status)));
        EXPECT_TRUE(WaitFor([&] { return TextOf(Control(p, IDC_STATUS_BOX)) == std::to_wstring(c.status); }, WaitMs()));
        EXPECT_TRUE(WaitFor([&] {
            HANDLE h = ImageOf(p, IDC_SENSOR1 + i);
            if (h && h != SensorIdle)
                SensorActive = h;
            return Lamps(p) == c.lamps;
        }, WaitMs())) << Lamps(p);
        EXPECT_EQ(AtomicLoad(&S.state->status), c.status) << "the shared state shows the pins";
    }
    ASSERT_TRUE(EmuControl("status 127"));
    EXPECT_TRUE(WaitFor([&] { return TextOf(Control(p, IDC_STATUS_BOX)) == std::to_wstring(PORT_STATUS_IDLE); }, WaitMs()));
    EXPECT_TRUE(WaitFor([&] { return Lamps(p) == "-----"; }, WaitMs())) << "no lamp for 127";
}

std::string PortctlSays(const std::string& args, int* code)
{
    std::string out;
    int exitCode = RunTool("portctl.exe", args, &out);
    if (code)
        *code = exitCode;
    return out;
}

static LRESULT Ask(HWND window, UINT message)
{
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutA(window, message, 0, 0, SMTO_ABORTIFHUNG, WaitMs(), &result))
        return -1;
    return static_cast<LRESULT>(result);
}

TEST_F(RealPort, PortctlAndTheVirtualBenchShowTheEmulatedPort)
{
    const std::string device = EmuDevice();
    ASSERT_TRUE(EmuControl("status 95"));
    EXPECT_TRUE(WaitFor([] { return AtomicLoad(&S.state->status) == 95; }, WaitMs()));
    std::string out = PortctlSays("port");
    EXPECT_NE(out.find("port r\xC3\xA9" "el " + device + " (ppdev)"), std::string::npos) << out;
    EXPECT_EQ(out.find("defaut"), std::string::npos) << out;
    EXPECT_EQ(PortctlSays("etat").substr(0, 2), "95");
    int code = 0;
    PortctlSays("etat 119", &code);
    EXPECT_EQ(code, 1) << "real inputs cannot be forced";
    EXPECT_EQ(EmuState("status"), "95");

    Child bench;
    ASSERT_TRUE(StartTool(bench, "vbench.exe", "", false));
    HWND window = nullptr;
    ASSERT_TRUE(WaitFor([&] {
        window = TopWindowOfProcess(bench.process.dwProcessId, VBENCH_CLASS);
        return window && IsWindowVisible(window);
    }, WaitStartMs()));
    char title[512] = "";
    EXPECT_TRUE(WaitFor([&] {
        GetWindowTextA(window, title, sizeof title);
        return std::string(title).find("port r\xE9" "el " + device) != std::string::npos;
    }, WaitMs())) << title;
    EXPECT_TRUE(WaitFor([&] { return Ask(window, VB_GET_STATUS) == 95; }, WaitMs()));
    HWND paperOut = GetDlgItem(window, IDC_SWITCH_FIRST + INPUT_PAPEROUT);
    EXPECT_EQ(SendMessageA(paperOut, BM_GETCHECK, 0, 0), BST_CHECKED) << "the input as read";
    EXPECT_FALSE(IsWindowEnabled(paperOut)) << "and not forceable";
    Click(Control(S.program, IDC_LED3));
    EXPECT_TRUE(WaitFor([&] { return Ask(window, VB_GET_LEDS) == 4; }, WaitMs())) << "the port's lines";
    PostMessageA(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(FinishTool(bench, 15000), 0);
    ASSERT_TRUE(EmuControl("status 127"));
    EXPECT_TRUE(WaitFor([] { return AtomicLoad(&S.state->status) == PORT_STATUS_IDLE; }, WaitMs()));
}

// The session's bridge files as a second user meets them (checked by a
// native script, since only Linux knows users and modes).
TEST_F(RealPort, ASecondUserCannotReadChangeOrDriveThroughTheBridgeFiles)
{
    std::string stateFile = S.runtimeDir + "/" + PORTSTATE_DIR + "/" + PORTSTATE_FILE;
    std::string result = S.runtimeDir + "/other-user.txt";
    std::string script = LinuxPathOf(TestFolder()) + "other_user.sh";
    std::string helper = LinuxPathOf(TestFolder()) + PORTHELPER_NAME;
    int64_t applied = AtomicLoad(&S.state->applied);
    ASSERT_TRUE(RunLinux("/bin/sh", "\"" + script + "\" \"" + stateFile + "\" \"" + helper + "\" \"" + result + "\""));
    std::string text;
    ASSERT_TRUE(WaitFor([&] { return !(text = EmuFileText(result)).empty(); }, WaitLongMs()));
    EXPECT_EQ(text, "file 600 0\nfolder 700 0\nread refused\nchange refused\nhelper 2\n");
    EXPECT_EQ(AtomicLoad(&S.state->applied), applied) << "no helper of that user applied anything";
    EXPECT_EQ(EmuState("claimed"), "1") << "this session's helper still holds the port";
}
