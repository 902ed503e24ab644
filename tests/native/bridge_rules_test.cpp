// The bridge's rules, each in one function: the helper's liveness as each of
// its judges applies it, the writer's ring, and the state file's path.
#include <gtest/gtest.h>
#include <string.h>
#include <memory>
#include <string>
#include "portnative.h"

namespace {

constexpr int64_t FREQ = PORTSTATE_NATIVE_FREQUENCY;
constexpr int64_t MS = FREQ / 1000;
constexpr int64_t NOW = 1000000 * MS;

struct State {
    std::unique_ptr<PortState> s{ new PortState() };
    State() { PortStateInit(s.get(), FREQ, 0); }
    void Helper(uint32_t state, int64_t beatAge)
    {
        AtomicStore(&s->helperState, state);
        AtomicStore(&s->helperBeat, NOW - beatAge);
        AtomicStore(&s->helperPid, 42);
    }
};

bool Lives(int32_t, uint32_t) { return true; }
bool Dead(int32_t, uint32_t) { return false; }

// Library and native tools: beating states only, no beat from the future.
const PortHelperJudge STRICT = { FREQ, HELPER_LOST_MS, false, false, Lives };
// The helper judging another: every state but a stopped one, a long start.
const PortHelperJudge PEER = { FREQ, HELPER_LOST_MS * 3, true, true, Lives };

TEST(HelperAlive, StatesCountAsEachJudgeSays)
{
    State st;
    for (uint32_t state : { HELPER_STARTING, HELPER_AWAKE, HELPER_SLEEPING, HELPER_WAITING }) {
        st.Helper(state, MS);
        EXPECT_TRUE(PortHelperAlive(st.s.get(), NOW, STRICT)) << state;
        EXPECT_TRUE(PortHelperAlive(st.s.get(), NOW, PEER)) << state;
    }
    for (uint32_t state : { HELPER_FAILED, HELPER_EXITED, HELPER_REFUSED }) {
        st.Helper(state, MS);
        EXPECT_FALSE(PortHelperAlive(st.s.get(), NOW, STRICT)) << state;
        EXPECT_FALSE(PortHelperAlive(st.s.get(), NOW, PEER)) << state;
    }
    st.Helper(HELPER_NONE, MS);
    EXPECT_FALSE(PortHelperAlive(st.s.get(), NOW, STRICT));
    EXPECT_TRUE(PortHelperAlive(st.s.get(), NOW, PEER)) << "a peer that has not said its state yet";
    EXPECT_TRUE(PortHelperHoldsPort(HELPER_AWAKE) && PortHelperHoldsPort(HELPER_SLEEPING));
    EXPECT_FALSE(PortHelperHoldsPort(HELPER_STARTING) || PortHelperHoldsPort(HELPER_WAITING));
}

TEST(HelperAlive, BeatAgeLimitsStartingLimitAndBeatsAhead)
{
    State st;
    st.Helper(HELPER_AWAKE, HELPER_LOST_MS * MS - 1);
    EXPECT_TRUE(PortHelperAlive(st.s.get(), NOW, STRICT));
    st.Helper(HELPER_AWAKE, HELPER_LOST_MS * MS);
    EXPECT_FALSE(PortHelperAlive(st.s.get(), NOW, STRICT)) << "lost at the limit";

    st.Helper(HELPER_STARTING, HELPER_LOST_MS * 2 * MS);
    EXPECT_FALSE(PortHelperAlive(st.s.get(), NOW, STRICT));
    EXPECT_TRUE(PortHelperAlive(st.s.get(), NOW, PEER)) << "a start gets the judge's longer limit";
    st.Helper(HELPER_AWAKE, HELPER_LOST_MS * 2 * MS);
    EXPECT_FALSE(PortHelperAlive(st.s.get(), NOW, PEER)) << "only while starting";

    st.Helper(HELPER_AWAKE, -MS);
    EXPECT_FALSE(PortHelperAlive(st.s.get(), NOW, STRICT));
    EXPECT_TRUE(PortHelperAlive(st.s.get(), NOW, PEER));
    AtomicStore(&st.s->helperBeat, INT64_MIN);
    EXPECT_FALSE(PortHelperAlive(st.s.get(), INT64_MAX, PEER)) << "an age that overflows is no beat";
}

TEST(HelperAlive, AProcessThatIsGoneIsNotAliveWhereItCanBeTold)
{
    State st;
    st.Helper(HELPER_AWAKE, MS);
    PortHelperJudge dead = STRICT, blind = STRICT;
    dead.processIs = Dead;
    blind.processIs = nullptr;
    EXPECT_FALSE(PortHelperAlive(st.s.get(), NOW, dead));
    EXPECT_TRUE(PortHelperAlive(st.s.get(), NOW, blind));
}

uint32_t* Woken;  // the word the last wake was for
void RecordWake(uint32_t* word) { Woken = word; }

TEST(WriterRing, OnlyASleepingHelperIsRungAndEveryWriteIsJournaled)
{
    State st;
    PortState* s = st.s.get();
    for (uint32_t state : { HELPER_NONE, HELPER_STARTING, HELPER_AWAKE, HELPER_WAITING }) {
        AtomicStore(&s->helperState, state);
        Woken = nullptr;
        PortStateWrite(s, -1, PORT_DATA, 5, PortNativeTicks, RecordWake);
        EXPECT_EQ(Woken, nullptr) << state;
        EXPECT_EQ(AtomicLoad(&s->helperState), state);
    }
    AtomicStore(&s->helperState, uint32_t(HELPER_SLEEPING));
    uint32_t bell = AtomicLoad(&s->doorbell);
    int64_t seq = PortStateWrite(s, -1, PORT_DATA, 6, PortNativeTicks, RecordWake);
    EXPECT_EQ(Woken, &s->doorbell);
    EXPECT_EQ(AtomicLoad(&s->doorbell), bell + 1);
    EXPECT_EQ(AtomicLoad(&s->helperState), uint32_t(HELPER_AWAKE));
    EXPECT_EQ(seq, 4) << "the fifth write";
    EXPECT_EQ(PortStateWriteCount(s), 5);
}

TEST(StateFilePath, FolderFallbackAndTooLong)
{
    char path[PORTSTATE_PATH_MAX], err[PORTSTATE_ERROR_MAX] = "";
    size_t folder = 0;
    ASSERT_TRUE(PortStateFilePath("/run/user/7", 7, path, sizeof path, &folder, err, sizeof err));
    EXPECT_EQ(std::string(path, folder), std::string("/run/user/7/") + PORTSTATE_DIR);
    EXPECT_EQ(std::string(path + folder), std::string("/") + PORTSTATE_FILE);
    ASSERT_TRUE(PortStateFilePath("", 7, path, sizeof path, &folder, err, sizeof err));
    EXPECT_EQ(std::string(path, folder), std::string("/dev/shm/") + PORTSTATE_DIR + "-7");

    std::string exact = std::string("/run/user/7/") + PORTSTATE_DIR + "/" + PORTSTATE_FILE;
    char tight[256];
    ASSERT_LT(exact.size(), sizeof tight);
    EXPECT_TRUE(PortStateFilePath("/run/user/7", 7, tight, exact.size() + 1, &folder, err, sizeof err));
    EXPECT_FALSE(PortStateFilePath("/run/user/7", 7, tight, exact.size(), &folder, err, sizeof err));
    EXPECT_NE(strstr(err, "trop long"), nullptr) << err;
}

TEST(StateFileOwner, RefusesAnotherOwnerOtherModesAndANonFile)
{
    char err[PORTSTATE_ERROR_MAX];
    PortStateFound file = { 7, 0100600, true };
    EXPECT_TRUE(PortStateOwnerOk("f", file, true, 7, PORTSTATE_FILE_MODE, err, sizeof err));
    EXPECT_FALSE(PortStateOwnerOk("f", file, true, 8, PORTSTATE_FILE_MODE, err, sizeof err));
    EXPECT_NE(strstr(err, "appartient"), nullptr) << err;
    PortStateFound loose = { 7, 0100644, true };
    EXPECT_FALSE(PortStateOwnerOk("f", loose, true, 7, PORTSTATE_FILE_MODE, err, sizeof err));
    EXPECT_NE(strstr(err, "droits 644 au lieu de 600"), nullptr) << err;
    PortStateFound dir = { 7, 040700, false };
    EXPECT_TRUE(PortStateOwnerOk("d", dir, false, 7, PORTSTATE_DIR_MODE, err, sizeof err));
    EXPECT_FALSE(PortStateOwnerOk("d", dir, true, 7, PORTSTATE_DIR_MODE, err, sizeof err)) << "a file is meant";
}

}  // namespace
