// The library's side of the bridge to the native helper, with this test
// process standing in for the helper: it beats in the shared state, sleeps
// and keeps the status fresh as the helper would, while the real program
// runs with TRAVEK_PORT naming a ppdev device.
#include <gtest/gtest.h>
#include <windows.h>
#include <string>
#include <vector>
#include "program.h"
#include "resource.h"
#include "sharedport.h"
#include "testwin.h"
#include "unixcall.h"
#include "wineproc.h"

constexpr DWORD BEAT_MS = 2;
constexpr int64_t REPEAT_CHANCE_READS = 200;  // status reads after the loss in which a repeat would show
constexpr char DEVICE[] = "/nonexistent/travek-test-parport";

static volatile LONG Beating;  // the stand-in helper beats while set

static DWORD WINAPI Beat(LPVOID)
{
    PortState* s = SharedPortAttach();
    while (Beating) {
        AtomicStore(&s->helperBeat, SharedPortNow());
        AtomicStore(&s->statusTicks, SharedPortNow());
        Sleep(BEAT_MS);
    }
    return 0;
}

static bool Launch(Program& p, HANDLE* errRead, const char* target = DEVICE)
{
    SetEnvironmentVariableA("TRAVEK_PORT", target);
    bool ok = StartProgramWithStderr(p, errRead);
    SetEnvironmentVariableA("TRAVEK_PORT", nullptr);
    return ok;
}

// Rings only a sleeping helper; the status the helper keeps is what the
// program reads; a helper that stops beating is reported once, the program
// goes on, and every write stays in the journal.
TEST(PpdevClient, RingsASleepingHelperOnlyAndReportsItsLoss)
{
    PortState* s = SharedPortAttach();
    AtomicStore(&s->helperState, uint32_t(HELPER_AWAKE));
    AtomicStore(&s->helperBeat, SharedPortNow());
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
    EXPECT_TRUE(WaitFor([&] { return TextOf(Control(p, IDC_STATUS_BOX)) == L"111"; }, WaitMs()));

    uint32_t bell = s->doorbell;
    int64_t mark = JournalMark();
    Click(Control(p, IDC_LED3));
    EXPECT_EQ(s->doorbell, bell) << "an awake helper is not rung";
    AtomicStore(&s->helperState, uint32_t(HELPER_SLEEPING));
    Click(Control(p, IDC_LED3));
    EXPECT_EQ(s->doorbell, bell + 1) << "a sleeping helper is rung once";
    EXPECT_EQ(s->helperState, uint32_t(HELPER_AWAKE));
    EXPECT_EQ(ValuesSince(mark), (std::vector<int>{ 0, 0, 4, 0, 0, 4 }));

    Beating = 0;
    WaitForSingleObject(beat, WaitMs());
    CloseHandle(beat);
    EXPECT_TRUE(WaitFor([&] { return s->fault == PORT_FAULT_HELPER_LOST || s->fault == PORT_FAULT_HELPER_START ||
                                     s->fault == PORT_FAULT_NO_DEVICE; }, WaitMs())) << "loss noticed: " << s->fault;
    EXPECT_TRUE(WaitFor([&] { return AtomicLoad(&s->statusAge) > uint32_t(HELPER_LOST_MS); }, WaitMs()))
        << "the state says the status is stale";
    mark = JournalMark();
    Click(Control(p, IDC_LED3));
    EXPECT_EQ(ValuesSince(mark), (std::vector<int>{ 0, 0, 4 })) << "writes journaled meanwhile";
    EXPECT_TRUE(Responds(p, WaitMs()));
    EXPECT_TRUE(WaitFor([&] { return AtomicLoad(&s->helperStarts) >= 1; }, WaitMs())) << "a helper started, counted";
    int64_t reads = AtomicLoad(&s->reads);  // the program keeps calling: repeats get their chance
    EXPECT_TRUE(WaitFor([&] { return AtomicLoad(&s->reads) >= reads + REPEAT_CHANCE_READS; }, WaitMs()));
    StopProgram(p);
    std::string text = ReadPipeToEnd(err);
    for (const char* once : { "ne répond plus", "entrées périmé" }) {
        size_t at = text.find(once);
        EXPECT_NE(at, std::string::npos) << once << ": " << text;
        EXPECT_EQ(text.find(once, at + 1), std::string::npos) << "said once: " << text;
    }
}

// A name outside the grammar is a fault that lists the accepted forms; no
// helper is started for it; the short form names its device.
TEST(PpdevClient, AMistypedPortNameIsAFaultAndStartsNoHelper)
{
    PortState* s = SharedPortAttach();
    uint32_t starts = AtomicLoad(&s->helperStarts);
    Program p;
    HANDLE err = nullptr;
    ASSERT_TRUE(Launch(p, &err, "lpt1"));
    EXPECT_EQ(AtomicLoad(&s->fault), uint32_t(PORT_FAULT_CONFIG));
    EXPECT_NE(std::string(s->faultText).find("parportN"), std::string::npos) << s->faultText;
    Click(Control(p, IDC_LED3));
    EXPECT_TRUE(Responds(p, WaitMs()));
    EXPECT_EQ(AtomicLoad(&s->helperStarts), starts) << "no helper for a bad name";
    StopProgram(p);
    std::string text = ReadPipeToEnd(err);
    EXPECT_NE(text.find("« lpt1 » n'est pas un nom de port : donnez sim, direct"), std::string::npos) << text;

    ASSERT_TRUE(Launch(p, &err, "parport7"));
    EXPECT_STREQ(s->target, "/dev/parport7");
    EXPECT_EQ(AtomicLoad(&s->backend), uint32_t(PORT_BACKEND_PPDEV));
    StopProgram(p);
    ReadPipeToEnd(err);
}

