// The virtual bench vbench.exe as a user runs it: its LEDs follow the data
// register, its switches set the status register, its trace is saved as a
// dump, and the test bench Travek.exe sees its switches on the sensor lamps,
// whichever program starts first and across a restart of the test bench.
// Every test finds the bench running (started for it if need be). The first
// test proves the bench holds the shared state alone only when it runs before
// this process attaches, as it does in file order; otherwise it says so.
#include <gtest/gtest.h>
#include <windows.h>
#include <string>
#include <vector>
#include "childproc.h"
#include "program.h"
#include "sharedport.h"
#include "switches.h"
#include "testwin.h"
#include "vbench.h"
#include "vcdcheck.h"
#include "resource.h"

struct Bench {
    PROCESS_INFORMATION process;
    HWND window;
};

static Bench TheBench;  // the virtual bench the tests share

static LRESULT Query(UINT message)
{
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutA(TheBench.window, message, 0, 0, SMTO_ABORTIFHUNG, WaitMs(), &result))
        return -1;
    return static_cast<LRESULT>(result);
}

static bool StartBench()
{
    Child c;
    if (!StartTool(c, "vbench.exe", "", false))
        return false;
    TheBench.process = c.process;
    bool shown = WaitFor([&] {
        TheBench.window = TopWindowOfProcess(c.process.dwProcessId, VBENCH_CLASS);
        return TheBench.window && IsWindowVisible(TheBench.window);
    }, WaitStartMs());
    return shown && WaitFor([] { return Query(VB_GET_FRAMES) > 0; }, WaitLongMs());
}

static void StopBench()
{
    if (!TheBench.process.hProcess)
        return;
    PostMessageA(TheBench.window, WM_CLOSE, 0, 0);
    if (WaitForSingleObject(TheBench.process.hProcess, 15000) == WAIT_TIMEOUT)
        TerminateProcess(TheBench.process.hProcess, 1);
    DWORD code = 0;
    GetExitCodeProcess(TheBench.process.hProcess, &code);
    EXPECT_EQ(code, 0u);
    CloseHandle(TheBench.process.hProcess);
    CloseHandle(TheBench.process.hThread);
    TheBench = Bench();
}

static HWND Switch(int input)
{
    return GetDlgItem(TheBench.window, IDC_SWITCH_FIRST + input);
}

static bool Checked(int input)
{
    return SendMessageA(Switch(input), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

static void ClickSwitch(int input)
{
    SendMessageA(Switch(input), BM_CLICK, 0, 0);
}

static bool LedsShow(int value, DWORD timeoutMs = 3000)
{
    return WaitFor([&] { return Query(VB_GET_LEDS) == value; }, timeoutMs);
}

static void PortWrite(int value)
{
    LibraryWrite()(0x378, static_cast<short>(value));
}

static short StatusRead()
{
    return LibraryRead()(0x379);
}

class VirtualBench : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!TheBench.process.hProcess) {
            ASSERT_TRUE(StartBench());
        }
    }
    static void TearDownTestSuite() { StopBench(); }
};

// Each process below attaches, acts and ends: only the bench holds the state
// in between (if this process has not attached yet).
TEST_F(VirtualBench, KeepsItsOwnAttachmentAcrossOtherProgramsRuns)
{
    StopBench();  // started again once the writer has gone
    Peer("write 888 99");
    bool heldElsewhere = Peer("data") == "99";
    ASSERT_TRUE(StartBench());
    EXPECT_EQ(Peer("write 888 165"), "");
    EXPECT_TRUE(LedsShow(165));
    EXPECT_EQ(Peer("data"), "165");  // the state outlived the writer
    std::string out;
    EXPECT_EQ(RunTool("portctl.exe", "etat nError", &out), 0);
    EXPECT_EQ(out, "");  // no warning: the state is in use
    EXPECT_TRUE(WaitFor([] { return Query(VB_GET_STATUS) == 119 && Checked(INPUT_NERROR); }, 3000));
    EXPECT_EQ(Peer("read 889"), "119");
    EXPECT_EQ(RunTool("portctl.exe", "etat 127", &out), 0);
    if (heldElsewhere)
        printf("[ note ] another process held the shared state: the bench's own hold is not isolated\n");
}

