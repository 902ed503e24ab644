// The real native helper on the emulated device, with the shared state
// written as the library writes it: every journaled data write reaches the
// device in order, across a helper killed mid-session; each device fault
// gives its code and message; a second user or wrong file modes are refused.
// Runs inside with-emuport.sh; the helper's path is TRAVEK_HELPER_PATH.
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <chrono>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "childrun.h"
#include "emuport.h"
#include "portcore.h"
#include "portnative.h"

namespace {

constexpr int HELPER_WAIT_MS = 8000;    // the longest a helper may take to settle or end
constexpr int BUSY_GIVE_UP_MS = 2000;   // the helper's bound on a held port
constexpr const char* NOBODY = "65534";

std::string Mount() { const char* d = getenv(EMUPORT_ENV); return d ? d : ""; }
std::string DevicePath() { return Mount() + "/parport0"; }

int Control(const std::string& text)
{
    std::ofstream out(DevicePath() + EMUPORT_CTL_SUFFIX);
    out << text << "\n";
    out.flush();
    return out.good() ? 0 : -1;
}

std::string State(const std::string& key)
{
    std::ifstream in(DevicePath() + EMUPORT_CTL_SUFFIX);
    std::string k, v;
    while (in >> k >> v)
        if (k == key)
            return v;
    return "";
}

std::vector<int> RecordValues()
{
    std::ifstream in(DevicePath() + EMUPORT_WRITES_SUFFIX);
    std::vector<int> v;
    int value;
    long long ticks;
    while (in >> value >> ticks)
        v.push_back(value);
    return v;
}

// Starts the helper on the state file, as another user when `asUser` is set.
pid_t StartHelper(const std::string& stateFile, const char* asUser = nullptr)
{
    pid_t pid = fork();
    if (pid == 0) {
        int null = open("/dev/null", O_WRONLY);
        dup2(null, STDERR_FILENO);
        if (asUser) {
            std::string uid = std::string("--reuid=") + asUser, gid = std::string("--regid=") + asUser;
            execl("/usr/bin/setpriv", "setpriv", uid.c_str(), gid.c_str(), "--clear-groups",
                  TRAVEK_HELPER_PATH, stateFile.c_str(), (char*)nullptr);
        } else {
            execl(TRAVEK_HELPER_PATH, "travek-porthelper", stateFile.c_str(), (char*)nullptr);
        }
        _exit(127);
    }
    return pid;
}

// The helper's exit code, or -1 if it had to be killed after the wait.
int FinishHelper(pid_t pid, int ms = HELPER_WAIT_MS)
{
    int status = 0;
    bool ended = WaitUntil([&] { return waitpid(pid, &status, WNOHANG) == pid; }, ms);
    if (!ended) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

class HelperOnEmulatedPort : public ::testing::Test {
protected:
    std::string runtimeDir, stateFile;
    PortState* s = nullptr;
    int slot = -1;

    void SetUp() override
    {
        if (Mount().empty())
            GTEST_SKIP() << "run through with-emuport.sh";
        ASSERT_EQ(0, Control("normal\nstatus 127\nmode 660\nclear\nclaimwait 0"));
        char dir[] = "/tmp/travek-runtime.XXXXXX";
        ASSERT_NE(nullptr, mkdtemp(dir));
        runtimeDir = dir;
        setenv("XDG_RUNTIME_DIR", dir, 1);
        char path[PORTSTATE_PATH_MAX], err[PORTSTATE_ERROR_MAX];
        ASSERT_TRUE(PortStatePath(path, sizeof path, err, sizeof err)) << err;
        stateFile = path;
        s = PortStateMapNative(path, true, err, sizeof err);
        ASSERT_NE(nullptr, s) << err;
        AtomicStore(&s->backend, uint32_t(PORT_BACKEND_PPDEV));
        PortStateSetTarget(s, DevicePath().c_str());
        slot = PortStateTakeClient(s, getpid(), 0, PortNativeTicks());
    }
    void TearDown() override
    {
        if (s)
            PortStateUnmapNative(s);
        std::string folder = runtimeDir + "/" + PORTSTATE_DIR;
        unlink(stateFile.c_str());
        rmdir(folder.c_str());
        rmdir(runtimeDir.c_str());
    }
    void Write(int value) { PortStateAppend(s, PORT_DATA, uint16_t(value), PortNativeTicks); }
    // A read as the library stamps it: the helper reads the status for readers.
    int32_t ReadStatus()
    {
        PortStateNoteRead(s, PortNativeTicks());
        return AtomicLoad(&s->status);
    }
    bool AllApplied(int ms)
    {
        return WaitUntil([&] { return AtomicLoad(&s->applied) == AtomicLoad(&s->writes); }, ms);
    }
    std::vector<int> JournalValues()
    {
        std::vector<JournalWrite> w(AtomicLoad(&s->writes));
        int64_t next = 0, dropped = 0;
        size_t n = PortStateCopyJournal(s, 0, w.data(), w.size(), &next, &dropped, PortNativeSleep);
        std::vector<int> v;
        for (size_t i = 0; i < n; i++)
            v.push_back(w[i].value & 0xFF);
        return v;
    }
    // Runs a helper that meets a fault of the device: its code and text said
    // once. A fault a new try cannot change ends it as refused; any other
    // leaves it waiting and trying again, until it is asked to stop.
    void ExpectFault(PortFaultCode code, const char* words, bool final)
    {
        uint32_t faults = AtomicLoad(&s->faults);
        pid_t helper = StartHelper(stateFile);
        EXPECT_TRUE(WaitUntil([&] { return AtomicLoad(&s->fault) == uint32_t(code); }, HELPER_WAIT_MS));
        EXPECT_NE(nullptr, strstr(s->faultText, words)) << s->faultText;
        if (final) {
            EXPECT_EQ(1, FinishHelper(helper));
            EXPECT_EQ(uint32_t(HELPER_REFUSED), AtomicLoad(&s->helperState));
        } else {
            EXPECT_TRUE(WaitUntil([&] { return AtomicLoad(&s->deviceRetries) > 0; }, HELPER_WAIT_MS));
            EXPECT_EQ(uint32_t(HELPER_WAITING), AtomicLoad(&s->helperState));
            kill(helper, SIGTERM);
            EXPECT_EQ(0, FinishHelper(helper));
        }
        EXPECT_EQ(faults + 1, AtomicLoad(&s->faults)) << "said once";
    }
};

TEST_F(HelperOnEmulatedPort, EveryWriteReachesTheDeviceInOrderAcrossAKilledHelper)
{
    pid_t helper = StartHelper(stateFile);
    ASSERT_TRUE(WaitUntil([&] { return AtomicLoad(&s->helperPid) == helper; }, HELPER_WAIT_MS));
    ASSERT_EQ(0, Control("status 119"));
    EXPECT_TRUE(WaitUntil([&] { return ReadStatus() == 119; }, 1000)) << "status for a polling reader";
    // Bursts like a K2000 pass at delay 0 (each value after a 0), then quiet.
    for (int pass = 0; pass < 20; pass++) {
        for (int i = 0; i < 16; i++) {
            Write(0);
            Write((1 << (i < 8 ? i : 15 - i)) | (pass << 8));
        }
        if (pass % 5 == 4) {  // quiet until the helper sleeps: the next write rings it
            EXPECT_TRUE(WaitUntil([&] { return AtomicLoad(&s->helperState) == HELPER_SLEEPING; }, HELPER_WAIT_MS));
        }
    }
    ASSERT_TRUE(AllApplied(HELPER_WAIT_MS));
    EXPECT_EQ(JournalValues(), RecordValues());

    // Killed mid-stream: a new helper carries on from `applied`.
    for (int i = 0; i < 3000; i++) {
        Write(i);
        if (i == 1000)
            kill(helper, SIGKILL);
    }
    EXPECT_EQ(128 + SIGKILL, FinishHelper(helper));
    ASSERT_TRUE(WaitUntil([&] { return PortNativeTicks() - AtomicLoad(&s->helperBeat) >
                                       int64_t(HELPER_LOST_MS) * 10000; }, HELPER_WAIT_MS));
    helper = StartHelper(stateFile);
    ASSERT_TRUE(AllApplied(HELPER_WAIT_MS));
    std::vector<int> journal = JournalValues(), record = RecordValues();
    // At most the write in flight at the kill reaches the wire twice.
    ASSERT_GE(record.size(), journal.size());
    ASSERT_LE(record.size(), journal.size() + 1);
    size_t j = 0, repeats = 0;
    for (size_t r = 0; r < record.size(); r++) {
        if (j < journal.size() && record[r] == journal[j]) {
            j++;
        } else {
            ASSERT_TRUE(j > 0 && record[r] == journal[j - 1]) << "write " << r << " out of order";
            repeats++;
        }
    }
    EXPECT_EQ(journal.size(), j);
    EXPECT_EQ(record.size() - journal.size(), repeats);

    PortStateFreeClient(s, slot);
    EXPECT_EQ(0, FinishHelper(helper)) << "ends by itself with no client left";
    EXPECT_EQ(uint32_t(HELPER_EXITED), AtomicLoad(&s->helperState));
}

TEST_F(HelperOnEmulatedPort, EachDeviceFaultGivesItsCodeAndMessage)
{
    PortStateSetTarget(s, (Mount() + "/parport9").c_str());
    ExpectFault(PORT_FAULT_NO_DEVICE, "introuvable", false);
    PortStateSetTarget(s, DevicePath().c_str());

    ASSERT_EQ(0, Control("mode 000"));
    ExpectFault(PORT_FAULT_PERMISSION, "groupe lp", true);
    ASSERT_EQ(0, Control("mode 660\nenotty"));
    ExpectFault(PORT_FAULT_NOT_PARPORT, "USB", true);
    ASSERT_EQ(0, Control("normal\nnoport"));
    ExpectFault(PORT_FAULT_NO_DEVICE, "aucun port", false);  // a node with no port behind it
    ASSERT_EQ(0, Control("normal\nbusy"));
    auto start = std::chrono::steady_clock::now();
    pid_t helper = StartHelper(stateFile);
    EXPECT_TRUE(WaitUntil([&] { return AtomicLoad(&s->fault) == uint32_t(PORT_FAULT_BUSY); }, HELPER_WAIT_MS));
    auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    EXPECT_GE(waited.count(), BUSY_GIVE_UP_MS - 100);
    EXPECT_LT(waited.count(), BUSY_GIVE_UP_MS + 2000) << "said after about 2 s";
    EXPECT_NE(nullptr, strstr(s->faultText, "occupé")) << s->faultText;
    ASSERT_EQ(0, Control("normal"));
    EXPECT_TRUE(WaitUntil([&] { return PortHelperHoldsPort(AtomicLoad(&s->helperState)); }, HELPER_WAIT_MS * 2))
        << "the port taken once its holder lets go";

    // The device vanishes mid-session: the helper says so and keeps trying;
    // the writes it could not apply stay in the journal, none counted as
    // applied, until the device is back: then the same helper goes on.
    ASSERT_TRUE(WaitUntil([&] { return AtomicLoad(&s->helperPid) == helper; }, HELPER_WAIT_MS));
    for (int i = 1; i <= 50; i++)
        Write(i);
    ASSERT_TRUE(AllApplied(HELPER_WAIT_MS));
    ASSERT_EQ(0, Control("vanish"));
    for (int i = 51; i <= 60; i++)
        Write(i);
    EXPECT_TRUE(WaitUntil([&] { return AtomicLoad(&s->fault) == uint32_t(PORT_FAULT_DEVICE_LOST); },
                          HELPER_WAIT_MS));
    EXPECT_NE(nullptr, strstr(s->faultText, "disparu")) << s->faultText;
    EXPECT_EQ(50, AtomicLoad(&s->applied));
    EXPECT_EQ(50u, RecordValues().size());

    // Back: the same helper applies the rest, in order (a short outage).
    ASSERT_EQ(0, Control("normal"));
    ASSERT_TRUE(AllApplied(HELPER_WAIT_MS));
    if (AtomicLoad(&s->unapplied) == 0)
        EXPECT_EQ(JournalValues(), RecordValues());
    else
        EXPECT_EQ(60, RecordValues().back()) << "a long outage: the current value";
    PortStateFreeClient(s, slot);
    EXPECT_EQ(0, FinishHelper(helper));
}

// The driver removes the port: the open file still answers, writing nowhere;
// the helper notices that its device is gone though nothing is written, and
// goes on with the same helper once the port is back.
TEST_F(HelperOnEmulatedPort, ARemovedDriverIsNoticedThoughTheFileStillAnswers)
{
    pid_t helper = StartHelper(stateFile);
    for (int i = 1; i <= 20; i++)
        Write(i);
    ASSERT_TRUE(AllApplied(HELPER_WAIT_MS));
    ASSERT_EQ(0, Control("remove"));
    ASSERT_TRUE(WaitUntil([&] { return AtomicLoad(&s->fault) == uint32_t(PORT_FAULT_DEVICE_LOST); }, HELPER_WAIT_MS));
    EXPECT_NE(nullptr, strstr(s->faultText, "disparu")) << s->faultText;
    EXPECT_EQ(JournalValues(), RecordValues()) << "nothing written to the removed port";
    ASSERT_EQ(0, Control("normal"));
    Write(21);
    ASSERT_TRUE(AllApplied(HELPER_WAIT_MS * 2)) << "the port taken again once back";
    EXPECT_EQ(JournalValues(), RecordValues());
    PortStateFreeClient(s, slot);
    EXPECT_EQ(0, FinishHelper(helper));
}

// Another program holds the port and the program quits while the helper
// waits for it: the helper ends, leaving nothing on the port's wait list and
// having never retried a claim on a file still waiting (which the kernel
// would queue twice, corrupting that list).
TEST_F(HelperOnEmulatedPort, AHelperWaitingForAHeldPortLeavesNothingOnItsWaitList)
{
    ASSERT_EQ(0, Control("busy"));
    pid_t helper = StartHelper(stateFile);
    ASSERT_TRUE(WaitUntil([&] { return AtomicLoad(&s->fault) == uint32_t(PORT_FAULT_BUSY); }, HELPER_WAIT_MS));
    EXPECT_NE(nullptr, strstr(s->faultText, "reprise")) << s->faultText;
    PortStateFreeClient(s, slot);  // the program quits while the helper waits
    EXPECT_EQ(0, FinishHelper(helper));
    EXPECT_EQ(uint32_t(HELPER_EXITED), AtomicLoad(&s->helperState));
    EXPECT_EQ("0", State("waiters")) << "nothing of the helper left on the wait list";
    EXPECT_EQ("0", State("requeued")) << "no claim retried on a file still waiting";
}

// A session that follows at once with another device: the helper of the
// first must not carry the new session's writes to its own device.
TEST_F(HelperOnEmulatedPort, AHelperLeavesWritesForAnotherDeviceToAHelperOfThatDevice)
{
    std::string second = Mount() + "/parport1";
    std::ofstream(second + EMUPORT_CTL_SUFFIX) << "clear\n";
    pid_t helper = StartHelper(stateFile);
    Write(1);
    ASSERT_TRUE(AllApplied(HELPER_WAIT_MS));
    PortStateSetTarget(s, second.c_str());  // as the library publishes a new target
    Write(2);
    EXPECT_EQ(0, FinishHelper(helper)) << "ends, leaving the write";
    EXPECT_EQ(1, AtomicLoad(&s->applied));
    EXPECT_EQ(RecordValues(), std::vector<int>{ 1 });
    helper = StartHelper(stateFile);
    ASSERT_TRUE(AllApplied(HELPER_WAIT_MS));
    std::ifstream in(second + EMUPORT_WRITES_SUFFIX);
    int value = -1;
    in >> value;
    EXPECT_EQ(2, value) << "the new device got the new session's write";
    PortStateFreeClient(s, slot);
    EXPECT_EQ(0, FinishHelper(helper));
}

// Runs a shell command as the other user; its exit code.
int AsOtherUser(const std::string& command)
{
    std::string line = std::string("setpriv --reuid=") + NOBODY + " --regid=" + NOBODY +
                       " --clear-groups sh -c '" + command + "' 2>/dev/null";
    int status = system(line.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(HelperOnEmulatedPort, AnotherUserAndWrongModesAreRefused)
{
    std::string folder = runtimeDir + "/" + PORTSTATE_DIR;
    // Even with the folders above open to others, the bridge's own files are not.
    ASSERT_EQ(0, chmod(runtimeDir.c_str(), 0711));
    EXPECT_NE(0, AsOtherUser("cat " + stateFile + " >/dev/null")) << "read";
    EXPECT_NE(0, AsOtherUser("echo x >>" + stateFile)) << "change";
    EXPECT_NE(0, AsOtherUser("ls " + folder)) << "list";
    ASSERT_EQ(0, chmod(folder.c_str(), 0711));
    EXPECT_NE(0, AsOtherUser("cat " + stateFile + " >/dev/null")) << "read through an open folder";
    EXPECT_NE(0, AsOtherUser("echo x >>" + stateFile)) << "change through an open folder";
    ASSERT_EQ(0, chmod(folder.c_str(), 0700));

    // The helper started by the other user on this user's state does nothing.
    uint32_t faults = AtomicLoad(&s->faults);
    Write(5);
    pid_t helper = StartHelper(stateFile, NOBODY);
    EXPECT_EQ(2, FinishHelper(helper));
    EXPECT_EQ(0, AtomicLoad(&s->applied));
    EXPECT_EQ(0, AtomicLoad(&s->helperPid));
    EXPECT_TRUE(RecordValues().empty());
    EXPECT_EQ(faults, AtomicLoad(&s->faults));

    // Wrong modes or owner: this user's own helper refuses the files.
    char err[PORTSTATE_ERROR_MAX];
    struct Case { const char* path; unsigned mode; uid_t owner; } cases[] = {
        { stateFile.c_str(), 0644, 0 }, { stateFile.c_str(), 0660, 0 }, { folder.c_str(), 0755, 0 },
        { folder.c_str(), 0770, 0 }, { stateFile.c_str(), 0600, 65534 },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.path) + " " + std::to_string(c.mode) + " " + std::to_string(c.owner));
        ASSERT_EQ(0, chmod(c.path, c.mode));
        ASSERT_EQ(0, chown(c.path, c.owner, c.owner));
        EXPECT_EQ(nullptr, PortStateMapNative(stateFile.c_str(), false, err, sizeof err));
        EXPECT_TRUE(strstr(err, "refusé")) << err;
        EXPECT_EQ(2, FinishHelper(StartHelper(stateFile)));
        EXPECT_TRUE(RecordValues().empty());
        ASSERT_EQ(0, chown(c.path, 0, 0));
        ASSERT_EQ(0, chmod(c.path, c.path == stateFile.c_str() ? 0600 : 0700));
    }
    PortStateFreeClient(s, slot);
}

}  // namespace
