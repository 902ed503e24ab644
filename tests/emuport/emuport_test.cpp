// The emulated port through real open and ioctl calls, in what is its own:
// the record of data writes, the control commands, the faults it injects and
// the bound a test may put on a claim's wait. The kernel's rules it follows
// are checked by tests/kernel's conformance suite (ppdev_rules_emuport).
// Runs inside with-emuport.sh (TRAVEK_EMUPORT names the mount).
#include <errno.h>
#include <fcntl.h>
#include <linux/parport.h>
#include <linux/ppdev.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include "portnative.h"

#include "emuport.h"

namespace {

constexpr int CLAIM_WAIT_MS = 400;  // the bound a test puts on a claim's wait
constexpr int NOBODY = 65534;

std::string Mount()
{
    const char* dir = getenv(EMUPORT_ENV);
    return dir ? dir : "";
}
std::string DevicePath() { return Mount() + "/parport0"; }

// Writes commands to the control file; the errno of the write, 0 if accepted.
int Control(const std::string& text)
{
    int fd = open((DevicePath() + EMUPORT_CTL_SUFFIX).c_str(), O_WRONLY | O_TRUNC);
    if (fd < 0)
        return errno;
    int error = write(fd, text.data(), text.size()) == ssize_t(text.size()) ? 0 : errno;
    close(fd);
    return error;
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

struct Recorded {
    int value;
    int64_t ticks;
};

std::vector<Recorded> Record()
{
    std::ifstream in(DevicePath() + EMUPORT_WRITES_SUFFIX);
    std::vector<Recorded> r;
    Recorded w;
    while (in >> w.value >> w.ticks)
        r.push_back(w);
    return r;
}

// The ioctl's errno, 0 on success.
int Ioctl(int fd, unsigned long cmd, void* arg = nullptr) { return ioctl(fd, cmd, arg) == 0 ? 0 : errno; }
int WriteData(int fd, unsigned char v) { return Ioctl(fd, PPWDATA, &v); }
int OpenDevice() { return open(DevicePath().c_str(), O_RDWR); }
long MsSince(std::chrono::steady_clock::time_point t)
{
    return long(std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t).count());
}

class EmuPort : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (Mount().empty())
            GTEST_SKIP() << "run through with-emuport.sh";
        ASSERT_EQ(0, Control("normal\nstatus 127\nprinter off\nmode 660\nclear\nclaimwait 0"));
    }
};

TEST_F(EmuPort, RegistersNeedTheClaimAndTheStateSaysWhoHoldsIt)
{
    int fd = OpenDevice();
    ASSERT_GE(fd, 0) << strerror(errno);
    unsigned char b = 0;
    for (unsigned long cmd : {PPRSTATUS, PPRDATA, PPRCONTROL, PPWCONTROL, PPWDATA})
        EXPECT_EQ(EINVAL, Ioctl(fd, cmd, &b)) << std::hex << cmd;
    ASSERT_EQ(0, Ioctl(fd, PPCLAIM));
    EXPECT_EQ("1", State("claimed"));
    b = 0x20;  // the data lines turned into inputs read as floating high
    EXPECT_EQ(0, Ioctl(fd, PPWCONTROL, &b));
    EXPECT_EQ(0, Ioctl(fd, PPRDATA, &b));
    EXPECT_EQ(0xFF, b);
    int forward = 0;
    EXPECT_EQ(0, Ioctl(fd, PPDATADIR, &forward));
    b = 0x3C;
    EXPECT_EQ(0, Ioctl(fd, PPWDATA, &b));
    EXPECT_EQ(0, Ioctl(fd, PPRDATA, &b));
    EXPECT_EQ(0x3C, b);
    close(fd);
    EXPECT_EQ("0", State("claimed")) << "closing releases the claim";
    EXPECT_EQ(1u, Record().size());
}