TEST_F(VirtualBench, LedsFollowEveryWriteAtFiftyFramesASecondOrMore)
{
    for (int value : { 1, 2, 4, 8, 16, 32, 64, 128, 0x55, 0x1FF, 0 }) {
        PortWrite(value);
        EXPECT_TRUE(LedsShow(value & 0xFF)) << value;
    }
    LRESULT framesBefore = Query(VB_GET_FRAMES);
    DWORD start = GetTickCount();
    LetTimePass(2000);  // frames counted over two seconds
    DWORD elapsed = GetTickCount() - start;
    double rate = 1000.0 * static_cast<double>(Query(VB_GET_FRAMES) - framesBefore) / elapsed;
    printf("[ vbench ] %.1f frames/s\n", rate);
    EXPECT_GE(rate, 50.0);

    // A burst far faster than the refresh: every write reaches the trace.
    LRESULT tracedBefore = Query(VB_GET_WRITES);
    start = GetTickCount();
    for (int i = 0; i < 30000; ++i)
        PortWrite(i & 0xFF);
    PortWrite(0xA5);
    EXPECT_TRUE(WaitFor([&] { return Query(VB_GET_WRITES) == tracedBefore + 30001; }, WaitMs()))
        << Query(VB_GET_WRITES) - tracedBefore;
    EXPECT_TRUE(LedsShow(0xA5));
    printf("[ vbench ] 30001 writes in the trace %lu ms after the first\n",
           static_cast<unsigned long>(GetTickCount() - start));
}

// The status value with one switch closed, by input: each pulls its pin to ground.
static const int32_t SWITCH_CODES[INPUT_COUNT] = { 119, 111, 95, 63, 255 };

TEST_F(VirtualBench, SwitchesSetTheStatusRegisterAsTheHardwareDoes)
{
    PortState* s = SharedPortAttach();
    for (int input = 0; input < INPUT_COUNT; ++input) {
        SCOPED_TRACE(STATUS_INPUTS[input].name);
        ClickSwitch(input);
        EXPECT_TRUE(Checked(input));
        EXPECT_EQ(s->status, SWITCH_CODES[input]);
        EXPECT_EQ(StatusRead(), SWITCH_CODES[input]);
        EXPECT_EQ(Query(VB_GET_STATUS), SWITCH_CODES[input]);
        ClickSwitch(input);
        EXPECT_EQ(s->status, PORT_STATUS_IDLE);
    }
    ClickSwitch(INPUT_NERROR);
    ClickSwitch(INPUT_SELECT);
    EXPECT_EQ(StatusRead(), 103);
    ClickSwitch(INPUT_NERROR);
    ClickSwitch(INPUT_SELECT);
    EXPECT_EQ(StatusRead(), PORT_STATUS_IDLE);

    // Set by another program: the switches show it.
    SimPortSetStatus(s, 63);
    EXPECT_TRUE(WaitFor([] { return Checked(INPUT_NACK) && !Checked(INPUT_NERROR); }, 3000));
    SimPortSetStatus(s, PORT_STATUS_IDLE);
    EXPECT_TRUE(WaitFor([] { return !Checked(INPUT_NACK); }, 3000));
    EXPECT_EQ(Query(VB_GET_STATUS), PORT_STATUS_IDLE);
}

static std::string BenchTitle()
{
    char title[256] = "";
    GetWindowTextA(TheBench.window, title, sizeof title);
    return title;
}

