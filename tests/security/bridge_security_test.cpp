// The bridge's files against another user (uid 65534 through setpriv), beyond
// reading and changing them: a folder or file the other user put in place
// before this user's session (the fallback folder lives in /dev/shm, which
// anyone may write) is refused, and the process holding the mapping cannot be
// reached through /proc or signalled. Needs root to switch users; skipped
// otherwise.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <string>
#include "bridge.h"
#include "portnative.h"

namespace {

const char* const NOBODY = "65534";
constexpr uid_t NOBODY_UID = 65534;
constexpr mode_t SHARED_TMP = 01777;  // as /dev/shm: anyone creates, only owners remove

// Runs a shell command as the other user; its exit code.
int AsOtherUser(const std::string& command)
{
    std::string line = std::string("setpriv --reuid=") + NOBODY + " --regid=" + NOBODY +
                       " --clear-groups sh -c '" + command + "' >/dev/null 2>&1";
    int status = system(line.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The helper on a state file; its exit code.
int RunHelper(const std::string& stateFile)
{
    std::string line = std::string(TRAVEK_HELPER_PATH) + " " + stateFile + " >/dev/null 2>&1";
    int status = system(line.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class BridgeAgainstAnotherUser : public ::testing::Test {
protected:
    std::string shm, folder, stateFile;
    void SetUp() override
    {
        if (geteuid() != 0 || access("/usr/bin/setpriv", X_OK) != 0)
            GTEST_SKIP() << "needs root and setpriv to act as another user";
        char tmpl[] = "/tmp/travek-shm.XXXXXX";
        ASSERT_NE(nullptr, mkdtemp(tmpl));
        shm = tmpl;
        ASSERT_EQ(0, chmod(shm.c_str(), SHARED_TMP));
        folder = shm + "/" + PORTSTATE_DIR;
        stateFile = folder + "/" + PORTSTATE_FILE;
    }
    void TearDown() override
    {
        if (!shm.empty())
            system(("rm -rf " + shm).c_str());
    }
    // Maps as this user; the message when refused.
    std::string MapRefusal()
    {
        char err[PORTSTATE_ERROR_MAX] = "";
        PortState* s = PortStateMapNative(stateFile.c_str(), true, err, sizeof err);
        if (s) {
            PortStateUnmapNative(s);
            return "";
        }
        return err;
    }
};

TEST_F(BridgeAgainstAnotherUser, AFolderPutInPlaceByTheOtherUserIsRefused)
{
    struct Case { const char* how; std::string command; } cases[] = {
        { "its own folder, owner-only", "mkdir -m 700 " + folder },
        { "its own folder, open to all", "mkdir -m 777 " + folder },
        { "its folder with a state file ready", "mkdir -m 777 " + folder + " && : >" + stateFile +
                                                   " && chmod 666 " + stateFile },
        { "a link to a folder it owns", "mkdir -m 777 " + shm + "/elsewhere && ln -s " + shm + "/elsewhere " + folder },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.how);
        ASSERT_EQ(0, AsOtherUser(c.command));
        std::string refusal = MapRefusal();
        EXPECT_NE("", refusal) << "the other user's folder was used";
        EXPECT_NE(std::string::npos, refusal.find("refusé")) << refusal;
        EXPECT_EQ(BRIDGE_EXIT_REFUSED, RunHelper(stateFile));
        struct stat st;
        if (stat(stateFile.c_str(), &st) == 0) {
            EXPECT_EQ(NOBODY_UID, st.st_uid) << "nothing of this user's was made there";
        }
        system(("rm -rf " + folder + " " + shm + "/elsewhere").c_str());
    }
}

TEST_F(BridgeAgainstAnotherUser, TheMappingsHolderCannotBeReachedOrSignalled)
{
    char err[PORTSTATE_ERROR_MAX] = "";
    PortState* s = PortStateMapNative(stateFile.c_str(), true, err, sizeof err);
    ASSERT_NE(nullptr, s) << err;
    std::string self = "/proc/" + std::to_string(getpid());
    EXPECT_NE(0, AsOtherUser("ls " + self + "/map_files")) << "the mapping through /proc";
    EXPECT_NE(0, AsOtherUser("ls " + self + "/fd")) << "the descriptors through /proc";
    EXPECT_NE(0, AsOtherUser("head -c 1 " + self + "/mem")) << "the memory through /proc";
    EXPECT_NE(0, AsOtherUser("kill -0 " + std::to_string(getpid()))) << "a signal";
    EXPECT_NE(0, AsOtherUser("ln " + stateFile + " " + shm + "/hardlink")) << "a hard link to the file";
    EXPECT_NE(0, AsOtherUser("mv " + folder + " " + shm + "/moved")) << "moving the folder away";
    EXPECT_TRUE(PortStateValid(s));
    PortStateUnmapNative(s);
}

}  // namespace
