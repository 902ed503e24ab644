// The console tool portctl.exe, run as a script would run it, on the shared
// state that this test process also holds.
#include <gtest/gtest.h>
#include <windows.h>
#include <string>
#include <vector>
#include "chaintest.h"
#include "childproc.h"
#include "emudevice.h"
#include "plug.h"
#include "portlabel.h"
#include "sharedport.h"
#include "testwin.h"
#include "vcdcheck.h"

static int Portctl(const std::string& args, std::string* out)
{
    int code = RunTool("portctl.exe", args, out);
    *out = TrimLineEnds(*out);
    return code;
}

TEST(Portctl, BadArgumentsGiveUsageAndExitCodeTwo)
{
    PortState* s = SharedPortAttach();
    SimPortSetStatus(s, PORT_STATUS_IDLE);
    std::string out;
    for (const char* args : { "", "bogus", "etat 70000", "etat 12abc", "etat nError Strobe", "etat nError 119",
                              "donnees 3", "suivre 0", "suivre x", "suivre 1 2", "vcd", "vcd a b" }) {
        EXPECT_EQ(Portctl(args, &out), 2) << args;
        EXPECT_NE(out.find("Usage : portctl"), std::string::npos) << args;
        EXPECT_NE(out.find("portctl : "), std::string::npos) << args;  // says what was wrong
    }
    EXPECT_EQ(s->status, PORT_STATUS_IDLE);  // nothing was set
    EXPECT_EQ(Portctl("aide", &out), 0);
    EXPECT_EQ(out.find("portctl : "), std::string::npos);
    EXPECT_NE(out.find("portctl etat ENTREE..."), std::string::npos);
}

TEST(Portctl, SetsTheStatusByValueOrBySwitchNamesAndPrintsTheRegisters)
{
    PortState* s = SharedPortAttach();
    std::string out;
    struct Case {
        const char* args;
        int32_t status;
    };
    const Case cases[] = { { "etat nError", 119 },   { "etat Select", 111 }, { "etat PaperOut", 95 },
                           { "etat nAck", 63 },      { "etat Busy", 255 },   { "etat nError Select", 103 },
                           { "etat 0x78", 120 },     { "etat -1", -1 },      { "etat 127", 127 } };
    for (const Case& c : cases) {
        EXPECT_EQ(Portctl(c.args, &out), 0) << c.args << ": " << out;
        EXPECT_EQ(out, "") << c.args;  // the state is shared: no warning
        EXPECT_EQ(s->status, c.status) << c.args;
        EXPECT_EQ(Portctl("etat", &out), 0);
        EXPECT_EQ(out, std::to_string(c.status));
    }
    LibraryWrite()(0x378, 0x1A5);
    EXPECT_EQ(Portctl("donnees", &out), 0);
    EXPECT_EQ(out, "165");
}

TEST(Portctl, FollowPrintsEachWriteWithItsTime)
{
    Child c;
    ASSERT_TRUE(StartTool(c, "portctl.exe", "suivre 4", true));
    std::string text;
    ASSERT_TRUE(ReadUntil(c, &text, "Ctrl+C", WaitStartMs())) << text;
    PortWriteEntry write = LibraryWrite();
    write(0x378, 0);
    write(0x378, 4);
    LetTimePass(30);  // the times of the lines differ
    write(0x37A, 0x0C);
    write(0x378, 0x1234);
    EXPECT_TRUE(ReadUntil(c, &text, "(0x1234)  0011 0100", WaitStartMs())) << text;
    EXPECT_EQ(FinishTool(c, WaitStartMs()), 0);  // it stops after the fourth
    size_t header = text.find('\n');
    ASSERT_NE(header, std::string::npos);
    std::vector<std::string> lines;
    size_t at = header + 1;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        lines.push_back(TrimLineEnds(text.substr(at, end - at)));
        at = end == std::string::npos ? text.size() : end + 1;
    }
    ASSERT_EQ(lines.size(), 4u) << text;
    const char* expected[] = { " s  0x378 <- 0 (0x00)  0000 0000", " s  0x378 <- 4 (0x04)  0000 0100",
                               " s  0x37A <- 12 (0x0C)  0000 1100", " s  0x378 <- 4660 (0x1234)  0011 0100" };
    double previous = -1;
    for (size_t i = 0; i < 4; ++i) {
        const std::string& line = lines[i];
        size_t space = line.find(' ');
        ASSERT_NE(space, std::string::npos) << line;
        EXPECT_EQ(line.substr(space), expected[i]) << line;
        EXPECT_EQ(line.find('.'), space - 7) << line;  // microseconds
        double seconds = atof(line.c_str());
        EXPECT_GE(seconds, previous);
        previous = seconds;
    }
    EXPECT_GE(atof(lines[2].c_str()) - atof(lines[1].c_str()), 0.025);
}

