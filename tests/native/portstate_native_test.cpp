// The shared state's portable core and its native Linux side: the journal's
// reader rules, client slots, faults and repair; the state file's owner and
// mode checks. Runs natively, without Wine.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>
#include <memory>
#include <string>
#include <vector>
#include "portnative.h"

static int64_t FakeNow;  // the clock the core tests hand to the journal
static int Sleeps;       // sleeps the reader asked for

static int64_t FakeClock() { return ++FakeNow; }
static void CountSleep(int) { ++Sleeps; }

struct Fresh {
    std::unique_ptr<PortState> s{ new PortState };
    Fresh() { PortStateInit(s.get(), PORTSTATE_NATIVE_FREQUENCY, 0); }
};

static std::vector<JournalWrite> Copy(PortState* s, int64_t from, int64_t* next, int64_t* dropped)
{
    std::vector<JournalWrite> out(64);
    out.resize(PortStateCopyJournal(s, from, out.data(), out.size(), next, dropped, CountSleep));
    return out;
}

TEST(PortCore, JournalOrderTornEntriesAndWrapAround)
{
    Fresh f;
    PortState* s = f.s.get();
    for (uint16_t v = 1; v <= 3; ++v)
        EXPECT_EQ(PortStateAppend(s, PORT_DATA, v, FakeClock), v - 1);
    PortStateAppend(s, PORT_CONTROL, 0x1FF, FakeClock);
    EXPECT_EQ(s->data, 3);
    EXPECT_EQ(s->control, 0xFF);
    int64_t next, dropped;
    std::vector<JournalWrite> w = Copy(s, 0, &next, &dropped);
    ASSERT_EQ(w.size(), 4u);
    EXPECT_EQ(w[3].value, 0x1FF) << "the full value is journaled";
    EXPECT_LT(w[0].ticks, w[1].ticks);
    EXPECT_EQ(next, 4);
    EXPECT_EQ(dropped, 0);

    // Entry 4 unfinished and the newest: the reader stops there, waiting for nothing.
    PortStateAppend(s, PORT_DATA, 5, FakeClock);
    s->journal[4].stamp = 2 * 4 + 1;
    Sleeps = 0;
    w = Copy(s, 4, &next, &dropped);
    EXPECT_TRUE(w.empty());
    EXPECT_EQ(next, 4);
    EXPECT_EQ(Sleeps, 0);
    // Once a later entry is whole, the unfinished one is waited for, then skipped as torn.
    PortStateAppend(s, PORT_DATA, 6, FakeClock);
    w = Copy(s, 4, &next, &dropped);
    ASSERT_EQ(w.size(), 1u);
    EXPECT_EQ(w[0].value, 6);
    EXPECT_EQ(dropped, 1);
    EXPECT_EQ(Sleeps, PORTSTATE_TORN_WAIT_MS);

    // A reader left behind by more than the capacity loses the overwritten entries.
    Fresh g;
    for (uint32_t i = 0; i < PORTSTATE_JOURNAL_CAPACITY + 10; ++i)
        PortStateAppend(g.s.get(), PORT_DATA, static_cast<uint16_t>(i), FakeClock);
    w = Copy(g.s.get(), 0, &next, &dropped);
    EXPECT_EQ(dropped, 10);
    EXPECT_EQ(w[0].seq, 10);
}