// The library drives a real port: the bench names it, and its switches show
// the inputs as read without forcing them. The simulated port is put back.
TEST_F(VirtualBench, OnARealPortNamesTheDeviceAndItsSwitchesOnlyShowTheInputs)
{
    PortState* s = SharedPortAttach();
    EXPECT_NE(BenchTitle().find("port simul\xE9"), std::string::npos) << BenchTitle();
    AtomicStore(&s->backend, uint32_t(PORT_BACKEND_PPDEV));
    PortStateSetTarget(s, "/dev/parport0");
    SimPortSetStatus(s, 95);
    ASSERT_TRUE(WaitFor([] { return BenchTitle().find("port r\xE9" "el /dev/parport0") != std::string::npos; },
                        3000)) << BenchTitle();
    EXPECT_TRUE(WaitFor([] { return Checked(INPUT_PAPEROUT); }, 3000));
    for (int input = 0; input < INPUT_COUNT; ++input)
        EXPECT_FALSE(IsWindowEnabled(Switch(input))) << input;
    ClickSwitch(INPUT_NERROR);
    EXPECT_EQ(s->status, 95);
    EXPECT_FALSE(Checked(INPUT_NERROR));

    AtomicStore(&s->backend, uint32_t(PORT_BACKEND_SIMULATED));
    PortStateSetTarget(s, "sim");
    SimPortSetStatus(s, PORT_STATUS_IDLE);
    EXPECT_TRUE(WaitFor([] { return IsWindowEnabled(Switch(0)) != FALSE; }, 3000));
}

static HWND FindSaveDialog()
{
    HWND dialog = nullptr;
    WaitFor([&] {
        dialog = FindWindowA("#32770", "Enregistrer la trace");
        return dialog && IsWindowVisible(dialog);
    }, WaitLongMs());
    return dialog;
}

static std::string ReadFileText(const std::string& path)
{
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return "";
    std::string text(GetFileSize(h, nullptr), '\0');
    DWORD got = 0;
    ReadFile(h, &text[0], static_cast<DWORD>(text.size()), &got, nullptr);
    CloseHandle(h);
    return text;
}

TEST_F(VirtualBench, SaveButtonWritesTheTraceAsAValueChangeDump)
{
    const int values[] = { 0, 3, 0, 12, 0, 48, 0, 192 };
    for (int v : values)
        PortWrite(v);
    SimPortSetStatus(SharedPortAttach(), 95);
    ASSERT_TRUE(LedsShow(192));
    ASSERT_TRUE(WaitFor([] { return Query(VB_GET_STATUS) == 95; }, 3000));
    std::string path = TestFolder() + "vbench_trace.vcd";
    DeleteFileA(path.c_str());

    PostMessageA(GetDlgItem(TheBench.window, IDC_SAVE), BM_CLICK, 0, 0);
    HWND dialog = FindSaveDialog();
    ASSERT_NE(dialog, nullptr);
    HWND name = GetDlgItem(dialog, 0x480);  // the file name box (edt1)
    if (!name)
        name = GetDlgItem(dialog, 0x47C);   // or its combo box (cmb13)
    ASSERT_NE(name, nullptr);
    SendMessageA(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()));
    PostMessageA(dialog, WM_COMMAND, IDOK, 0);
    ASSERT_TRUE(WaitFor([&] { return !IsWindow(dialog); }, WaitLongMs()));
    std::string text;
    ASSERT_TRUE(WaitFor([&] { text = ReadFileText(path); return !text.empty(); }, WaitLongMs()));
    ASSERT_TRUE(Responds(Program{ {}, TheBench.window, nullptr, 0 }, WaitMs()));

    VcdFile f = ParseVcdStrict(text);
    ASSERT_TRUE(f.ok) << f.error;
    EXPECT_EQ(f.timescale, "1 us");
    EXPECT_EQ(f.vars.size(), 13u);
    std::vector<int> dumped = VcdDataValues(f);
    ASSERT_GE(dumped.size(), 8u);
    EXPECT_EQ(std::vector<int>(dumped.end() - 8, dumped.end()), std::vector<int>(std::begin(values), std::end(values)));
    std::map<std::string, char> end = VcdLevelsAt(f, f.times.back());
    EXPECT_EQ(end[VcdIdOf(f, "PaperOut")], '0');
    EXPECT_EQ(end[VcdIdOf(f, "nError")], '1');
    EXPECT_EQ(end[VcdIdOf(f, "Busy")], '1');
    EXPECT_EQ(text.compare(0, 6, "$date\n"), 0);
    SimPortSetStatus(SharedPortAttach(), PORT_STATUS_IDLE);
}

