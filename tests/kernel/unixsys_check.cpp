// The library's raw Linux system calls (driver/unixsys.cpp) and the shared
// state's layout, from a native program of either width: the kernel check
// runs the 32-bit and the 64-bit build and compares what they print.
//   unixsys_check calls NAME    each call against the C library; prints
//                               RESULT lines that must not depend on the width
//   unixsys_check layout        prints each field's offset in the shared state
//   unixsys_check write PATH    makes a state file and journals known writes
//   unixsys_check read NAME PATH  checks a state file made by `write`
#include <errno.h>
#include <fcntl.h>
#include <linux/futex.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <string>

#include "portcore.h"
#include "portnative.h"
#include "unixcall.h"

constexpr int64_t FILE_SIZE = 123456;
constexpr unsigned FILE_MODE = 0640;
constexpr int WAKE_TRIES = 2000;  // 1 ms apart: the child waits on the futex well before
constexpr int JOURNALED = 1000;   // writes `write` journals
constexpr int32_t STATUS_MARK = 0xD8;
constexpr char READ_TEXT[] = "travek";

static bool g_ok = true;  // every check of this run held

static void Result(const char* name, long value)
{
    printf("RESULT %s %ld\n", name, value);
}

static void Same(const char* what, long got, long want)
{
    if (got != want) {
        printf("# %s: %ld, expected %ld\n", what, got, want);
        g_ok = false;
    }
}

static void FilesAndLocks(const std::string& dir)
{
    Same("getuid", UnixGetUid(), long(getuid()));
    Same("getpid", UnixGetPid(), long(getpid()));
    Result("mkdir", UnixMkdir(dir.c_str(), 0700));
    Result("mkdir_again", UnixMkdir(dir.c_str(), 0700));
    std::string file = dir + "/f";
    long fd = UnixOpen(file.c_str(), UNIX_O_RDWR | UNIX_O_CREAT | UNIX_O_CLOEXEC, 0600);
    Same("open", fd >= 0, 1);
    Result("open_missing", UnixOpen((dir + "/none").c_str(), UNIX_O_RDWR, 0));
    Result("ftruncate", UnixFtruncate(fd, FILE_SIZE));
    Result("fchmod", UnixFchmod(fd, FILE_MODE));
    UnixFileInfo info = {};
    Result("fstat", UnixFstat(fd, &info));
    struct stat st;
    fstat(int(fd), &st);
    Same("fstat mode", long(info.mode), long(st.st_mode));
    Same("fstat uid", long(info.uid), long(st.st_uid));
    Same("fstat size", long(info.size), long(st.st_size));
    Same("fstat device", info.dev == uint64_t(st.st_dev), 1);
    Same("fstat inode", info.ino == uint64_t(st.st_ino), 1);
    Result("fstat_mode", long(info.mode));
    Result("fstat_size", long(info.size));
    char text[sizeof READ_TEXT] = {};
    Same("pwrite", pwrite(int(fd), READ_TEXT, sizeof READ_TEXT, 0), long(sizeof READ_TEXT));
    Result("read", UnixRead(fd, text, sizeof text));
    Same("read text", strcmp(text, READ_TEXT), 0);
    Result("flock", UnixFlock(fd, UNIX_LOCK_EX));
    long other = UnixOpen(file.c_str(), UNIX_O_RDWR, 0);
    Result("flock_held", UnixFlock(other, UNIX_LOCK_EX | LOCK_NB));
    Result("unlock", UnixFlock(fd, UNIX_LOCK_UN));
    Result("flock_free", UnixFlock(other, UNIX_LOCK_EX | LOCK_NB));
    Result("close", UnixClose(other));
    Result("close_again", UnixClose(other));
    Result("read_closed", UnixRead(other, text, sizeof text));
    UnixClose(fd);
    unlink(file.c_str());
    rmdir(dir.c_str());
}

static void ProcessesAndFutex()
{
    Result("probe_self", UnixProbePid(UnixGetPid()));
    pid_t gone = fork();
    if (gone == 0)
        _exit(0);
    waitpid(gone, nullptr, 0);
    Result("probe_gone", UnixProbePid(gone));
    // A futex word in memory shared with a child, as the state file is with the helper.
    uint32_t* word = static_cast<uint32_t*>(mmap(nullptr, sizeof(uint32_t), PROT_READ | PROT_WRITE,
                                                 MAP_SHARED | MAP_ANONYMOUS, -1, 0));
    *word = 0;
    Result("futex_nobody", UnixFutexWake(word, 1));
    pid_t waiter = fork();
    if (waiter == 0)
        _exit(syscall(SYS_futex, word, FUTEX_WAIT, 0, nullptr, nullptr, 0) == 0 ? 0 : 1);
    long woken = 0;
    for (int i = 0; i < WAKE_TRIES && woken == 0; ++i) {
        usleep(1000);
        woken = UnixFutexWake(word, 1);
    }
    int status = 0;
    waitpid(waiter, &status, 0);
    Result("futex_woken", woken);
    Same("futex waiter's end", WIFEXITED(status) ? WEXITSTATUS(status) : -1, 0);
}

