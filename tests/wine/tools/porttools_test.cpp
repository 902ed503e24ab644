// The companion programs' logic: switches and status values, and the Value
// Change Dump of a journal (the strip chart: stripchart_test.cpp).
#include <gtest/gtest.h>
#include <windows.h>
#include <random>
#include <string>
#include <vector>
#include "switches.h"
#include "trace.h"
#include "vcd.h"
#include "vcdcheck.h"
#include "tooljournal.h"
#include "testfacts.h"

// ---- switches

TEST(Switches, EachSwitchAloneGivesItsSensorCodeAndTwoGiveTheirCombination)
{
    EXPECT_EQ(StatusFromSwitches(0), PORT_STATUS_IDLE);
    struct Case {
        int input;
        int32_t status;
        int sensor;
    };
    const Case cases[] = { { INPUT_NERROR, 119, 1 }, { INPUT_SELECT, 111, 2 }, { INPUT_PAPEROUT, 95, 3 },
                           { INPUT_NACK, 63, 5 },    { INPUT_BUSY, 255, 4 } };
    for (const Case& c : cases) {
        SCOPED_TRACE(STATUS_INPUTS[c.input].name);
        int32_t v = StatusFromSwitches(1u << c.input);
        EXPECT_EQ(v, c.status);
        EXPECT_EQ(SensorForStatus(v), c.sensor);
        EXPECT_FALSE(InputIsHigh(v, c.input));
    }
    int32_t two = StatusFromSwitches((1u << INPUT_NERROR) | (1u << INPUT_SELECT));
    EXPECT_EQ(two, 103);
    EXPECT_EQ(SensorForStatus(two), 0);
    EXPECT_EQ(StatusFromSwitches(0x1F), 0x87);  // every input low: Busy's bit set, the others clear
    EXPECT_EQ(SensorForStatus(PORT_STATUS_IDLE), 0);
}

TEST(Switches, StatusValuesMapBackToTheSwitchesForEveryCombination)
{
    for (unsigned mask = 0; mask < 32; ++mask) {
        int32_t v = StatusFromSwitches(mask);
        EXPECT_EQ(v & 0x07, 0x07) << mask;
        EXPECT_EQ(v & ~0xFF, 0) << mask;
        EXPECT_EQ(SwitchesFromStatus(v), mask);
    }
    // Bits 0 to 2 and bits above 7 play no part in which inputs are low.
    EXPECT_EQ(SwitchesFromStatus(0x78), 0u);
    EXPECT_EQ(SwitchesFromStatus(0x70), 1u << INPUT_NERROR);
    EXPECT_EQ(SwitchesFromStatus(0x17F), 0u);
    EXPECT_EQ(STATUS_INPUTS[INPUT_BUSY].pin, 11);
    EXPECT_EQ(STATUS_INPUTS[INPUT_NACK].pin, 10);
}

static bool Parses(std::vector<const char*> args, int32_t expected)
{
    int32_t value = -99999;
    std::string error;
    return ParseStatusArguments(static_cast<int>(args.size()), args.data(), &value, &error) && value == expected;
}

TEST(Switches, StatusArgumentsByValueOrByNames)
{
    EXPECT_TRUE(Parses({ "119" }, 119));
    EXPECT_TRUE(Parses({ "0x6F" }, 111));
    EXPECT_TRUE(Parses({ "-1" }, -1));
    EXPECT_TRUE(Parses({ "nerror", "SELECT" }, 103));
    EXPECT_TRUE(Parses({ "Busy", "Busy" }, 255));
    for (std::vector<const char*> bad : std::vector<std::vector<const char*>>{
             {}, { "" }, { "12abc" }, { "0x" }, { "65536" }, { "-32769" }, { "99999999999999999999" },
             { "Strobe" }, { "nError", "119" } }) {
        int32_t value;
        std::string error;
        EXPECT_FALSE(ParseStatusArguments(static_cast<int>(bad.size()), bad.data(), &value, &error));
        EXPECT_FALSE(error.empty());
    }
}

// ---- the dump