TEST(Portctl, ExportsTheJournalAsAStrictVcdFile)
{
    PortWriteEntry write = LibraryWrite();
    const int values[] = { 0, 1, 0, 2, 0, 4, 0, 128 };
    for (int v : values)
        write(0x378, static_cast<short>(v));
    SimPortSetStatus(SharedPortAttach(), 111);
    std::string path = TestFolder() + "portctl_export.vcd";
    DeleteFileA(path.c_str());
    std::string out;
    ASSERT_EQ(Portctl("vcd \"" + path + "\"", &out), 0) << out;
    EXPECT_NE(out.find("écritures exportées"), std::string::npos);
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    std::string text(GetFileSize(h, nullptr), '\0');
    DWORD got = 0;
    ReadFile(h, &text[0], static_cast<DWORD>(text.size()), &got, nullptr);
    CloseHandle(h);
    VcdFile f = ParseVcdStrict(text);
    ASSERT_TRUE(f.ok) << f.error;
    std::vector<int> dumped = VcdDataValues(f);
    ASSERT_GE(dumped.size(), 8u);
    EXPECT_EQ(std::vector<int>(dumped.end() - 8, dumped.end()),
              std::vector<int>(std::begin(values), std::end(values)));
    EXPECT_EQ(f.initial[VcdIdOf(f, "Select")], '0');  // the status read at the export
    EXPECT_EQ(f.initial[VcdIdOf(f, "nError")], '1');

    // The same dump on standard output; an unwritable file is a failure.
    EXPECT_EQ(Portctl("vcd -", &out), 0);
    EXPECT_TRUE(ParseVcdStrict(out).ok);
    EXPECT_EQ(Portctl("vcd \"" + TestFolder() + "no such folder\\x.vcd\"", &out), 1);
    EXPECT_NE(out.find("impossible d'écrire"), std::string::npos);
    SimPortSetStatus(SharedPortAttach(), PORT_STATUS_IDLE);
}

// A state that says the library drives a real port: what portctl shows of it
// and what it refuses. The simulated port is put back afterwards.
TEST(Portctl, OnARealPortShowsTheDeviceAndItsFaultAndRefusesToForceInputs)
{
    PortState* s = SharedPortAttach();
    SimPortSetStatus(s, 95);
    std::string out;
    EXPECT_EQ(Portctl("port", &out), 0);
    EXPECT_EQ(out, "port simul\xC3\xA9");  // UTF-8, as the state keeps texts

    AtomicStore(&s->backend, uint32_t(PORT_BACKEND_PPDEV));
    PortStateSetTarget(s, "/dev/parport1");
    PortStateFault(s, PORT_FAULT_DEVICE_LOST, "Le port /dev/parport1 a disparu", SharedPortNow());
    EXPECT_EQ(Portctl("port", &out), 0);
    EXPECT_NE(out.find("port r\xC3\xA9" "el /dev/parport1 (ppdev)"), std::string::npos) << out;
    EXPECT_NE(out.find("defaut : Le port /dev/parport1 a disparu"), std::string::npos) << out;
    EXPECT_EQ(Portctl("etat 119", &out), 1);
    EXPECT_NE(out.find("ne peut pas les forcer"), std::string::npos) << out;
    EXPECT_EQ(Portctl("etat nError", &out), 1);
    EXPECT_EQ(s->status, 95);  // the inputs as read stay
    EXPECT_EQ(Portctl("etat", &out), 0);
    EXPECT_EQ(out.substr(0, 2), "95");
    // Nothing has read this port since the state began: its status is said stale.
    EXPECT_NE(out.find("portctl : entr\xC3\xA9" "es p\xC3\xA9rim\xC3\xA9" "es"), std::string::npos) << out;

    PortStateFault(s, PORT_FAULT_NONE, "", SharedPortNow());
    AtomicStore(&s->backend, uint32_t(PORT_BACKEND_SIMULATED));
    PortStateSetTarget(s, "sim");
    SimPortSetStatus(s, PORT_STATUS_IDLE);
}

// wait and play are the native tool's own code: here they run on Windows.
TEST(Portctl, WaitAndPlayRunOnWindowsToo)
{
    Child c;
    ASSERT_TRUE(StartTool(c, "portctl.exe", "wait data=0x04 within 20s", true));
    PortWriteEntry write = LibraryWrite();
    DWORD start = GetTickCount();
    do {  // 4 is on the lines only until the next write
        write(0x378, 4);
        write(0x378, 0);
    } while (WaitForSingleObject(c.process.hProcess, 5) == WAIT_TIMEOUT && GetTickCount() - start < WaitStartMs());
    std::string text;
    ReadUntil(c, &text, "\n", WaitMs());
    EXPECT_EQ(FinishTool(c, WaitMs()), 0) << text;
    EXPECT_NE(text.find("condition remplie"), std::string::npos) << text;
    std::string out;
    EXPECT_EQ(Portctl("wait data=0x80 within 100ms", &out), 1);
    EXPECT_NE(out.find("délai de 100 ms dépassé : les lignes de données valent 0x00 (0)"), std::string::npos) << out;

    std::string path = TestFolder() + "portctl_play.txt";
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    const char steps[] = "+0 nError\n+30ms 0x5F\n+30ms 63\n";
    DWORD done = 0;
    WriteFile(h, steps, sizeof steps - 1, &done, nullptr);
    CloseHandle(h);
    EXPECT_EQ(Portctl("play \"" + path + "\"", &out), 0) << out;
    EXPECT_NE(out.find("3 étape(s) jouée(s) ; écart moyen +"), std::string::npos) << out;
    EXPECT_EQ(SharedPortAttach()->status, 63);
    SimPortSetStatus(SharedPortAttach(), PORT_STATUS_IDLE);
    DeleteFileA(path.c_str());
}

