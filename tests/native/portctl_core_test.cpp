// portctl's portable core, natively: the new commands' arguments, the
// stimulus files of play (a dump written by our own export plays back as the
// status it recorded), and the self-test's judgement of each wire against
// the emulated plug's wiring and faults.
#include <gtest/gtest.h>
#include <string>
#include <vector>
#include "args.h"
#include "plug.h"
#include "selftest.h"
#include "stimulus.h"
#include "switches.h"
#include "vcd.h"

namespace {

bool Parse(std::vector<const char*> words, PortctlArgs* a, std::string* error)
{
    words.insert(words.begin(), "portctl");
    return ParsePortctlArguments(static_cast<int>(words.size()), words.data(), a, error);
}

TEST(PortctlArguments, WaitTakesAConditionAndAnOptionalLimit)
{
    struct Case { std::vector<const char*> words; uint8_t mask, value; int64_t within; } cases[] = {
        { { "wait", "data=0x04", "within", "200ms" }, 0xFF, 0x04, 200 * NS_PER_MS },
        { { "wait", "data=4" }, 0xFF, 4, -1 },
        { { "wait", "data&0x80", "within", "2s" }, 0x80, 0x80, 2 * NS_PER_S },
        { { "wait", "data&0xF0=0x20", "within", "500us" }, 0xF0, 0x20, 500 * NS_PER_US },
        { { "wait", "data&3=0", "within", "250" }, 0x03, 0x00, 250 * NS_PER_MS },
    };
    for (const Case& c : cases) {
        PortctlArgs a;
        std::string error;
        ASSERT_TRUE(Parse(c.words, &a, &error)) << c.words[1] << ": " << error;
        EXPECT_EQ(a.command, PORTCTL_WAIT);
        EXPECT_EQ(a.condition.mask, c.mask) << c.words[1];
        EXPECT_EQ(a.condition.value, c.value) << c.words[1];
        EXPECT_EQ(a.withinNs, c.within) << c.words[1];
    }
    std::vector<std::vector<const char*>> bad = {
        { "wait" }, { "wait", "data" }, { "wait", "data=" }, { "wait", "data=256" }, { "wait", "data=-1" },
        { "wait", "data&0" }, { "wait", "data&0x0F=0x10" }, { "wait", "status=4" }, { "wait", "data==4" },
        { "wait", "data=4", "within" }, { "wait", "data=4", "inside", "2s" }, { "wait", "data=4", "within", "2h" },
        { "wait", "data=4", "within", "-5ms" }, { "wait", "data=4", "within", "99999999999999s" },
    };
    for (const auto& words : bad) {
        PortctlArgs a;
        std::string error;
        EXPECT_FALSE(Parse(words, &a, &error)) << words.back();
        EXPECT_FALSE(error.empty()) << words.back();
    }
}

TEST(PortctlArguments, SelftestAndPlayOptions)
{
    PortctlArgs a;
    std::string error;
    ASSERT_TRUE(Parse({ "selftest" }, &a, &error));
    EXPECT_EQ(a.command, PORTCTL_SELFTEST);
    EXPECT_EQ(a.port, nullptr);
    EXPECT_FALSE(a.leds);
    ASSERT_TRUE(Parse({ "selftest", "--port", "/dev/parport1", "--leds", "--step=250ms" }, &a, &error)) << error;
    EXPECT_STREQ(a.port, "/dev/parport1");
    EXPECT_TRUE(a.leds);
    EXPECT_EQ(a.stepNs, 250 * NS_PER_MS);
    ASSERT_TRUE(Parse({ "selftest", "--port=parport0" }, &a, &error));
    EXPECT_STREQ(a.port, "parport0");
    ASSERT_TRUE(Parse({ "play", "steps.txt" }, &a, &error));
    EXPECT_EQ(a.command, PORTCTL_PLAY);
    EXPECT_STREQ(a.file, "steps.txt");
    std::vector<std::vector<const char*>> bad = {
        { "selftest", "--port" }, { "selftest", "--port=" }, { "selftest", "--port", "a", "--port", "b" },
        { "selftest", "--step", "1s" }, { "selftest", "--leds", "--step", "0ms" }, { "selftest", "--portx" },
        { "selftest", "loop" }, { "play" }, { "play", "a", "b" },
    };
    for (const auto& words : bad) {
        EXPECT_FALSE(Parse(words, &a, &error)) << words.back();
        EXPECT_FALSE(error.empty());
    }
}

std::vector<std::pair<int64_t, int32_t>> Steps(const Stimulus& s)
{
    std::vector<std::pair<int64_t, int32_t>> v;
    for (const StimulusStep& step : s.steps)
        v.push_back({ step.atNs, step.status });
    return v;
}

TEST(Stimulus, TimedTextDelaysAddUpAndTheEndMarkSetsTheRound)
{
    Stimulus s;
    std::string error;
    ASSERT_TRUE(ParseStimulus("# two sensors\n+0 119\n\n+500ms 127   # released\n+1s nError Select\n"
                              "+250us 0x6F\n+2s\nrepeat 3\n", &s, &error)) << error;
    std::vector<std::pair<int64_t, int32_t>> expected = {
        { 0, 119 }, { 500 * NS_PER_MS, 127 }, { 1500 * NS_PER_MS, 103 }, { 1500 * NS_PER_MS + 250 * NS_PER_US, 111 } };
    EXPECT_EQ(Steps(s), expected);
    EXPECT_EQ(s.roundNs, 3500 * NS_PER_MS + 250 * NS_PER_US);
    EXPECT_EQ(s.rounds, 3);
    // Without an end mark a round ends at its last step; once by default.
    ASSERT_TRUE(ParseStimulus("+100 119\n+100 127\n", &s, &error));
    EXPECT_EQ(s.roundNs, 200 * NS_PER_MS);
    EXPECT_EQ(s.rounds, 1);

    struct Bad { const char* text; const char* words; } bad[] = {
        { "", "aucune étape" }, { "+1s\n", "aucune étape" }, { "119\n", "ligne 1" },
        { "+0 119\n+x 127\n", "ligne 2" }, { "+0 Strobe\n", "entrée inconnue" }, { "+0 119\n+1s\n+1s 127\n", "ligne 3" },
        { "+0 119\nrepeat 0\n", "repeat" }, { "+0 119\nrepeat 2\nrepeat 3\n", "déjà" },
        { "+86400s 119\n+86400s 119\nrepeat 1000000\n", "trop longtemps" }, { "+0 70000\n", "65535" },
    };
    for (const Bad& b : bad) {
        EXPECT_FALSE(ParseStimulus(b.text, &s, &error)) << b.text;
        EXPECT_NE(error.find(b.words), std::string::npos) << b.text << " -> " << error;
    }
}

TEST(Stimulus, ADumpOfOurExportPlaysBackTheStatusItRecorded)
{
    const int64_t freq = 10000000;  // 100 ns ticks
    StatusChange changes[] = { { 1000, 119 }, { 5000, 103 }, { 5000 + 250, PORT_STATUS_IDLE }, { 20000, 255 } };
    JournalWrite writes[] = { { 0, 2000, PORT_DATA, 4 }, { 1, 3000, PORT_DATA, 0 } };
    VcdTrace t = {};
    t.writes = writes;
    t.writeCount = 2;
    t.statusChanges = changes;
    t.statusCount = 4;
    t.frequency = freq;
    t.originTicks = 0;
    t.endTicks = 30000;
    t.initialData = 0;
    t.initialStatus = PORT_STATUS_IDLE;
    Stimulus s;
    std::string error;
    ASSERT_TRUE(ParseStimulus(VcdText(t), &s, &error)) << error;
    std::vector<std::pair<int64_t, int32_t>> expected = {
        { 0, PORT_STATUS_IDLE }, { 100 * NS_PER_US, 119 }, { 500 * NS_PER_US, 103 }, { 525 * NS_PER_US, PORT_STATUS_IDLE }, { 2000 * NS_PER_US, 255 } };
    EXPECT_EQ(Steps(s), expected) << "data lines ignored, inputs at their pin level";
    EXPECT_EQ(s.roundNs, 3000 * NS_PER_US);
    EXPECT_EQ(s.rounds, 1);
}

TEST(Stimulus, DumpsFromOtherToolsAndTheirFaults)
{
    Stimulus s;
    std::string error;
    // Another scope and timescale, x and z as released, vectors passed over.
    ASSERT_TRUE(ParseStimulusVcd("$timescale 10 ns $end $scope module top $end\n"
                                 "$var wire 8 # bus $end $var wire 1 a NACK $end $var reg 1 b busy $end\n"
                                 "$upscope $end $enddefinitions $end\n#0 $dumpvars 1a xb b00000000 # $end\n"
                                 "#100 0a 0b\n#200 za\n#300 1b\n", &s, &error)) << error;
    std::vector<std::pair<int64_t, int32_t>> expected = {
        { 0, PORT_STATUS_IDLE }, { 1000, StatusFromSwitches((1u << INPUT_NACK) | (1u << INPUT_BUSY)) },
        { 2000, StatusFromSwitches(1u << INPUT_BUSY) }, { 3000, PORT_STATUS_IDLE } };
    EXPECT_EQ(Steps(s), expected);

    struct Bad { const char* text; const char* words; } bad[] = {
        { "$timescale 1 us $end $var wire 1 ! D0 $end #0 1!\n", "aucune des entrées" },
        { "$timescale 1 us $end $var wire 1 ! nError $end #10 0! #5 1!\n", "recule" },
        { "$var wire 1 ! nError $end #10 0!\n", "$timescale" },
        { "$timescale 3 us $end\n", "$timescale" },
        { "$timescale 1 us $end $var wire 2 ! nError $end\n", "un seul bit" },
        { "$timescale 1 us $end $var wire 1 ! nError $end $var wire 1 \" nerror $end\n", "deux fois" },
        { "$timescale 1 s $end $var wire 1 ! nError $end #99999999999 0!\n", "trop longtemps" },
        { "$timescale 1 us $end $var wire 1 ! nError $end #1 ?!\n", "inattendu" },
        { "$comment never ends\n", "sans $end" },
        { "$timescale 1 us $end $var wire 1 ! nError $end\n", "aucune valeur" },
    };
    for (const Bad& b : bad) {
        EXPECT_FALSE(ParseStimulus(b.text, &s, &error)) << b.text;
        EXPECT_NE(error.find(b.words), std::string::npos) << b.text << " -> " << error;
    }
}

// The readings the test would take through the emulated plug.
void Readings(const LoopbackPlug& plug, uint8_t levels[SELFTEST_PATTERNS])
{
    for (int p = 0; p < SELFTEST_PATTERNS; ++p) {
        int32_t status = plug.on ? LoopbackStatus(plug, SELFTEST_DATA[p], 0x7F) : 0x7F;
        levels[p] = 0;
        for (int i = 0; i < LOOPBACK_WIRES; ++i)
            levels[p] |= InputIsHigh(status, i) ? 1u << i : 0u;
    }
}

TEST(Loopback, EachWireIsJudgedFromTheReadings)
{
    struct Case {
        const char* commands;
        bool plugFound;
        WireState states[LOOPBACK_WIRES];
        unsigned others[LOOPBACK_WIRES];
    } cases[] = {
        { "on", true, { WIRE_GOOD, WIRE_GOOD, WIRE_GOOD, WIRE_GOOD, WIRE_GOOD }, {} },
        { "off", false, { WIRE_STUCK_HIGH, WIRE_STUCK_HIGH, WIRE_STUCK_HIGH, WIRE_STUCK_HIGH, WIRE_STUCK_HIGH }, {} },
        { "stuck 4 high", true, { WIRE_GOOD, WIRE_GOOD, WIRE_GOOD, WIRE_GOOD, WIRE_STUCK_HIGH }, {} },
        { "stuck 0 low", true, { WIRE_STUCK_LOW, WIRE_GOOD, WIRE_GOOD, WIRE_GOOD, WIRE_GOOD }, {} },
        { "cross 1 3", true, { WIRE_GOOD, WIRE_CROSSED, WIRE_GOOD, WIRE_CROSSED, WIRE_GOOD }, { 0, 8, 0, 2, 0 } },
        { "invert 2", true, { WIRE_GOOD, WIRE_GOOD, WIRE_ODD, WIRE_GOOD, WIRE_GOOD }, {} },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.commands);
        LoopbackPlug plug;
        LoopbackCommand command;
        ResetPlug(&plug, true);
        ASSERT_TRUE(ParseLoopbackCommand(std::string("loopback ") + c.commands, &command));
        ApplyLoopbackCommand(&plug, command);
        uint8_t levels[SELFTEST_PATTERNS];
        Readings(plug, levels);
        WireVerdict v[LOOPBACK_WIRES];
        EXPECT_EQ(AnalyseLoopback(levels, v), c.plugFound);
        for (int i = 0; i < LOOPBACK_WIRES; ++i) {
            EXPECT_EQ(v[i].state, c.states[i]) << "wire " << i;
            EXPECT_EQ(v[i].others, c.others[i]) << "wire " << i;
        }
    }
    // Two wires touching: each input reads both lines ANDed, and is crossed with the other.
    uint8_t levels[SELFTEST_PATTERNS];
    for (int p = 0; p < SELFTEST_PATTERNS; ++p) {
        uint8_t d = SELFTEST_DATA[p] & LOOPBACK_MASK;
        uint8_t both = ((d >> 0) & (d >> 1) & 1) ? 0x03 : 0x00;
        levels[p] = static_cast<uint8_t>((d & ~0x03) | both);
    }
    WireVerdict v[LOOPBACK_WIRES];
    EXPECT_TRUE(AnalyseLoopback(levels, v));
    EXPECT_EQ(v[0].state, WIRE_CROSSED);
    EXPECT_EQ(v[0].others, 2u);
    EXPECT_EQ(v[1].others, 1u);
    EXPECT_EQ(WireStateText(1, v[1]), "croisé avec D0 (broche 2)");
}

}  // namespace
