// The library's side of the bridge to the native helper, with this test
// process standing in for the helper: it beats in the shared state, sleeps
// and keeps the status fresh as the helper would, while the real program
// runs with TRAVEK_PORT naming a ppdev device.
#include <gtest/gtest.h>
#include <windows.h>
#include <string>
#include <vector>
#include "program.h"
#include "simport.h"
#include "testwin.h"
#include "unixcall.h"

constexpr int ID_LED3 = 1002, ID_STATUS_BOX = 1022;
constexpr DWORD START_MS = 20000, WAIT_MS = 5000;
constexpr DWORD BEAT_MS = 2;
constexpr char DEVICE[] = "/nonexistent/travek-test-parport";

static volatile LONG Beating;  // the stand-in helper beats while set

static DWORD WINAPI Beat(LPVOID)
{
    SimPortState* s = SimPortAttach();
    while (Beating) {
        AtomicStore(&s->helperBeat, SimPortNow());
        Sleep(BEAT_MS);
    }
    return 0;
}

static std::string ReadAll(HANDLE pipe)
{
    std::string text;
    char buf[4096];
    DWORD got;
    while (ReadFile(pipe, buf, sizeof buf, &got, nullptr) && got > 0)
        text.append(buf, got);
    CloseHandle(pipe);
    return text;
}

static bool Launch(Program& p, HANDLE* errRead)
{
    SetEnvironmentVariableA("TRAVEK_PORT", DEVICE);
    SECURITY_ATTRIBUTES sa = { sizeof sa, nullptr, TRUE };
    HANDLE errWrite = nullptr;
    CreatePipe(errRead, &errWrite, &sa, 0);
    SetHandleInformation(*errRead, HANDLE_FLAG_INHERIT, 0);
    p = Program();
    p.startMark = JournalMark();
    std::string cmd = "\"" + TestFolder() + "Travek.exe\"";
    std::vector<char> line(cmd.begin(), cmd.end());
    line.push_back('\0');
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdError = errWrite;
    bool ok = CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, TestFolder().c_str(), &si,
                             &p.process) != 0;
    CloseHandle(errWrite);
    SetEnvironmentVariableA("TRAVEK_PORT", nullptr);
    return ok && FindProgramWindows(p, true, START_MS) && Responds(p, WAIT_MS);
}

// Rings only a sleeping helper; the status the helper keeps is what the
// program reads; a helper that stops beating is reported once, the program
// goes on, and every write stays in the journal.
TEST(PpdevClient, RingsASleepingHelperOnlyAndReportsItsLoss)
{
    SimPortState* s = SimPortAttach();
    AtomicStore(&s->helperState, uint32_t(HELPER_AWAKE));
    AtomicStore(&s->helperBeat, SimPortNow());
    Beating = 1;
    HANDLE beat = CreateThread(nullptr, 0, Beat, nullptr, 0, nullptr);
    Program p;
    HANDLE err = nullptr;
    ASSERT_TRUE(Launch(p, &err));
    EXPECT_EQ(s->backend, PORT_BACKEND_PPDEV);
    EXPECT_STREQ(s->target, DEVICE);
    EXPECT_EQ(s->applied, p.startMark) << "the start-up write is the first for the wire";
    EXPECT_EQ(s->fault, PORT_FAULT_NONE) << s->faultText;

    AtomicStore(&s->status, int32_t(111));
    EXPECT_TRUE(WaitFor([&] { return TextOf(Control(p, ID_STATUS_BOX)) == L"111"; }, WAIT_MS));

    uint32_t bell = s->doorbell;
    int64_t mark = JournalMark();
    Click(Control(p, ID_LED3));
    EXPECT_EQ(s->doorbell, bell) << "an awake helper is not rung";
    AtomicStore(&s->helperState, uint32_t(HELPER_SLEEPING));
    Click(Control(p, ID_LED3));
    EXPECT_EQ(s->doorbell, bell + 1) << "a sleeping helper is rung once";
    EXPECT_EQ(s->helperState, uint32_t(HELPER_AWAKE));
    EXPECT_EQ(ValuesSince(mark), (std::vector<int>{ 0, 0, 4, 0, 0, 4 }));

    Beating = 0;
    WaitForSingleObject(beat, WAIT_MS);
    CloseHandle(beat);
    EXPECT_TRUE(WaitFor([&] { return s->fault == PORT_FAULT_HELPER_LOST || s->fault == PORT_FAULT_HELPER_START; },
                        WAIT_MS)) << "loss noticed: " << s->fault;
    mark = JournalMark();
    Click(Control(p, ID_LED3));
    EXPECT_EQ(ValuesSince(mark), (std::vector<int>{ 0, 0, 4 })) << "writes journaled meanwhile";
    EXPECT_TRUE(Responds(p, WAIT_MS));
    Sleep(1500);  // one restart a second at most: a second attempt has had its chance
    StopProgram(p);
    std::string text = ReadAll(err);
    size_t lost = text.find("ne répond plus");
    EXPECT_NE(lost, std::string::npos) << text;
    EXPECT_EQ(text.find("ne répond plus", lost + 1), std::string::npos) << "said once: " << text;
}

// A state file open to others is refused: the program says so, runs on a
// private state, and nothing of it reaches the refused file.
TEST(PpdevClient, StateFileOpenToOthersIsRefused)
{
    SimPortState* s = SimPortAttach();
    const char* path = SimPortFilePath();
    ASSERT_NE(path, nullptr) << "under Wine the state is a file";
    long fd = UnixOpen(path, UNIX_O_RDWR | UNIX_O_CLOEXEC, 0);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(UnixFchmod(fd, 0644), 0);
    Program p;
    HANDLE err = nullptr;
    int64_t writes = SimPortWriteCount(s);
    bool started = Launch(p, &err);
    UnixFchmod(fd, 0600);
    UnixClose(fd);
    ASSERT_TRUE(started);
    Click(Control(p, ID_LED3));
    EXPECT_TRUE(Responds(p, WAIT_MS));
    EXPECT_EQ(SimPortWriteCount(s), writes) << "the program's writes stay in its private state";
    StopProgram(p);
    std::string text = ReadAll(err);
    EXPECT_NE(text.find("a les droits 644 au lieu de 600 : refusé"), std::string::npos) << text;
}
