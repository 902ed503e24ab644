// A shared state corrupted by another process of the session: the library
// neither crashes nor trusts it; it starts a clean state and counts the repair
// in `resets`, and readers never get a torn journal entry.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>
#include <functional>
#include <string>
#include <vector>
#include "program.h"
#include "sharedport.h"
#include "testwin.h"
#include "resource.h"

static PortState* Port()
{
    return SharedPortAttach();
}

struct Corruption {
    const char* name;
    std::function<void(PortState*)> apply;
};

static const std::vector<Corruption>& Corruptions()
{
    static const std::vector<Corruption> list = {
        { "wrong magic", [](PortState* s) { s->magic = 0x12345678; } },
        { "wrong version", [](PortState* s) { s->version = PORTSTATE_VERSION + 1; } },
        { "wrong size", [](PortState* s) { s->size = 72; } },
        { "wrong capacity", [](PortState* s) { s->capacity = 0; } },
        { "negative writes", [](PortState* s) { s->writes = -5; } },
        { "writes past any stamp", [](PortState* s) { s->writes = INT64_MAX; } },
        { "negative reads", [](PortState* s) { s->reads = -1; } },
    };
    return list;
}

static void ExpectCleanHeader(PortState* s)
{
    EXPECT_EQ(s->magic, PORTSTATE_MAGIC);
    EXPECT_EQ(s->version, PORTSTATE_VERSION);
    EXPECT_EQ(s->size, sizeof(PortState));
    EXPECT_EQ(s->capacity, PORTSTATE_JOURNAL_CAPACITY);
}

TEST(CorruptionTest, AWriteThroughTheLibraryRepairsEachCorruption)
{
    PortWriteEntry write = LibraryWrite();
    ASSERT_NE(write, nullptr);
    for (const Corruption& c : Corruptions()) {
        SCOPED_TRACE(c.name);
        write(PORT_DATA, 0x11);
        LONG resets = Port()->resets;
        SimPortSetStatus(Port(), 0x3F);
        c.apply(Port());
        write(PORT_DATA, 0x155);
        ExpectCleanHeader(Port());
        EXPECT_EQ(Port()->resets, resets + 1) << "the repair is counted once";
        EXPECT_EQ(Port()->status, PORT_STATUS_IDLE) << "registers at their start values";
        EXPECT_EQ(Port()->data, 0x55);
        EXPECT_EQ(SharedPortWriteCount(Port()), 1) << "journal started afresh";
        std::vector<JournalWrite> w = JournalSince(0);
        ASSERT_EQ(w.size(), 1u);
        EXPECT_EQ(w[0].seq, 0);
        EXPECT_EQ(w[0].value, 0x155);
        EXPECT_TRUE(SharedPortValidate(Port())) << "clean after the repair";
        EXPECT_EQ(Port()->resets, resets + 1);
    }
}

TEST(CorruptionTest, AReadThroughTheLibraryRepairsToo)
{
    PortReadEntry read = LibraryRead();
    ASSERT_NE(read, nullptr);
    for (const Corruption& c : Corruptions()) {
        SCOPED_TRACE(c.name);
        SimPortSetStatus(Port(), 0x1F);
        LONG resets = Port()->resets;
        c.apply(Port());
        EXPECT_EQ(read(PORT_STATUS), PORT_STATUS_IDLE) << "read from the clean state";
        ExpectCleanHeader(Port());
        EXPECT_EQ(Port()->resets, resets + 1);
        EXPECT_EQ(SharedPortWriteCount(Port()), 0);
    }
}

TEST(CorruptionTest, ReadersNeverTrustACorruptCount)
{
    Port()->writes = -3;
    EXPECT_EQ(SharedPortWriteCount(Port()), 0);
    EXPECT_TRUE(JournalSince(-10).empty());
    Port()->writes = INT64_MAX;
    EXPECT_EQ(SharedPortWriteCount(Port()), 0);
    EXPECT_TRUE(JournalSince(INT64_MAX - 5).empty());
    EXPECT_FALSE(SharedPortValidate(Port()));
    ExpectCleanHeader(Port());
}