// A trace over the writes and status changes, from ORIGIN to ORIGIN + endTicks,
// starting from data 0 and all inputs released.
static VcdTrace TraceOf(const std::vector<JournalWrite>& writes, const std::vector<StatusChange>& status,
                        int64_t endTicks)
{
    VcdTrace trace = {};
    trace.writes = writes.data();
    trace.writeCount = writes.size();
    trace.statusChanges = status.data();
    trace.statusCount = status.size();
    trace.frequency = FREQ;
    trace.originTicks = ORIGIN;
    trace.endTicks = ORIGIN + endTicks;
    trace.initialData = 0;
    trace.initialStatus = PORT_STATUS_IDLE;
    return trace;
}

static const char HEADER[] =
    "$version\n   Travek banc virtuel\n$end\n"
    "$comment\n   Port parallele 0x378 : D0 a D7 sur les broches 2 a 9 ; entrees d'etat au niveau de "
    "leur broche (0 = a la masse) : nError 15, Select 13, PaperOut 12, nAck 10, Busy 11\n$end\n"
    "$timescale 1 us $end\n"
    "$scope module port $end\n"
    "$var wire 1 ! D0 $end\n$var wire 1 \" D1 $end\n$var wire 1 # D2 $end\n$var wire 1 $ D3 $end\n"
    "$var wire 1 % D4 $end\n$var wire 1 & D5 $end\n$var wire 1 ' D6 $end\n$var wire 1 ( D7 $end\n"
    "$var wire 1 ) nError $end\n$var wire 1 * Select $end\n$var wire 1 + PaperOut $end\n"
    "$var wire 1 , nAck $end\n$var wire 1 - Busy $end\n"
    "$upscope $end\n$enddefinitions $end\n";

struct KnownJournal {
    std::vector<JournalWrite> writes;
    std::vector<StatusChange> status;
    VcdTrace trace;
};

// The 0 before each value, a control write, a 16-bit value, a write that
// changes nothing, two status changes, and a write in the microsecond of the
// one before.
static KnownJournal MakeKnownJournal()
{
    KnownJournal k;
    k.writes = { W(0, 0, 0x378, 0),          W(1, 250, 0x378, 4),     W(2, 253, 0x378, 0),
                 W(3, 400, 0x37A, 0x0C),     W(4, 1000, 0x378, 0x1204), W(5, 1300, 0x378, 4),
                 W(6, 10000000, 0x378, 0x80) };
    k.status = { { ORIGIN + 600, 119 }, { ORIGIN + 2000, 255 } };
    k.trace = TraceOf(k.writes, k.status, 20000000);
    k.trace.initialData = -1;  // not known before the first write
    return k;
}

TEST(Vcd, KnownJournalGivesExactlyTheExpectedText)
{
    KnownJournal k = MakeKnownJournal();
    std::string expected = std::string(HEADER) +
                           "#0\n$dumpvars\nx!\nx\"\nx#\nx$\nx%\nx&\nx'\nx(\n1)\n1*\n1+\n1,\n1-\n$end\n"
                           "#1\n0!\n0\"\n0#\n0$\n0%\n0&\n0'\n0(\n"
                           "#25\n1#\n"
                           "#26\n0#\n"
                           "#60\n0)\n"
                           "#100\n1#\n"
                           "#200\n1)\n0-\n"
                           "#1000000\n0#\n1(\n"
                           "#2000000\n";
    EXPECT_EQ(VcdText(k.trace), expected);

    // A known start value, a date, and no end mark past the last change.
    k.trace.initialData = 0;
    k.trace.endTicks = ORIGIN;
    k.trace.date = "2026-12-08 20:42:35";
    std::string text = VcdText(k.trace);
    EXPECT_EQ(text.compare(0, 39, "$date\n   2026-12-08 20:42:35\n$end\n$vers"), 0) << text.substr(0, 60);
    EXPECT_NE(text.find("$dumpvars\n0!\n0\"\n0#\n0$\n0%\n0&\n0'\n0(\n1)\n"), std::string::npos);
    EXPECT_EQ(text.find("#1\n"), std::string::npos);  // the first write changes nothing
    EXPECT_EQ(text.substr(text.size() - 15), "#1000000\n0#\n1(\n");
}