#define FIELD(f) printf("LAYOUT %s %zu\n", #f, offsetof(PortState, f))

static int Layout()
{
    printf("LAYOUT size %zu\nLAYOUT entry %zu\nLAYOUT client %zu\n", sizeof(PortState), sizeof(PortEntry),
           sizeof(PortClient));
    FIELD(frequency); FIELD(data); FIELD(status); FIELD(writes); FIELD(lastWriteTicks);
    FIELD(backend); FIELD(fault); FIELD(faults); FIELD(faultTicks); FIELD(target); FIELD(faultText);
    FIELD(helperPid); FIELD(helperState); FIELD(helperBeat); FIELD(applied); FIELD(statusTicks);
    FIELD(doorbell); FIELD(wireWrites); FIELD(clients); FIELD(journal);
    return 0;
}

static PortState* Map(const char* path, bool create)
{
    char err[PORTSTATE_ERROR_MAX];
    PortState* s = PortStateMapNative(path, create, err, sizeof err);
    if (!s)
        printf("# %s\n", err);
    return s;
}

static int Write(const char* path)
{
    PortState* s = Map(path, true);
    if (!s)
        return 1;
    for (int i = 0; i < JOURNALED; ++i)
        PortStateAppend(s, PORT_DATA, uint16_t(i * 7), PortNativeTicks);
    AtomicStore(&s->status, STATUS_MARK);
    AtomicStore(&s->applied, int64_t(JOURNALED / 2));
    PortStateSetTarget(s, "/dev/parport0");
    PortStateFault(s, PORT_FAULT_BUSY, "occupé", PortNativeTicks());
    PortStateTakeClient(s, 4242, 0, PortNativeTicks());
    PortStateUnmapNative(s);
    return 0;
}

static int Read(const char* name, const char* path)
{
    PortState* s = Map(path, false);
    g_ok = s != nullptr && PortStateValid(s);
    if (g_ok) {
        JournalWrite w[JOURNALED];
        int64_t next = 0, dropped = 0;
        Same("journaled", long(PortStateCopyJournal(s, 0, w, JOURNALED, &next, &dropped, PortNativeSleep)), JOURNALED);
        for (int i = 0; i < JOURNALED; ++i)
            Same("journal value", w[i].value, (i * 7) & 0xFFFF);
        Same("data", AtomicLoad(&s->data), ((JOURNALED - 1) * 7) & 0xFF);
        Same("status", AtomicLoad(&s->status), STATUS_MARK);
        Same("applied", long(AtomicLoad(&s->applied)), JOURNALED / 2);
        Same("fault", AtomicLoad(&s->fault), PORT_FAULT_BUSY);
        Same("target", strcmp(s->target, "/dev/parport0"), 0);
        Same("fault text", strcmp(s->faultText, "occupé"), 0);
        Same("client", AtomicLoad(&s->clients[0].unixPid), 4242);
        PortStateUnmapNative(s);
    }
    printf("%s %s\n", g_ok ? "PASS" : "FAIL", name);
    return g_ok ? 0 : 1;
}

int main(int argc, char** argv)
{
    if (argc == 3 && strcmp(argv[1], "calls") == 0) {
        FilesAndLocks("/tmp/unixsys-check-" + std::to_string(getpid()));
        ProcessesAndFutex();
        printf("%s %s\n", g_ok ? "PASS" : "FAIL", argv[2]);
        return g_ok ? 0 : 1;
    }
    if (argc == 2 && strcmp(argv[1], "layout") == 0)
        return Layout();
    if (argc == 3 && strcmp(argv[1], "write") == 0)
        return Write(argv[2]);
    if (argc == 4 && strcmp(argv[1], "read") == 0)
        return Read(argv[2], argv[3]);
    fprintf(stderr, "usage: unixsys_check calls NAME | layout | write PATH | read NAME PATH\n");
    return 2;
}
