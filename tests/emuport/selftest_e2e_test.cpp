// travek-portctl selftest on the emulated device with its loopback plug, in
// every case the test reports: a good plug, each kind of faulty wire, no plug,
// and a port that cannot be opened (the helper's own messages); the LED walk;
// every pattern reaching the device in order through the helper, which lets
// go of the port when the test ends. Runs inside with-emuport.sh.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>
#include "childrun.h"
#include "emuport.h"
#include "portnative.h"
#include "testfacts.h"

namespace {

static const int RUN_MS = static_cast<int>(WaitStartMs());  // a self-test takes well under a second; the machine may be loaded

std::string Mount() { const char* d = getenv(EMUPORT_ENV); return d ? d : ""; }
std::string Device(int n = 0) { return Mount() + "/parport" + std::to_string(n); }

bool Control(const std::string& text)
{
    std::ofstream out(Device() + EMUPORT_CTL_SUFFIX);
    out << text << "\n";
    out.flush();
    return out.good();
}

std::string State(const std::string& key)
{
    std::ifstream in(Device() + EMUPORT_CTL_SUFFIX);
    std::string line;
    while (std::getline(in, line))
        if (line.compare(0, key.size() + 1, key + " ") == 0)
            return line.substr(key.size() + 1);
    return "";
}

std::vector<int> Record()
{
    std::ifstream in(Device() + EMUPORT_WRITES_SUFFIX);
    std::vector<int> v;
    int value;
    long long ticks;
    while (in >> value >> ticks)
        v.push_back(value);
    return v;
}

class Selftest : public ::testing::Test {
protected:
    std::string runtime, out, err;
    void SetUp() override
    {
        if (Mount().empty())
            GTEST_SKIP() << "run through with-emuport.sh";
        ASSERT_TRUE(Control("normal\nmode 660\nclaimwait 400\nstatus 127\nloopback on\nclear"));
        char tmpl[] = "/tmp/travek-selftest-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        runtime = tmpl;
        setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
        unsetenv("TRAVEK_PORT");
    }
    void TearDown() override
    {
        std::string dir = runtime + "/" + PORTSTATE_DIR;
        unlink((dir + "/selftest.v2").c_str());
        rmdir(dir.c_str());
        rmdir(runtime.c_str());
    }
    int Run(std::vector<std::string> args)
    {
        args.insert(args.begin(), "selftest");
        return RunChild(PORTCTL_PATH, args, &out, &err, RUN_MS);
    }
    // The report's line for a wire ("D1 → Select" ...).
    std::string Line(const std::string& wire)
    {
        size_t at = out.find("  " + wire);
        return at == std::string::npos ? "" : out.substr(at, out.find('\n', at) - at);
    }
};

TEST_F(Selftest, AGoodPlugPassesWithEveryPatternCarriedInOrderThroughTheHelper)
{
    ASSERT_EQ(Run({ "--port", Device() }), 0) << out << err;
    EXPECT_NE(out.find("Autotest de port réel " + Device() + " (ppdev)"), std::string::npos) << out;
    for (const char* wire : { "D0 → nError", "D1 → Select", "D2 → PaperOut", "D3 → nAck", "D4 → Busy" })
        EXPECT_NE(Line(wire).find(" bon"), std::string::npos) << wire << "\n" << out;
    EXPECT_NE(out.find("Verdict : port en bon état"), std::string::npos) << out;
    EXPECT_EQ(err, "");
    std::vector<int> expected = { 0x00, 0x01, 0x02, 0x04, 0x08, 0x10, 0x1F, 0x1E, 0x1D, 0x1B, 0x17, 0x0F, 0x00 };
    EXPECT_EQ(Record(), expected);
    EXPECT_EQ(State("claimed"), "0") << "the helper let go of the port";
    EXPECT_EQ(State("opens"), "0");

    // Named by TRAVEK_PORT instead, right after: no helper is left in the way.
    setenv("TRAVEK_PORT", Device().c_str(), 1);
    EXPECT_EQ(Run({}), 0) << out << err;
}

TEST_F(Selftest, EachFaultyWireIsNamedAndTheVerdictCountsThem)
{
    struct Case { const char* commands; const char* wire; const char* words; int faulty; const char* good; } cases[] = {
        { "loopback stuck 3 high", "D3 → nAck", "bloqué haut", 1, "D2 → PaperOut" },
        { "loopback stuck 4 low", "D4 → Busy", "bloqué bas", 1, "D3 → nAck" },
        { "loopback cross 1 2", "D1 → Select", "croisé avec D2 (broche 4)", 2, "D0 → nError" },
        { "loopback invert 0", "D0 → nError", "ne suit pas D0", 1, "D4 → Busy" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.commands);
        ASSERT_TRUE(Control(std::string("loopback on\n") + c.commands));
        EXPECT_EQ(Run({ "--port", Device() }), 1) << out << err;
        EXPECT_NE(Line(c.wire).find(c.words), std::string::npos) << out;
        EXPECT_NE(Line(c.good).find(" bon"), std::string::npos) << out;
        EXPECT_NE(out.find("Verdict : " + std::to_string(c.faulty) + " fil(s) sur 5 défectueux"),
                  std::string::npos) << out;
        if (c.faulty == 2) {
            EXPECT_NE(Line("D2 → PaperOut").find("croisé avec D1 (broche 3)"), std::string::npos) << out;
        }
    }
}

TEST_F(Selftest, WithoutAPlugItSaysSoAndDoesNotBlameThePort)
{
    ASSERT_TRUE(Control("loopback off"));
    EXPECT_EQ(Run({ "--port", Device() }), 2) << out << err;
    EXPECT_NE(out.find("Aucune fiche de bouclage trouvée"), std::string::npos) << out;
    EXPECT_NE(out.find("ne dit pas que le port soit en panne"), std::string::npos) << out;
    EXPECT_EQ(out.find("défectueux"), std::string::npos) << out;
    EXPECT_EQ(out.find("bloqué"), std::string::npos) << out;
}

TEST_F(Selftest, APortThatCannotBeOpenedGivesTheHelpersMessage)
{
    struct Case { const char* commands; std::string port; const char* words; } cases[] = {
        { "", Device(9), "Port parallèle " },
        { "mode 000", Device(), "ajoutez l'utilisateur au groupe lp" },
        { "busy", Device(), "occupé par un autre programme" },
        { "enotty", Device(), "n'est pas un port parallèle" },
        { "", "sim", "le port simulé n'a pas de fils à boucler" },
        { "", "lpt1", "n'est pas un nom de port : donnez sim, direct" },  // the library's grammar
        { "", "C:\\port32.dll", "ne servent que sous Windows" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.port + " " + c.commands);
        ASSERT_TRUE(Control(std::string("normal\nmode 660\n") + c.commands));
        EXPECT_EQ(Run({ "--port", c.port }), 3) << out << err;
        EXPECT_NE(err.find(c.words), std::string::npos) << err;
        EXPECT_EQ(out.find("Verdict"), std::string::npos) << out;
    }
}

TEST_F(Selftest, TheLedWalkLightsEachLineInTurnAndAFailingPortStopsIt)
{
    ASSERT_EQ(Run({ "--leds", "--step", "10ms", "--port", Device() }), 0) << out << err;
    EXPECT_EQ(Record(), (std::vector<int>{ 1, 2, 4, 8, 16, 32, 64, 128, 0 }));
    for (int line = 0; line < 8; ++line)
        EXPECT_NE(out.find("D" + std::to_string(line) + " (broche " + std::to_string(line + 2) + ") allumée"),
                  std::string::npos) << out;

    ASSERT_TRUE(Control("clear"));
    ChildRun c;
    ASSERT_TRUE(StartChild(&c, PORTCTL_PATH, { "selftest", "--leds", "--step", "2s", "--port", Device() }));
    ASSERT_TRUE(WaitUntil([] { return !Record().empty(); }, RUN_MS));
    ASSERT_TRUE(Control("vanish"));
    FinishChild(&c, RUN_MS);
    EXPECT_EQ(c.code, 3) << c.stdoutText << c.stderrText;
    EXPECT_NE(c.stderrText.find("a disparu ou a échoué en cours de session"), std::string::npos) << c.stderrText;
}

}  // namespace