TEST(PortCore, ClientSlotsFaultsAndRepair)
{
    Fresh f;
    PortState* s = f.s.get();
    int a = PortStateTakeClient(s, 100, 8, 1);
    int b = PortStateTakeClient(s, 200, 0, 1);
    EXPECT_NE(a, b);
    EXPECT_EQ(PortStateTakeClient(s, 100, 8, 2), a) << "the same process keeps its slot";
    for (int i = 2; i < PORTSTATE_CLIENTS; ++i)
        EXPECT_GE(PortStateTakeClient(s, 300 + i, 0, 1), 0);
    EXPECT_EQ(PortStateTakeClient(s, 999, 0, 1), -1) << "all taken";
    PortStateFreeClient(s, a);
    PortStateFreeClient(s, -1);
    PortStateFreeClient(s, PORTSTATE_CLIENTS);
    EXPECT_EQ(PortStateTakeClient(s, 999, 0, 1), a);

    std::string longText(400, 'e');
    PortStateFault(s, PORT_FAULT_NO_DEVICE, longText.c_str(), 7);
    EXPECT_EQ(s->fault, PORT_FAULT_NO_DEVICE);
    EXPECT_EQ(s->faults, 1u);
    EXPECT_EQ(strlen(s->faultText), static_cast<size_t>(PORTSTATE_TEXT - 1)) << "cut, terminated";
    PortStateFault(s, PORT_FAULT_NONE, "", 8);
    EXPECT_EQ(s->faults, 1u) << "clearing is no fault";
    EXPECT_STREQ(s->faultText, "");

    PortStateAppend(s, PORT_DATA, 1, FakeClock);
    s->applied = s->writes + 1;  // the helper cannot have applied more than was written
    EXPECT_FALSE(PortStateValid(s));
    EXPECT_FALSE(PortStateRepair(s, PORTSTATE_NATIVE_FREQUENCY, false));
    EXPECT_TRUE(PortStateValid(s));
    EXPECT_EQ(s->resets, 1);
    EXPECT_EQ(s->writes, 0);
    EXPECT_EQ(s->status, PORT_STATUS_IDLE);
    EXPECT_EQ(s->clients[a].unixPid, 999) << "processes keep their slots through a repair";
}

class StateFile : public ::testing::Test {
protected:
    std::string root, dir, file;
    char err[PORTSTATE_ERROR_MAX] = "";
    void SetUp() override
    {
        char tmpl[] = "/tmp/travek-native-XXXXXX";
        root = mkdtemp(tmpl);
        setenv("XDG_RUNTIME_DIR", root.c_str(), 1);
        char path[PORTSTATE_PATH_MAX];
        ASSERT_TRUE(PortStatePath(path, sizeof path, err, sizeof err));
        file = path;
        dir = root + "/" + PORTSTATE_DIR;
        EXPECT_EQ(file, dir + "/" + PORTSTATE_FILE);
    }
    void TearDown() override
    {
        unlink(file.c_str());
        rmdir(file.c_str());
        rmdir(dir.c_str());
        rmdir(root.c_str());
    }
    bool Refused(const char* words)
    {
        PortState* s = PortStateMapNative(file.c_str(), false, err, sizeof err);
        PortStateUnmapNative(s);
        return !s && strstr(err, words) != nullptr;
    }
};

TEST_F(StateFile, CreatedOwnerOnlyAndRefusedWhenOpenOrForeign)
{
    PortState* s = PortStateMapNative(file.c_str(), true, err, sizeof err);
    ASSERT_NE(s, nullptr) << err;
    EXPECT_TRUE(PortStateValid(s));
    PortStateAppend(s, PORT_DATA, 42, PortNativeTicks);
    PortStateUnmapNative(s);
    struct stat st;
    ASSERT_EQ(stat(dir.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0700u);
    ASSERT_EQ(stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    s = PortStateMapNative(file.c_str(), true, err, sizeof err);
    ASSERT_NE(s, nullptr) << err;
    EXPECT_EQ(s->data, 42) << "a valid state is kept";
    PortStateUnmapNative(s);

    chmod(file.c_str(), 0644);
    EXPECT_TRUE(Refused("droits 644 au lieu de 600")) << err;
    chmod(file.c_str(), 0600);
    chmod(dir.c_str(), 0750);
    EXPECT_TRUE(Refused("droits 750 au lieu de 700")) << err;
    chmod(dir.c_str(), 0700);
    if (getuid() == 0) {  // only root can give the file away to test this
        ASSERT_EQ(chown(file.c_str(), 12345, 12345), 0);
        EXPECT_TRUE(Refused("appartient à l'utilisateur 12345")) << err;
        ASSERT_EQ(chown(file.c_str(), 0, 0), 0);
    }
    std::string aside = dir + "/aside";
    rename(file.c_str(), aside.c_str());
    ASSERT_EQ(symlink(aside.c_str(), file.c_str()), 0);
    EXPECT_TRUE(Refused(file.c_str())) << "a link is not followed: " << err;
    unlink(file.c_str());
    unlink(aside.c_str());
    ASSERT_EQ(mkdir(file.c_str(), 0600), 0);
    EXPECT_FALSE(PortStateMapNative(file.c_str(), true, err, sizeof err));
    EXPECT_TRUE(Refused(file.c_str())) << err;
}
