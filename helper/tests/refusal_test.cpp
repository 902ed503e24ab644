// What the helper refuses and how it says so: a state it cannot serve, a
// clock that is not its own, a port another helper serves; processes known
// by identity, not by a pid that may be reused; device files opened safely;
// and the desktop notification of a fault.
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <chrono>
#include <string>
#include <thread>
#include "fakedevice.h"
#include "helpercheck.h"
#include "notify.h"
#include "ppdev.h"

namespace {

constexpr int64_t TICKS_PER_MS = PORTSTATE_NATIVE_FREQUENCY / 1000;

std::string TempFolder()
{
    char tmpl[] = "/tmp/travek-refusal-XXXXXX";
    const char* dir = mkdtemp(tmpl);
    return dir ? dir : "";
}

// Takes the state as the helper would; the exit code and the target read.
int Take(PortState* s)
{
    char target[PORTSTATE_TEXT];
    return HelperTakeState(s, target, sizeof target);
}

TEST(HelperRefusal, EachRefusalIsRecordedWithItsCause)
{
    struct Case {
        const char* name;
        void (*spoil)(PortState*);
        PortFaultCode code;
        const char* words;
    } cases[] = {
        { "no ppdev", [](PortState* s) { AtomicStore(&s->backend, uint32_t(PORT_BACKEND_SIMULATED)); },
          PORT_FAULT_HELPER_REFUSED, "ppdev" },
        { "short name", [](PortState* s) { PortStateSetTarget(s, "parport0"); }, PORT_FAULT_HELPER_REFUSED,
          "« parport0 »" },
        { "other frequency", [](PortState* s) { AtomicStore(&s->frequency, int64_t(1000000000)); },
          PORT_FAULT_CLOCK, "1000000000 Hz" },
        { "clock ahead", [](PortState* s) { AtomicStore(&s->lastWriteTicks, PortNativeTicks() + 3600 * 1000 * TICKS_PER_MS); },
          PORT_FAULT_CLOCK, "diffèrent" },
        { "lease far past", [](PortState* s) {
              AtomicStore(&s->helperState, uint32_t(HELPER_STARTING));
              AtomicStore(&s->helperBeat, PortNativeTicks() - 120000 * TICKS_PER_MS); },
          PORT_FAULT_CLOCK, "diffèrent" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PortState* s = NewState();
        c.spoil(s);
        EXPECT_EQ(Take(s), BRIDGE_EXIT_REFUSED);
        EXPECT_EQ(AtomicLoad(&s->fault), uint32_t(c.code));
        EXPECT_NE(strstr(s->faultText, c.words), nullptr) << s->faultText;
        EXPECT_EQ(AtomicLoad(&s->helperState), uint32_t(HELPER_REFUSED)) << "not to be restarted";
        EXPECT_EQ(AtomicLoad(&s->helperPid), 0);
        free(s);
    }
    PortState* s = NewState();
    EXPECT_EQ(Take(s), BRIDGE_EXIT_DONE);
    EXPECT_EQ(AtomicLoad(&s->helperPid), getpid());
    EXPECT_EQ(AtomicLoad(&s->helperStart), PortProcessIdentity(getpid()));
    free(s);
}

TEST(HelperRefusal, AServingHelperIsLeftAloneAndAReusedPidIsNoHelper)
{
    PortState* s = NewState();
    int32_t other = static_cast<int32_t>(getppid());  // alive, not this process
    AtomicStore(&s->helperPid, other);
    AtomicStore(&s->helperStart, PortProcessIdentity(other));
    AtomicStore(&s->helperState, uint32_t(HELPER_AWAKE));
    AtomicStore(&s->helperBeat, PortNativeTicks());
    EXPECT_EQ(Take(s), BRIDGE_EXIT_REFUSED);
    EXPECT_EQ(AtomicLoad(&s->fault), uint32_t(PORT_FAULT_HELPER_DUPLICATE));
    EXPECT_EQ(AtomicLoad(&s->helperState), uint32_t(HELPER_AWAKE)) << "the serving helper's state kept";
    EXPECT_EQ(AtomicLoad(&s->helperPid), other);

    // The same pid with another identity: the helper died and its pid went
    // to another process (the library's lease keeps the beat fresh).
    AtomicStore(&s->helperStart, PortProcessIdentity(other) ^ 0x5A5A);
    AtomicStore(&s->helperState, uint32_t(HELPER_STARTING));
    EXPECT_EQ(Take(s), BRIDGE_EXIT_DONE);
    EXPECT_EQ(AtomicLoad(&s->helperPid), getpid());
    free(s);
}

TEST(ProcessIdentity, AReusedPidOrAZombieHoldsNoClientSlot)
{
    PortState* s = NewState();
    int mine = PortStateTakeClient(s, getpid(), 0, 1, PortProcessIdentity(getpid()));
    EXPECT_TRUE(BridgeClientsAlive(s));
    AtomicStore(&s->clientStart[mine], PortProcessIdentity(getpid()) ^ 1);  // an earlier process's pid
    AtomicStore(&s->clientWriting[mine], uint8_t(1));                      // that died mid-write
    EXPECT_FALSE(BridgeClientsAlive(s));
    EXPECT_EQ(AtomicLoad(&s->clients[mine].unixPid), 0) << "its slot is freed";
    EXPECT_EQ(AtomicLoad(&s->clientWriting[mine]), 0) << "with its unfinished write";
    EXPECT_TRUE(PortProcessIs(getpid(), 0)) << "an unknown identity: the pid alone";
    EXPECT_FALSE(PortProcessIs(-1, 0));
    free(s);
}

// A device file is opened without becoming the controlling terminal (a
// session leader without one would take any terminal it opens).
TEST(DeviceFile, NoControllingTerminalAndOnlyCharacterDevices)
{
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    std::string slave = ptsname(master);
    pid_t child = fork();
    if (child == 0) {
        setsid();
        int err = 0;
        int fd = PpdevOpenFile(slave.c_str(), &err);
        bool tookTerminal = open("/dev/tty", O_RDWR) >= 0;
        _exit(fd >= 0 && !tookTerminal ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    close(master);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the terminal became the helper's";

    std::string dir = TempFolder();
    std::string file = dir + "/parport0";
    close(open(file.c_str(), O_CREAT | O_WRONLY, 0600));
    setenv(EMUPORT_ENV_NAME, dir.c_str(), 1);  // named, but not served by FUSE
    int err = 0;
    EXPECT_EQ(PpdevOpenFile(file.c_str(), &err), -1);
    EXPECT_EQ(err, ENOTTY);
    unsetenv(EMUPORT_ENV_NAME);
    unlink(file.c_str());
    rmdir(dir.c_str());
}

// A fake gdbus in PATH records its arguments; the notification names the
// device and the fix, comes back at once, and is skipped without a bus.
TEST(Notify, SentThroughTheBusToolWithTheFixAndSkippedWithoutABus)
{
    std::string dir = TempFolder();
    std::string log = dir + "/calls", tool = dir + "/gdbus";
    FILE* f = fopen(tool.c_str(), "w");
    ASSERT_NE(f, nullptr);
    fprintf(f, "#!/bin/sh\nfor a in \"$@\"; do printf '%%s|' \"$a\"; done >> '%s'\necho >> '%s'\n", log.c_str(),
            log.c_str());
    fclose(f);
    chmod(tool.c_str(), 0755);
    std::string oldPath = getenv("PATH") ? getenv("PATH") : "";
    std::string oldRuntime = getenv("XDG_RUNTIME_DIR") ? getenv("XDG_RUNTIME_DIR") : "";
    setenv("PATH", dir.c_str(), 1);
    setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent", 1);
    auto start = std::chrono::steady_clock::now();
    NotifyDesktop(PORT_FAULT_PERMISSION, "Accès refusé à /dev/parport0 : l'utilisateur");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2)) << "never waits for the tool";
    std::string text;
    for (int i = 0; i < 5000 && text.find('\n') == std::string::npos; ++i) {
        FILE* in = fopen(log.c_str(), "r");
        char buf[4096] = "";
        if (in) {
            buf[fread(buf, 1, sizeof buf - 1, in)] = '\0';
            fclose(in);
        }
        text = buf;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    EXPECT_NE(text.find("org.freedesktop.Notifications.Notify"), std::string::npos) << text;
    EXPECT_NE(text.find("/dev/parport0 : l\\'utilisateur"), std::string::npos) << "quoted for GVariant: " << text;
    EXPECT_NE(text.find("groupe lp"), std::string::npos) << "the fix: " << text;
    unlink(log.c_str());
    unsetenv("DBUS_SESSION_BUS_ADDRESS");
    setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);  // no bus socket there
    NotifyDesktop(PORT_FAULT_BUSY, "Port occupé");
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_NE(access(log.c_str(), F_OK), 0) << "no bus: nothing sent";
    setenv("PATH", oldPath.c_str(), 1);
    if (oldRuntime.empty())
        unsetenv("XDG_RUNTIME_DIR");
    else
        setenv("XDG_RUNTIME_DIR", oldRuntime.c_str(), 1);
    unlink(tool.c_str());
    rmdir(dir.c_str());
}

TEST(Notify, GVariantQuotingKeepsQuotesAndBackslashes)
{
    char out[64];
    ASSERT_TRUE(GVariantString("l'a\\b", out, sizeof out));
    EXPECT_STREQ(out, "'l\\'a\\\\b'");
    EXPECT_FALSE(GVariantString("far too long for four bytes", out, 4));
}

}  // namespace
