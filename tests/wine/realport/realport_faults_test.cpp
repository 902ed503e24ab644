// The real program on the emulated parallel port when things go wrong: each
// fault in a session of its own, said on the console and in the shared
// state, the program answering and every write journaled; a device that
// comes back is used again without a restart, the wire following the
// journal by the recovery rule. Runs inside the emulated port's fixture.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>
#include <string>
#include <vector>
#include "emudevice.h"
#include "realport.h"
#include "realsession.h"
#include "testwin.h"
#include "wirerule.h"

// Faults: each in a session of its own, said on the console and in the
// shared state, the program answering and every write journaled.
class RealPortFault : public ::testing::Test {
protected:
    RealSession S;
    void SetUp() override
    {
        if (NotInFixture())
            GTEST_SKIP() << "run inside with-emuport.sh";
        ASSERT_TRUE(PortsFree());
        ASSERT_TRUE(EmuControl("normal\nstatus 127\nmode 660\nclear"));
    }
    void TearDown() override
    {
        StopRealSession(S);
        EmuControl("normal\nmode 660");
    }
    // The fault is said on the console and is the state's current fault.
    void ExpectFault(PortFaultCode code, const char* words)
    {
        EXPECT_TRUE(ConsoleSays(S, words, FAULT_WAIT_MS)) << "console: " << S.console;
        EXPECT_TRUE(WaitFor([&] { return AtomicLoad(&S.state->fault) == uint32_t(code); }, FAULT_WAIT_MS))
            << AtomicLoad(&S.state->fault) << " " << FaultText(S);
        EXPECT_NE(FaultText(S).find(words), std::string::npos) << FaultText(S);
    }
    // A click during the fault: the program answers and the journal keeps it.
    void ExpectJournaledClick()
    {
        size_t before = JournalData(S).size();
        Click(Control(S.program, IDC_LED3));
        EXPECT_TRUE(Responds(S.program, 1000));
        EXPECT_EQ(Tail(JournalData(S), before), LED3_WRITES);
    }
    // Once the device answers again the port resumes by itself: the fault
    // is over, said on the console, and the wire follows the journal by the
    // rule (a short outage replayed, a long one passed over to the current value).
    void ExpectResumed()
    {
        EXPECT_TRUE(WaitFor([&] { return AtomicLoad(&S.state->fault) == uint32_t(PORT_FAULT_NONE); },
                            3 * FAULT_WAIT_MS)) << FaultText(S);
        EXPECT_TRUE(ConsoleSays(S, "répond de nouveau", FAULT_WAIT_MS)) << S.console;
        Click(Control(S.program, IDC_LED3));
        ASSERT_TRUE(AllApplied(S, WaitMs()));
        std::string why;
        std::vector<int> wire = EmuValues();
        std::vector<WireSkip> skips;
        WireSkip k;
        if (LastWireSkip(S.state, &k))
            skips.push_back(k);
        EXPECT_TRUE(WireFollowsJournal(JournalDataWrites(S), wire, 0, skips, AtomicLoad(&S.state->unapplied), &why))
            << why;
        EXPECT_EQ(Tail(wire, wire.size() - LED3_WRITES.size()), LED3_WRITES) << "new writes go out";
    }
};

TEST_F(RealPortFault, NoSuchDevice)
{
    ASSERT_TRUE(StartRealSession(S, EmuMount() + "/parport7"));
    ExpectFault(PORT_FAULT_NO_DEVICE, "introuvable");
    ExpectJournaledClick();
}

TEST_F(RealPortFault, PermissionDeniedSaysHowToFixIt)
{
    ASSERT_TRUE(EmuControl("mode 000"));
    ASSERT_TRUE(StartRealSession(S, EmuDevice()));
    ExpectFault(PORT_FAULT_PERMISSION, "groupe lp");
    ExpectJournaledClick();
    EXPECT_TRUE(EmuRecord().empty());
}

TEST_F(RealPortFault, PortHeldByAnotherProgramNeverBlocksTheProgramAndIsTakenOnceFree)
{
    ASSERT_TRUE(EmuControl("busy"));
    ASSERT_TRUE(StartRealSession(S, EmuDevice()));
    ExpectJournaledClick();  // during the claim's wait
    ExpectFault(PORT_FAULT_BUSY, "occup");
    ExpectJournaledClick();
    EXPECT_TRUE(EmuRecord().empty());
    EXPECT_EQ(AtomicLoad(&S.state->helperState), uint32_t(HELPER_WAITING)) << "waiting, not given up";
    ASSERT_TRUE(EmuControl("normal"));
    ExpectResumed();
    EXPECT_EQ(AtomicLoad(&S.state->helperStarts), 1u) << "the same helper, no restart";
}

TEST_F(RealPortFault, NotAParallelPort)
{
    ASSERT_TRUE(EmuControl("enotty"));
    ASSERT_TRUE(StartRealSession(S, EmuDevice()));
    ExpectFault(PORT_FAULT_NOT_PARPORT, "USB");
    ExpectJournaledClick();
}