static const int LAMPS[INPUT_COUNT] = { IDC_SENSOR1, IDC_SENSOR2, IDC_SENSOR3, IDC_SENSOR5, IDC_SENSOR4 };  // the lamp each input lights

static HANDLE ImageOf(const Program& app, int id)
{
    return reinterpret_cast<HANDLE>(SendMessageA(Control(app, id), BM_GETIMAGE, IMAGE_BITMAP, 0));
}

// The lamp of `input` lit and the four others idle, or (input -1) all idle.
static bool LampsShow(const Program& app, HANDLE idle, int input)
{
    for (int i = 0; i < INPUT_COUNT; ++i) {
        bool lit = ImageOf(app, LAMPS[i]) != idle;
        if (lit != (i == input))
            return false;
    }
    return true;
}

static void ExpectSwitchLightsItsLamp(const Program& app, HANDLE idle, int input, int32_t code)
{
    SCOPED_TRACE(STATUS_INPUTS[input].name);
    ClickSwitch(input);
    EXPECT_TRUE(WaitFor([&] { return LampsShow(app, idle, input); }, 3000));
    EXPECT_TRUE(WaitFor([&] { return TextOf(Control(app, IDC_STATUS_BOX)) == std::to_wstring(code); }, 3000));
    ClickSwitch(input);
    EXPECT_TRUE(WaitFor([&] { return TextOf(Control(app, IDC_STATUS_BOX)) == std::to_wstring(PORT_STATUS_IDLE); }, 3000));
}

TEST_F(VirtualBench, TestBenchLampsFollowTheSwitchesInEitherStartOrder)
{
    // The virtual bench first, then the test bench.
    Program app;
    ASSERT_TRUE(StartProgram(app));
    EXPECT_TRUE(LedsShow(0));  // the test bench clears the lines at start
    HANDLE idle = ImageOf(app, IDC_SENSOR1);
    ASSERT_TRUE(LampsShow(app, idle, -1));
    for (int input = 0; input < INPUT_COUNT; ++input)
        ExpectSwitchLightsItsLamp(app, idle, input, SWITCH_CODES[input]);
    Click(Control(app, IDC_LED3));  // "LED 3"
    EXPECT_TRUE(LedsShow(4));

    // The test bench closed and started again: the virtual bench goes on.
    StopProgram(app);
    PortWrite(0x81);
    EXPECT_TRUE(LedsShow(0x81));
    ASSERT_TRUE(StartProgram(app));
    EXPECT_TRUE(LedsShow(0));
    idle = ImageOf(app, IDC_SENSOR2);
    ExpectSwitchLightsItsLamp(app, idle, INPUT_SELECT, 111);
    Click(Control(app, IDC_LED5));  // "LED 5"
    EXPECT_TRUE(LedsShow(16));

    // The test bench first, then the virtual bench.
    StopBench();
    ASSERT_TRUE(StartBench());
    EXPECT_TRUE(LedsShow(16));
    EXPECT_FALSE(Checked(INPUT_BUSY));
    ExpectSwitchLightsItsLamp(app, idle, INPUT_BUSY, 255);
    Click(Control(app, IDC_RESET));  // "Reset"
    EXPECT_TRUE(LedsShow(0));
    StopProgram(app);
    StopBench();
}