TEST(Vcd, StrictReaderAcceptsTheDumpAndRejectsMalformedOnes)
{
    KnownJournal k = MakeKnownJournal();
    VcdFile f = ParseVcdStrict(VcdText(k.trace));
    ASSERT_TRUE(f.ok) << f.error;
    EXPECT_EQ(f.timescale, "1 us");
    ASSERT_EQ(f.vars.size(), 13u);
    EXPECT_EQ(f.vars[0].name, "port.D0");
    EXPECT_EQ(f.vars[12].name, "port.Busy");
    EXPECT_EQ(f.initial.size(), 13u);
    EXPECT_EQ(VcdDataValues(f), (std::vector<int>{ -1, 0, 4, 0, 4, 0x80 }));  // from x at time 0
    std::map<std::string, char> at150 = VcdLevelsAt(f, 150);
    EXPECT_EQ(at150[VcdIdOf(f, "nError")], '0');
    EXPECT_EQ(at150[VcdIdOf(f, "Busy")], '1');
    EXPECT_EQ(f.times.back(), 2000000);

    // The reader is strict: each of these faults is found.
    const std::string good = VcdText(k.trace);
    auto replaced = [&](const std::string& from, const std::string& to) {
        std::string s = good;
        size_t at = s.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        return s.replace(at, from.size(), to);
    };
    const std::string faults[] = {
        replaced("#26\n", "#25\n"),                // time not increasing
        replaced("#60\n0)\n", "#60\n0.\n"),        // undeclared identifier
        replaced("$upscope $end\n", ""),           // unbalanced scope
        replaced("#0\n$dumpvars", "$dumpvars"),    // change before any time
    };
    for (const std::string& bad : faults)
        EXPECT_FALSE(ParseVcdStrict(bad).ok);
}

// Random journals: bursts of writes in the same microsecond, status changes
// in between. Every change of the data value must survive into the dump.
TEST(Vcd, NoDataChangeIsLostInBurstsAndTimesStayIncreasing)
{
    std::mt19937 rng(1234);
    std::vector<JournalWrite> writes;
    std::vector<StatusChange> status;
    int64_t t = 0;
    for (int i = 0; i < 20000; ++i) {
        t += rng() % 4 == 0 ? 0 : rng() % 40;  // a quarter in the same tick, many in the same microsecond
        uint16_t port = rng() % 50 == 0 ? 0x37A : 0x378;
        writes.push_back(W(i, t, port, static_cast<uint16_t>(rng() % 8 == 0 ? 0 : rng())));
        if (rng() % 100 == 0)
            status.push_back({ ORIGIN + t, static_cast<int32_t>(rng() % 256) });
    }
    VcdTrace trace = TraceOf(writes, status, t + 1000);
    VcdFile f = ParseVcdStrict(VcdText(trace));
    ASSERT_TRUE(f.ok) << f.error;
    std::vector<int> expected = { 0 };
    for (const JournalWrite& w : writes)
        if (w.port == 0x378 && (w.value & 0xFF) != expected.back())
            expected.push_back(w.value & 0xFF);
    EXPECT_EQ(VcdDataValues(f), expected);
    // Spreading a burst never runs far ahead of the real time.
    EXPECT_LT(f.times.back() - (t / 10), 20000);
}

// A sweep of the eight lines as the test bench's K2000 makes it, each value
// after a brief 0, for the viewers' check outside Wine (vcd_viewers).
TEST(Vcd, WritesASampleSweepForTheViewers)
{
    std::vector<JournalWrite> writes;
    int64_t t = 0, seq = 0;
    for (int v : K2000_PASS) {
        writes.push_back(W(seq++, t, 0x378, 0));
        writes.push_back(W(seq++, t + 300, 0x378, static_cast<uint16_t>(v)));  // 30 us later
        t += 1000000;  // 100 ms a step
    }
    std::vector<StatusChange> status = { { ORIGIN + 5000000, 119 }, { ORIGIN + 9000000, PORT_STATUS_IDLE } };
    VcdTrace trace = TraceOf(writes, status, t);
    trace.date = "2026-12-08 20:42:35";
    std::string text = VcdText(trace);
    ASSERT_TRUE(ParseVcdStrict(text).ok);
    ASSERT_TRUE(WriteTextFile("vcd_sample.vcd", text));
}