// The self-test through INPOUT32.dll on the tests' chained library, with the
// emulated plug's wiring; the session's state is given back its port after.
TEST(Portctl, SelftestThroughTheLibraryOnAChainedPort)
{
    PortState* s = SharedPortAttach();
    ChainLog* log = ChainLogAttach();
    ASSERT_NE(log, nullptr);
    std::string out, port = " --port \"" + TestFolder() + CHAINTEST_DLL + "\"";
    ResetPlug(&log->plug, true);
    EXPECT_EQ(Portctl("selftest" + port, &out), 0) << out;
    EXPECT_NE(out.find("Verdict : port en bon état"), std::string::npos) << out;
    EXPECT_NE(out.find("Autotest de biblioth\xC3\xA8que "), std::string::npos) << out;
    LoopbackCommand cross;
    ASSERT_TRUE(ParseLoopbackCommand("loopback cross 1 2", &cross));
    ApplyLoopbackCommand(&log->plug, cross);
    EXPECT_EQ(Portctl("selftest" + port, &out), 1) << out;
    EXPECT_NE(out.find("croisé avec D2 (broche 4)"), std::string::npos) << out;
    ResetPlug(&log->plug, false);
    log->status = PORT_STATUS_IDLE;
    EXPECT_EQ(Portctl("selftest" + port, &out), 2) << out;
    EXPECT_NE(out.find("Aucune fiche de bouclage"), std::string::npos) << out;

    LONG calls = log->calls;
    EXPECT_EQ(Portctl("selftest --leds --step 5ms" + port, &out), 0) << out;
    std::vector<int> lit;
    for (LONG i = calls; i < log->calls; ++i)
        if (log->entries[i % CHAINTEST_CAPACITY].kind == CHAIN_WRITE)
            lit.push_back(log->entries[i % CHAINTEST_CAPACITY].value);
    EXPECT_EQ(lit, (std::vector<int>{ 1, 2, 4, 8, 16, 32, 64, 128, 0 }));

    EXPECT_EQ(Portctl("selftest --port sim", &out), 3);
    EXPECT_NE(out.find("port simulé n'a pas de fils à boucler"), std::string::npos) << out;
    EXPECT_EQ(Portctl("selftest --port /dev/parport0", &out), 3);
    EXPECT_NE(out.find("travek-portctl selftest"), std::string::npos) << out;
    EXPECT_EQ(Portctl("selftest --port \"" + TestFolder() + "absent.dll\"", &out), 3);
    EXPECT_NE(out.find("impossible de charger"), std::string::npos) << out;
    EXPECT_EQ(AtomicLoad(&s->backend), uint32_t(PORT_BACKEND_SIMULATED)) << "the session's port given back";
    EXPECT_EQ(PortLabel(s), "port simulé");
    EXPECT_EQ(AtomicLoad(&s->fault), uint32_t(PORT_FAULT_NONE));
}

// A shared state it cannot have (here a file where its folder should be) is a
// failure naming the place, not a private state reported as the port's.
TEST(Portctl, AStateItCannotHaveIsAFailureThatNamesIt)
{
    std::string folder = TestFolder() + "portctl_unusable";
    CreateDirectoryA(folder.c_str(), nullptr);
    std::string blocker = folder + "\\travek";
    HANDLE h = CreateFileA(blocker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    CloseHandle(h);
    char saved[1024] = "";
    DWORD n = GetEnvironmentVariableA("XDG_RUNTIME_DIR", saved, sizeof saved);
    SetEnvironmentVariableA("XDG_RUNTIME_DIR", LinuxPathOf(folder).c_str());
    std::string out;
    int code = Portctl("etat", &out);
    SetEnvironmentVariableA("XDG_RUNTIME_DIR", n > 0 && n < sizeof saved ? saved : nullptr);
    DeleteFileA(blocker.c_str());
    RemoveDirectoryA(folder.c_str());
    EXPECT_EQ(code, 1) << out;
    EXPECT_NE(out.find("état partagé du port inaccessible : " + LinuxPathOf(blocker)), std::string::npos) << out;
}