// A helper that refused for a reason a restart cannot change (here a
// character device that is no parallel port) is not started again.
TEST(PpdevClient, AHelperThatRefusedIsNotStartedAgain)
{
    PortState* s = SharedPortAttach();
    uint32_t starts = AtomicLoad(&s->helperStarts);
    Program p;
    HANDLE err = nullptr;
    ASSERT_TRUE(Launch(p, &err, "/dev/null"));
    EXPECT_TRUE(WaitFor([&] { return AtomicLoad(&s->helperState) == HELPER_REFUSED; }, 2 * WaitMs()));
    EXPECT_EQ(AtomicLoad(&s->fault), uint32_t(PORT_FAULT_NOT_PARPORT)) << s->faultText;
    uint32_t after = AtomicLoad(&s->helperStarts);
    EXPECT_EQ(after, starts + 1);
    Sleep(HELPER_BACKOFF_MAX_MS / 2);  // longer than the first back-offs: a restart would have come
    Click(Control(p, IDC_LED3));
    EXPECT_TRUE(Responds(p, WaitMs()));
    EXPECT_EQ(AtomicLoad(&s->helperStarts), after) << "not started again";
    StopProgram(p);
    std::string text = ReadPipeToEnd(err);
    EXPECT_NE(text.find("n'est pas un port parallèle"), std::string::npos) << text;
}

// The view the library maps must be the file it checked.
TEST(PpdevClient, AMappedViewIsCheckedAgainstTheFileItWasOpenedAs)
{
    PortState* s = SharedPortAttach();
    const char* path = SharedPortFilePath();
    ASSERT_NE(path, nullptr);
    long same = UnixOpen(path, UNIX_O_RDWR | UNIX_O_CLOEXEC, 0);
    ASSERT_GE(same, 0);
    long other = UnixOpen("/proc/self/stat", UNIX_O_RDONLY | UNIX_O_CLOEXEC, 0);
    ASSERT_GE(other, 0);
    EXPECT_TRUE(WineViewIsFile(s, same));
    EXPECT_FALSE(WineViewIsFile(s, other)) << "another file";
    EXPECT_FALSE(WineViewIsFile(reinterpret_cast<char*>(s) + 4096, same)) << "not the start of a view";
    UnixClose(same);
    UnixClose(other);
}

// A state file open to others is refused: the program says so, runs on a
// private state, and nothing of it reaches the refused file.
TEST(PpdevClient, StateFileOpenToOthersIsRefused)
{
    PortState* s = SharedPortAttach();
    const char* path = SharedPortFilePath();
    ASSERT_NE(path, nullptr) << "under Wine the state is a file";
    long fd = UnixOpen(path, UNIX_O_RDWR | UNIX_O_CLOEXEC, 0);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(UnixFchmod(fd, 0644), 0);
    Program p;
    HANDLE err = nullptr;
    int64_t writes = SharedPortWriteCount(s);
    bool started = Launch(p, &err);
    UnixFchmod(fd, 0600);
    UnixClose(fd);
    ASSERT_TRUE(started);
    Click(Control(p, IDC_LED3));
    EXPECT_TRUE(Responds(p, WaitMs()));
    EXPECT_EQ(SharedPortWriteCount(s), writes) << "the program's writes stay in its private state";
    StopProgram(p);
    std::string text = ReadPipeToEnd(err);
    EXPECT_NE(text.find("a les droits 644 au lieu de 600 : refusé"), std::string::npos) << text;
}

// With every client slot held by a live process, a program gets none: it
// says so instead of running unseen by the helper.
TEST(PpdevClient, AFullClientTableIsReported)
{
    PortState* s = SharedPortAttach();
    long self = UnixGetPid();
    for (int i = 0; i < PORTSTATE_CLIENTS; ++i) {  // slots of earlier programs that have ended
        int32_t pid = AtomicLoad(&s->clients[i].unixPid);
        if (pid > 0 && !WineProcessIs(pid, AtomicLoad(&s->clientStart[i])))
            PortStateFreeClient(s, i);
    }
    std::vector<int> taken;
    for (int32_t fake = 1; fake <= PORTSTATE_CLIENTS; ++fake) {  // this process under other Windows pids
        int slot = PortStateTakeClient(s, static_cast<int32_t>(self), 100000 + fake, SharedPortNow(),
                                       WineProcessIdentity(self));
        if (slot >= 0)
            taken.push_back(slot);
    }
    Program p;
    HANDLE err = nullptr;
    bool started = Launch(p, &err);
    for (int slot : taken)
        PortStateFreeClient(s, slot);
    ASSERT_TRUE(started);
    StopProgram(p);
    std::string text = ReadPipeToEnd(err);
    EXPECT_NE(text.find("programmes utilisent le port"), std::string::npos) << text;
}