TEST_F(RealPortFault, DeviceVanishingMidSession)
{
    ASSERT_TRUE(StartRealSession(S, EmuDevice()));
    Click(Control(S.program, IDC_LED3));
    ASSERT_TRUE(AllApplied(S, WaitMs()));
    std::vector<int> before = EmuValues();
    EXPECT_EQ(before, JournalData(S));
    ASSERT_TRUE(EmuControl("vanish"));
    Click(Control(S.program, IDC_LED3));
    ExpectFault(PORT_FAULT_DEVICE_LOST, "disparu");
    ExpectJournaledClick();
    std::string out = PortctlSays("port");
    EXPECT_NE(out.find("defaut : " + FaultText(S)), std::string::npos) << out;
    EXPECT_TRUE(WaitFor([&] { return PortctlSays("port").find("entrées périmées") != std::string::npos; },
                        FAULT_WAIT_MS)) << "the status is said stale: " << PortctlSays("port");
    EXPECT_EQ(EmuValues(), before) << "nothing reached a vanished device";
    EXPECT_EQ(Tail(JournalData(S), before.size()).size(), 2 * LED3_WRITES.size()) << "both clicks journaled";
    ASSERT_TRUE(EmuControl("normal"));  // back, without restarting the program
    ExpectResumed();
    EXPECT_EQ(AtomicLoad(&S.state->helperStarts), 1u) << "the same helper tried the device again";
    EXPECT_GT(AtomicLoad(&S.state->deviceRetries), 0u);
}

TEST_F(RealPortFault, HelperKilledMidSessionIsRestartedAndNoWriteIsLost)
{
    ASSERT_TRUE(StartRealSession(S, EmuDevice()));
    ASSERT_TRUE(WaitFor([&] { return AtomicLoad(&S.state->helperPid) > 0; }, WaitMs()));
    int32_t first = AtomicLoad(&S.state->helperPid);
    SendMessageA(Control(S.program, IDC_DELAY_SLIDER), TBM_SETPOS, TRUE, 0);
    Click(Control(S.program, IDC_K2000));
    ASSERT_TRUE(WaitFor([] { return EmuRecord().size() > 100; }, WaitMs()));
    ASSERT_TRUE(RunLinux("/bin/kill", "-9 " + std::to_string(first)));
    ExpectFault(PORT_FAULT_HELPER_LOST, "ne répond plus");
    EXPECT_TRUE(WaitFor([&] { return AtomicLoad(&S.state->helperStarts) >= 2; }, FAULT_WAIT_MS)) << "counted";
    EXPECT_TRUE(WaitFor([&] {
        int32_t pid = AtomicLoad(&S.state->helperPid);
        return pid > 0 && pid != first && EmuState("claimed") == "1";
    }, FAULT_WAIT_MS)) << "a new helper holds the port";
    size_t resumed = EmuRecord().size();
    EXPECT_TRUE(WaitFor([&] { return EmuRecord().size() > resumed + 64; }, WaitMs())) << "K2000 goes on";
    Click(Control(S.program, IDC_STOP));
    SendMessageA(Control(S.program, IDC_DELAY_SLIDER), TBM_SETPOS, TRUE, 100);
    ASSERT_TRUE(AllApplied(S, WaitMs()));

    // Every journaled write reached the wire in order; only the one in
    // flight when the helper died may have reached it twice.
    std::vector<int> journal = JournalData(S), wire = EmuValues();
    ASSERT_GE(wire.size(), journal.size());
    EXPECT_LE(wire.size(), journal.size() + 1);
    size_t j = 0;
    for (size_t w = 0; w < wire.size(); w++) {
        if (j < journal.size() && wire[w] == journal[j])
            j++;
        else
            ASSERT_TRUE(j > 0 && wire[w] == journal[j - 1]) << "wire write " << w << " out of order";
    }
    EXPECT_EQ(j, journal.size());
}

// A session that follows another at once on another device drives its own.
TEST_F(RealPortFault, NextSessionOnAnotherDeviceDrivesThatDevice)
{
    ASSERT_TRUE(EmuControl("clear", 1));
    ASSERT_TRUE(StartRealSession(S, EmuDevice(0)));
    ASSERT_TRUE(AllApplied(S, WaitMs()));
    std::string runtimeDir = S.runtimeDir;
    StopRealSession(S);

    SetEnvironmentVariableA("XDG_RUNTIME_DIR", runtimeDir.c_str());  // the same session folder
    Child c;
    SetEnvironmentVariableA("TRAVEK_PORT", EmuDevice(1).c_str());
    ASSERT_TRUE(StartTool(c, "Travek.exe", "", false));
    SetEnvironmentVariableA("TRAVEK_PORT", nullptr);
    Program p;
    p.process = c.process;
    ASSERT_TRUE(FindProgramWindows(p, true, WaitStartMs()));
    size_t onFirst = EmuRecord(0, 0).size();
    EXPECT_TRUE(WaitFor([] { return EmuRecord(0, 1).size() >= 1; }, FAULT_WAIT_MS))
        << "the start-up write reaches parport1";
    EXPECT_EQ(EmuRecord(0, 0).size(), onFirst) << "nothing more on parport0";
    FinishTool(c, 0);
}
