// travek-portctl run as a script runs it, with no Wine, on a state file that
// this test also maps and holds a client slot of (so the session is live):
// the commands of portctl.exe with the same output, another user's state
// refused by name, wait and play.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>
#include <atomic>
#include <fstream>
#include <string>
#include <thread>
#include <vector>
#include "childrun.h"
#include "portnative.h"
#include "testfacts.h"
#include "vcdcheck.h"

namespace {

static const int TOOL_MS = static_cast<int>(WaitStartMs());  // the longest any command here may take on a loaded machine

class Tool : public ::testing::Test {
protected:
    std::string root, file;
    PortState* s = nullptr;
    int slot = -1;
    std::string out, err;

    void SetUp() override
    {
        char tmpl[] = "/tmp/travek-portctl-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        root = tmpl;
        setenv("XDG_RUNTIME_DIR", root.c_str(), 1);
        char path[PORTSTATE_PATH_MAX], e[PORTSTATE_ERROR_MAX];
        ASSERT_TRUE(PortStatePath(path, sizeof path, e, sizeof e)) << e;
        file = path;
        s = PortStateMapNative(path, true, e, sizeof e);
        ASSERT_NE(s, nullptr) << e;
        slot = PortStateTakeClient(s, getpid(), 0, PortNativeTicks());
    }
    void TearDown() override
    {
        PortStateFreeClient(s, slot);
        PortStateUnmapNative(s);
        unlink(file.c_str());
        for (const std::string& f : files)
            unlink(f.c_str());
        rmdir((root + "/" + PORTSTATE_DIR).c_str());
        rmdir(root.c_str());
    }
    int Run(const std::vector<std::string>& args) { return RunChild(PORTCTL_PATH, args, &out, &err, TOOL_MS); }
    void Write(int value) { PortStateAppend(s, PORT_DATA, uint16_t(value), PortNativeTicks); }
    std::vector<std::string> files;
    std::string WriteFile(const std::string& name, const std::string& text)
    {
        files.push_back(root + "/" + name);
        std::ofstream(files.back()) << text;
        return files.back();
    }
};

TEST_F(Tool, TheCommandsOfPortctlWithTheSameOutput)
{
    EXPECT_EQ(Run({ "etat", "nError", "Select" }), 0) << err;
    EXPECT_EQ(err, "") << "the state is shared: no warning";
    EXPECT_EQ(AtomicLoad(&s->status), 103);
    EXPECT_EQ(Run({ "etat" }), 0);
    EXPECT_EQ(out, "103\n");
    Write(0x1A5);
    EXPECT_EQ(Run({ "donnees" }), 0);
    EXPECT_EQ(out, "165\n");
    EXPECT_EQ(Run({ "port" }), 0);
    EXPECT_EQ(out, "port simulé\n");
    EXPECT_EQ(Run({ "vcd", "-" }), 0);
    VcdFile f = ParseVcdStrict(out);
    ASSERT_TRUE(f.ok) << f.error;
    EXPECT_EQ(VcdDataValues(f).back(), 0xA5);
    EXPECT_EQ(f.initial[VcdIdOf(f, "Select")], '0');
    EXPECT_EQ(Run({ "bogus" }), 2);
    EXPECT_NE(err.find("Usage : travek-portctl"), std::string::npos);

    // A real port: shown with its fault; its inputs cannot be forced.
    AtomicStore(&s->backend, uint32_t(PORT_BACKEND_PPDEV));
    PortStateSetTarget(s, "/dev/parport1");
    PortStateFault(s, PORT_FAULT_DEVICE_LOST, "Le port /dev/parport1 a disparu", PortNativeTicks());
    EXPECT_EQ(Run({ "port" }), 0);
    EXPECT_EQ(out.substr(0, out.find("entrées")),
              "port réel /dev/parport1 (ppdev)\ndefaut : Le port /dev/parport1 a disparu\n");
    EXPECT_NE(out.find("entrées périmées : dernière lecture il y a"), std::string::npos)
        << "nothing read this port since the state began: " << out;
    EXPECT_EQ(Run({ "etat", "119" }), 1);
    EXPECT_NE(err.find("ne peut pas les forcer"), std::string::npos) << err;
    EXPECT_EQ(AtomicLoad(&s->status), 103);
}

TEST_F(Tool, AnotherUsersStateOrOpenModesAreRefusedByName)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to give the file to another user";
    ASSERT_EQ(chown(file.c_str(), 65534, 65534), 0);
    EXPECT_EQ(Run({ "etat" }), 1);
    EXPECT_NE(err.find(file), std::string::npos) << err;
    EXPECT_NE(err.find("refusé"), std::string::npos) << err;
    EXPECT_EQ(out, "");
    ASSERT_EQ(chown(file.c_str(), 0, 0), 0);
    ASSERT_EQ(chmod(file.c_str(), 0644), 0);
    EXPECT_EQ(Run({ "etat", "119" }), 1);
    EXPECT_NE(err.find("644"), std::string::npos) << err;
    EXPECT_EQ(AtomicLoad(&s->status), PORT_STATUS_IDLE);
    ASSERT_EQ(chmod(file.c_str(), 0600), 0);
}