TEST_F(EmuPort, RecordsEveryDataWriteInOrderWithItsTime)
{
    int fd = OpenDevice();
    ASSERT_GE(fd, 0);
    ASSERT_EQ(0, Ioctl(fd, PPCLAIM));
    const int count = 1500;  // more than one read of the record file
    int64_t before = PortNativeTicks();
    for (int i = 0; i < count; i++)
        ASSERT_EQ(0, WriteData(fd, static_cast<unsigned char>(i * 7)));
    int64_t after = PortNativeTicks();
    unsigned char last = 0;
    EXPECT_EQ(0, Ioctl(fd, PPRDATA, &last));
    EXPECT_EQ((count - 1) * 7 % 256, last);
    close(fd);

    std::vector<Recorded> r = Record();
    ASSERT_EQ(size_t(count), r.size());
    struct stat st;
    ASSERT_EQ(0, stat((DevicePath() + EMUPORT_WRITES_SUFFIX).c_str(), &st));
    EXPECT_EQ(count * EMUPORT_RECORD_LINE, st.st_size);
    for (int i = 0; i < count; i++) {
        ASSERT_EQ(i * 7 % 256, r[i].value) << i;
        ASSERT_GE(r[i].ticks, i ? r[i - 1].ticks : before) << i;
    }
    EXPECT_LE(r.back().ticks, after);
    EXPECT_EQ(0, Control("clear"));
    EXPECT_EQ(0u, Record().size());
}

TEST_F(EmuPort, StatusPinsAndCommandsRejectedWhole)
{
    int fd = OpenDevice();
    ASSERT_GE(fd, 0);
    ASSERT_EQ(0, Ioctl(fd, PPCLAIM));
    for (int code : {119, 111, 95, 255, 63, 0}) {
        ASSERT_EQ(0, Control("status " + std::to_string(code) + "\n"));
        unsigned char b = 1;
        EXPECT_EQ(0, Ioctl(fd, PPRSTATUS, &b));
        EXPECT_EQ(code, b);
    }
    EXPECT_EQ(0, Control("status 0x77\r\n"));
    EXPECT_EQ("119", State("status"));
    for (const char* bad : {"status 256", "status -1", "status", "status 12x", "frobnicate",
                            "status 5\nbogus", "mode 999", "claimwait 99999999", "busy now"})
        EXPECT_EQ(EINVAL, Control(bad)) << bad;
    EXPECT_EQ("119", State("status")) << "a rejected write applies none of its lines";
    EXPECT_EQ("normal", State("fault"));
    close(fd);
}

// The wait of a claim on a held port: without end as in the kernel, unless a
// test bounds it; a claim retried while its file still waits is counted.
TEST_F(EmuPort, HeldPortClaimWaitsUnlessBoundedAndCountsRetriedClaims)
{
    struct sigaction sa = {};
    sa.sa_handler = [](int) {};
    sigaction(SIGALRM, &sa, nullptr);
    itimerval cut = {};
    cut.it_value.tv_usec = 100000;
    int holder = OpenDevice(), waiter = OpenDevice();
    ASSERT_EQ(0, Ioctl(holder, PPCLAIM));
    setitimer(ITIMER_REAL, &cut, nullptr);
    EXPECT_EQ(EINTR, Ioctl(waiter, PPCLAIM)) << "no EBUSY: it waits until a signal";
    EXPECT_EQ("1", State("waiters")) << "the interrupted claim stays on the wait list";
    setitimer(ITIMER_REAL, &cut, nullptr);
    EXPECT_EQ(EINTR, Ioctl(waiter, PPCLAIM));
    EXPECT_EQ("1", State("requeued")) << "the kernel would have queued that file twice";
    close(waiter);
    EXPECT_EQ("0", State("waiters"));

    ASSERT_EQ(0, Control("claimwait " + std::to_string(CLAIM_WAIT_MS)));
    waiter = OpenDevice();
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(EBUSY, Ioctl(waiter, PPCLAIM));
    EXPECT_GE(MsSince(start), CLAIM_WAIT_MS - 20);
    EXPECT_EQ("0", State("waiters")) << "a bounded claim that gave up leaves the list";
    close(holder);
    EXPECT_EQ(0, Ioctl(waiter, PPCLAIM));
    close(waiter);
}

TEST_F(EmuPort, BusyPortHoldsClaimsUntilNormal)
{
    ASSERT_EQ(0, Control("busy"));
    int fd = OpenDevice();
    ASSERT_GE(fd, 0);
    std::thread freer([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        Control("normal");
    });
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(0, Ioctl(fd, PPCLAIM)) << "the other program let go during the wait";
    EXPECT_GE(MsSince(start), 150);
    freer.join();
    close(fd);
}

