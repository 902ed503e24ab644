// The soak's journal check on made-up journals: a well-formed one parses
// whole, and each kind of fault it exists to catch is reported.
#include <gtest/gtest.h>
#include <string>
#include <vector>
#include "journalcheck.h"

// A journal being made up: data-port writes numbered from 0, ten ticks apart.
struct MadeUp {
    JournalCheck check;
    std::vector<JournalWrite> writes;
};

static void Append(MadeUp& m, const std::vector<int>& values, uint16_t port = PORT_DATA)
{
    for (int v : values) {
        int64_t seq = static_cast<int64_t>(m.writes.size());
        m.writes.push_back({ seq, seq * 10, port, static_cast<uint16_t>(v) });
    }
}

// The writes of one pass: 0, 1, 0, 2 ... 0, 128, and for K2000 back down to 1.
static std::vector<int> Pass(Effect effect)
{
    std::vector<int> values;
    for (int step = 0; step < 8; ++step)
        values.insert(values.end(), { 0, 1 << step });
    for (int step = 7; effect == K2000 && step >= 0; --step)
        values.insert(values.end(), { 0, 1 << step });
    return values;
}

// Gives a command whose writes come next: sent now, handled once they are made.
static void GiveCommand(MadeUp& m, Command c, int starts = -1, bool stops = false)
{
    c.starts = starts;
    c.stops = stops;
    c.sent = static_cast<int64_t>(m.writes.size());
    c.handled = c.sent + static_cast<int64_t>(c.writes.size());
    m.check.commands.push_back(c);
    Append(m, c.writes);
}

static std::string Check(MadeUp& m, int64_t dropped = 0)
{
    Failure.clear();
    CheckWrites(m.check, m.writes.data(), m.writes.size(), dropped);
    ParseJournal(m.check, true);
    return Failure;
}

// Start-up, K2000 started, one pass, "LED 3", Chenillard started, one pass each.
static MadeUp WellFormed()
{
    MadeUp m = {};
    GiveCommand(m, MakeCommand("start-up", { 0 }));
    GiveCommand(m, MakeCommand("K2000", {}), K2000);
    Append(m, Pass(K2000));
    GiveCommand(m, MakeCommand("LED 3", { 0, 0, 4 }));
    GiveCommand(m, MakeCommand("Chenillard", {}), CHENILLARD);
    Append(m, Pass(CHENILLARD));
    Append(m, Pass(K2000));
    return m;
}

TEST(JournalCheck, AWellFormedJournalParsesWhole)
{
    MadeUp m = WellFormed();
    GiveCommand(m, MakeCommand("Arreter", Written(0)), -1, true);
    EXPECT_EQ(Check(m), "");
    EXPECT_EQ(m.check.passes[K2000], 2);
    EXPECT_EQ(m.check.passes[CHENILLARD], 1);
    EXPECT_EQ(m.check.nextCommand, m.check.commands.size());
    EXPECT_EQ(m.check.checked, static_cast<int64_t>(m.writes.size()));
}

TEST(JournalCheck, EachFaultIsReported)
{
    struct Case {
        const char* fault;
        void (*make)(MadeUp&);
        const char* report;  // a part of the failure's text
    } cases[] = {
        { "a pass cut short", [](MadeUp& m) { m.writes.resize(m.writes.size() - 3); }, "cut short" },
        { "a pass broken by a stray value", [](MadeUp& m) { m.writes[20].value = 3; }, "broken at its write" },
        { "a pass after the stop",
          [](MadeUp& m) {
              GiveCommand(m, MakeCommand("Arreter", Written(0)), -1, true);
              Append(m, Pass(CHENILLARD));
          },
          "while that effect was stopped" },
        { "a command's wrong writes", [](MadeUp& m) { GiveCommand(m, MakeCommand("LED 4", { 0, 0, 8 })); m.writes.back().value = 16; },
          "neither a whole pass nor the writes" },
        { "a write nothing explains", [](MadeUp& m) { Append(m, { 7, 7 }); }, "that no command and no pass explain" },
        { "a gap in the numbering", [](MadeUp& m) { m.writes[5].seq = 99; }, "where 5 was due" },
        { "a write to another port", [](MadeUp& m) { m.writes[3].port = 0x37A; }, "writes port 0x37A" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        MadeUp m = WellFormed();
        c.make(m);
        EXPECT_NE(Check(m).find(c.report), std::string::npos) << Failure;
    }
    MadeUp lost = WellFormed();
    EXPECT_NE(Check(lost, 4).find("4 writes from seq 0 lost"), std::string::npos) << Failure;
    Failure.clear();
}