TEST_F(Tool, WaitCatchesAValueHeldForAMomentAndTimesOutSayingWhatTheLinesHold)
{
    ChildRun c;
    ASSERT_TRUE(StartChild(&c, PORTCTL_PATH, { "wait", "data&0x84=0x04", "within", "15s" }));
    // 0x04 lasts only until the next write: the tool must find it in the journal.
    std::atomic<bool> done{ false };
    std::thread pulses([&] {
        while (!done) {
            Write(0x04);
            Write(0x00);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });
    FinishChild(&c, TOOL_MS);
    done = true;
    pulses.join();
    EXPECT_EQ(c.code, 0) << c.stdoutText << c.stderrText;
    EXPECT_NE(c.stdoutText.find("condition remplie"), std::string::npos) << c.stdoutText;
    EXPECT_NE(c.stdoutText.find("0x04 (4)  0000 0100"), std::string::npos) << c.stdoutText;

    Write(0x7F);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Run({ "wait", "data&0x80", "within", "300ms" }), 1);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300)) << "never before its limit";
    EXPECT_EQ(out, "délai de 300 ms dépassé : les lignes de données valent 0x7F (127)  0111 1111\n");
    EXPECT_EQ(Run({ "wait", "data=0x7F", "within", "0ms" }), 0) << "already met";
    EXPECT_EQ(Run({ "wait", "data=300" }), 2);
    EXPECT_NE(err.find("valeur illisible"), std::string::npos) << err;
}

TEST_F(Tool, PlayDrivesTheInputsStepByStepAndSaysHowLateEachCame)
{
    std::string path = WriteFile("steps.txt", "+0 119\n+40ms Select\n+40ms 0x5F\n+40ms\nrepeat 2\n");
    std::vector<int32_t> seen;
    std::atomic<bool> done{ false };
    std::thread watch([&] {
        while (!done) {
            int32_t v = AtomicLoad(&s->status);
            if (seen.empty() || seen.back() != v)
                seen.push_back(v);
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });
    auto start = std::chrono::steady_clock::now();
    int code = Run({ "play", path });
    auto took = std::chrono::steady_clock::now() - start;
    done = true;
    watch.join();
    ASSERT_EQ(code, 0) << out << err;
    EXPECT_EQ(seen, (std::vector<int32_t>{ 127, 119, 111, 95, 119, 111, 95 }));
    EXPECT_GE(took, std::chrono::milliseconds(200)) << "the last step is due at 200 ms";
    int lines = 0;
    for (size_t at = out.find("écart +"); at != std::string::npos; at = out.find("écart +", at + 1))
        ++lines;
    EXPECT_EQ(lines, 6) << out;
    EXPECT_NE(out.find("6 étape(s) jouée(s) ; écart moyen +"), std::string::npos) << out;
    EXPECT_NE(out.find("    6     2      200.000 ms      95  0101 1111  écart +"), std::string::npos) << out;

    EXPECT_EQ(Run({ "play", WriteFile("bad.txt", "+0 119\n+1s Strobe\n") }), 2);
    EXPECT_NE(err.find("ligne 2 : entrée inconnue"), std::string::npos) << err;
    EXPECT_EQ(Run({ "play", root + "/none.txt" }), 1);
    EXPECT_NE(err.find("impossible de lire"), std::string::npos) << err;

    AtomicStore(&s->backend, uint32_t(PORT_BACKEND_PPDEV));
    AtomicStore(&s->status, 63);
    EXPECT_EQ(Run({ "play", path }), 1);
    EXPECT_NE(err.find("tenues par le matériel"), std::string::npos) << err;
    EXPECT_EQ(AtomicLoad(&s->status), 63);
}

}  // namespace