TEST_F(EmuPort, RemovedPortLeavesOpenFilesWritingNowhere)
{
    int fd = OpenDevice();
    ASSERT_GE(fd, 0);
    ASSERT_EQ(0, Ioctl(fd, PPCLAIM));
    EXPECT_EQ(0, WriteData(fd, 1));
    ASSERT_EQ(0, Control("remove"));
    EXPECT_EQ(0, WriteData(fd, 2)) << "no error, as the kernel's dead port";
    EXPECT_EQ(-1, OpenDevice());
    EXPECT_EQ(ENOENT, errno);
    ASSERT_EQ(0, Control("normal"));
    int fresh = OpenDevice();
    EXPECT_EQ(0, Ioctl(fresh, PPCLAIM)) << "the port came back for new files";
    EXPECT_EQ(0, WriteData(fresh, 3));
    close(fd);
    close(fresh);
    std::vector<Recorded> r = Record();
    ASSERT_EQ(2u, r.size()) << "the write to the removed port reached no wire";
    EXPECT_EQ(3, r[1].value);
}

TEST_F(EmuPort, NotAPortAndIoErrorsFailEveryIoctlUntilNormal)
{
    int fd = OpenDevice();
    ASSERT_GE(fd, 0);
    unsigned char b = 1;
    ASSERT_EQ(0, Control("enotty"));
    EXPECT_EQ(ENOTTY, Ioctl(fd, PPCLAIM));
    ASSERT_EQ(0, Control("normal"));
    ASSERT_EQ(0, Ioctl(fd, PPCLAIM));
    ASSERT_EQ(0, Control("eio"));
    EXPECT_EQ(EIO, WriteData(fd, 1));
    EXPECT_EQ(EIO, Ioctl(fd, PPRSTATUS, &b));
    ASSERT_EQ(0, Control("normal"));
    EXPECT_EQ(0, WriteData(fd, 2));
    close(fd);
    ASSERT_EQ(1u, Record().size()) << "a failed write is not recorded";
    EXPECT_EQ(2, Record()[0].value);
}

TEST_F(EmuPort, VanishedDeviceIsGoneForOpenHandlesAndBackForNewOnes)
{
    int old = OpenDevice();
    ASSERT_GE(old, 0);
    ASSERT_EQ(0, Ioctl(old, PPCLAIM));
    ASSERT_EQ(0, Control("vanish"));
    EXPECT_EQ(ENODEV, WriteData(old, 1));
    struct stat st;
    EXPECT_NE(0, stat(DevicePath().c_str(), &st));
    EXPECT_EQ(ENOENT, errno);
    EXPECT_EQ(-1, OpenDevice());
    EXPECT_EQ(ENOENT, errno);
    EXPECT_EQ("0", State("claimed"));

    ASSERT_EQ(0, Control("normal"));
    int fresh = OpenDevice();
    ASSERT_GE(fresh, 0);
    EXPECT_EQ(0, Ioctl(fresh, PPCLAIM)) << "the vanished handle's claim went with it";
    EXPECT_EQ(ENODEV, WriteData(old, 1)) << "an old handle stays dead";
    EXPECT_EQ(0, WriteData(fresh, 3));
    close(old);
    close(fresh);
}

TEST_F(EmuPort, ModeAppliesToRootAndToOtherUsers)
{
    ASSERT_EQ(0, Control("mode 000"));
    EXPECT_EQ(-1, OpenDevice()) << "refused even to root";
    EXPECT_EQ(EACCES, errno);
    EXPECT_NE(0, access(DevicePath().c_str(), R_OK | W_OK));
    ASSERT_EQ(0, chmod(DevicePath().c_str(), 0660));
    EXPECT_EQ("660", State("mode"));

    pid_t child = fork();
    if (child == 0) {  // a user outside the lp group
        if (setresgid(NOBODY, NOBODY, NOBODY) != 0 || setresuid(NOBODY, NOBODY, NOBODY) != 0)
            _exit(2);
        int fd = open(DevicePath().c_str(), O_RDWR);
        _exit(fd < 0 && errno == EACCES ? 0 : 1);
    }
    int status = -1;
    ASSERT_EQ(child, waitpid(child, &status, 0));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;

}

}  // namespace