// Stamps entry seq as still being written, with a value no write made.
static void Tear(int64_t seq, LONG64 stamp)
{
    PortEntry* e = &Port()->journal[static_cast<uint64_t>(seq) % PORTSTATE_JOURNAL_CAPACITY];
    e->value = 0xDEAD;
    e->stamp = stamp;
}

TEST(CorruptionTest, TornJournalEntriesAreSkippedNeverReturned)
{
    PortWriteEntry write = LibraryWrite();
    int64_t mark = JournalMark();
    for (int v = 1; v <= 6; ++v)
        write(PORT_DATA, static_cast<short>(v));
    Tear(mark + 1, 2 * (mark + 1) + 1);  // torn half-way: odd stamp
    Tear(mark + 3, 0);                   // a stamp from no write at all
    Tear(mark + 4, 2 * (mark + 4) + 5);  // a stamp from the future

    std::vector<JournalWrite> out(16);
    int64_t next = 0, dropped = 0;
    DWORD start = GetTickCount();
    size_t n = SharedPortCopyJournal(Port(), mark, out.data(), out.size(), &next, &dropped);
    DWORD took = GetTickCount() - start;
    out.resize(n);
    std::vector<int> values;
    for (const JournalWrite& w : out)
        values.push_back(w.value);
    EXPECT_EQ(values, (std::vector<int>{ 1, 3, 6 }));
    EXPECT_EQ(out[1].seq, mark + 2);
    EXPECT_EQ(next, mark + 6);
    EXPECT_EQ(dropped, 3);
    EXPECT_LT(took, 1000u) << "a torn entry costs the reader a short wait only";

    // Torn as the newest entry: the reader stops before it, then passes it
    // once a later write is whole.
    mark = JournalMark();
    write(PORT_DATA, 7);
    Tear(mark, 2 * mark + 1);
    EXPECT_TRUE(JournalSince(mark).empty());
    write(PORT_DATA, 8);
    EXPECT_EQ(ValuesSince(mark), (std::vector<int>{ 8 }));
    EXPECT_TRUE(SharedPortValidate(Port())) << "a torn entry is no reason to reset";
}

TEST(CorruptionTest, TheRunningProgramSurvivesARepairAndGoesOn)
{
    Program app;
    ASSERT_TRUE(StartProgram(app));
    SendMessageA(Control(app, IDC_DELAY_SLIDER), TBM_SETPOS, TRUE, 0);
    Click(Control(app, IDC_K2000));  // K2000 at full speed
    ASSERT_TRUE(WaitFor([&] { return JournalMark() > app.startMark + 64; }, WaitLongMs()));
    for (const Corruption& c : Corruptions()) {
        SCOPED_TRACE(c.name);
        LONG resets = Port()->resets;
        c.apply(Port());
        // The program's next write or poll repairs it.
        EXPECT_TRUE(WaitFor([&] { return Port()->resets > resets; }, WaitMs()));
        EXPECT_TRUE(WaitFor([] { return JournalMark() > 64; }, WaitMs())) << "writes go on";
        EXPECT_TRUE(Responds(app, WaitMs()));
        ExpectCleanHeader(Port());
    }
    Click(Control(app, IDC_STOP));
    ASSERT_TRUE(Responds(app, WaitMs()));
    // Since the last repair, a well-formed journal.
    std::vector<JournalWrite> w = JournalSince(0);
    ASSERT_FALSE(w.empty());
    for (size_t i = 1; i < w.size(); ++i) {
        ASSERT_EQ(w[i].seq, w[i - 1].seq + 1);
        ASSERT_GE(w[i].ticks, w[i - 1].ticks);
    }
    EXPECT_EQ(w.back().value, 0) << "Stop wrote 0";
    EXPECT_EQ(WaitForSingleObject(app.process.hProcess, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    StopProgram(app);
}
