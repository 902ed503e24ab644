// The port's shared state from a native Linux program; see portnative.h.
#include "portnative.h"
#include "procstat.h"
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <linux/futex.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

constexpr int64_t NS_PER_TICK = 100;
constexpr int MS_PER_S = 1000;
constexpr long NS_PER_MS = 1000000;

int64_t PortNativeTicks()
{
    timespec t;
    clock_gettime(CLOCK_MONOTONIC_RAW, &t);
    return static_cast<int64_t>(t.tv_sec) * (1000000000 / NS_PER_TICK) + t.tv_nsec / NS_PER_TICK;
}

void PortNativeSleep(int ms)
{
    timespec t = { ms / 1000, static_cast<long>(ms % 1000) * 1000000 };
    nanosleep(&t, nullptr);
}

int64_t PortNativeMs()
{
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<int64_t>(t.tv_sec) * MS_PER_S + t.tv_nsec / NS_PER_MS;
}

void PortNativeSleepUntilMs(int64_t until)
{
    int64_t left;
    while ((left = until - PortNativeMs()) > 0) {
        timespec t = { static_cast<time_t>(left / MS_PER_S), static_cast<long>(left % MS_PER_S) * NS_PER_MS };
        nanosleep(&t, nullptr);
    }
}

bool PortStatePath(char* out, size_t size, char* err, size_t errSize)
{
    size_t folder;
    return PortStateFilePath(getenv("XDG_RUNTIME_DIR"), getuid(), out, size, &folder, err, errSize);
}

// Owner and mode as expected.
static bool CheckStat(const struct stat& st, const char* path, bool regular, unsigned mode, char* err,
                      size_t errSize)
{
    PortStateFound found = { static_cast<unsigned>(st.st_uid), static_cast<unsigned>(st.st_mode),
                             S_ISREG(st.st_mode) };
    return PortStateOwnerOk(path, found, regular, getuid(), mode, err, errSize);
}

bool PortCheckOwner(const char* path, unsigned mode, char* err, size_t errSize)
{
    struct stat st;
    if (lstat(path, &st) != 0) {
        snprintf(err, errSize, "%s : %s", path, strerror(errno));
        return false;
    }
    return CheckStat(st, path, false, mode, err, errSize);
}

// The folder part of path, in out.
static bool FolderOf(const char* path, char* out, size_t size)
{
    const char* slash = strrchr(path, '/');
    size_t n = slash ? static_cast<size_t>(slash - path) : 0;
    if (n == 0 || n >= size)
        return false;
    memcpy(out, path, n);
    out[n] = '\0';
    return true;
}

static bool PrepareFolder(const char* path, bool create, char* err, size_t errSize)
{
    char dir[PORTSTATE_PATH_MAX];
    if (!FolderOf(path, dir, sizeof dir)) {
        snprintf(err, errSize, "%s : chemin sans dossier", path);
        return false;
    }
    if (create && mkdir(dir, PORTSTATE_DIR_MODE) != 0 && errno != EEXIST) {
        snprintf(err, errSize, "impossible de créer %s : %s", dir, strerror(errno));
        return false;
    }
    return PortCheckOwner(dir, PORTSTATE_DIR_MODE, err, errSize);
}

// Makes the file's size right and its state valid, under an exclusive lock.
static bool InitialiseFile(int fd, PortState* s, const char* path, char* err, size_t errSize)
{
    if (flock(fd, LOCK_EX) != 0) {
        snprintf(err, errSize, "%s : verrou impossible : %s", path, strerror(errno));
        return false;
    }
    if (!PortStateValid(s))
        PortStateRepair(s, PORTSTATE_NATIVE_FREQUENCY, PortHelperServes(s, PortNativeTicks()));
    flock(fd, LOCK_UN);
    return true;
}

static int OpenStateFile(const char* path, bool create, char* err, size_t errSize)
{
    int flags = O_RDWR | O_CLOEXEC | O_NOFOLLOW | (create ? O_CREAT : 0);
    int fd = open(path, flags, PORTSTATE_FILE_MODE);
    if (fd < 0) {
        snprintf(err, errSize, "%s : %s", path, strerror(errno));
        return -1;
    }
    struct stat st;
    bool ok = fstat(fd, &st) == 0;
    if (ok)
        ok = CheckStat(st, path, true, PORTSTATE_FILE_MODE, err, errSize);
    else
        snprintf(err, errSize, "%s : %s", path, strerror(errno));
    if (!ok) {
        close(fd);
        return -1;
    }
    if (st.st_size < static_cast<off_t>(sizeof(PortState)) &&
        (!create || ftruncate(fd, sizeof(PortState)) != 0)) {
        snprintf(err, errSize, "%s : taille %lld au lieu de %zu", path, static_cast<long long>(st.st_size),
                 sizeof(PortState));
        close(fd);
        return -1;
    }
    return fd;
}

PortState* PortStateMapNative(const char* path, bool create, char* err, size_t errSize)
{
    if (!PrepareFolder(path, create, err, errSize))
        return nullptr;
    int fd = OpenStateFile(path, create, err, errSize);
    if (fd < 0)
        return nullptr;
    void* p = mmap(nullptr, sizeof(PortState), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (p == MAP_FAILED) {
        snprintf(err, errSize, "%s : mmap : %s", path, strerror(errno));
        close(fd);
        return nullptr;
    }
    PortState* s = static_cast<PortState*>(p);
    bool ok = !create || InitialiseFile(fd, s, path, err, errSize);
    close(fd);  // the mapping stays
    if (!ok) {
        munmap(p, sizeof(PortState));
        return nullptr;
    }
    return s;
}

void PortStateUnmapNative(PortState* s)
{
    if (s)
        munmap(s, sizeof(PortState));
}

uint32_t PortProcessIdentity(int32_t pid)
{
    if (pid <= 0)
        return 0;
    char path[32], text[PROCSTAT_TEXT_MAX];
    snprintf(path, sizeof path, "/proc/%d/stat", static_cast<int>(pid));
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return 0;
    ssize_t n = read(fd, text, sizeof text);
    close(fd);
    return n > 0 ? ProcIdentityFromStat(text, static_cast<size_t>(n)) : 0;
}

bool PortProcessIs(int32_t pid, uint32_t identity)
{
    uint32_t now = PortProcessIdentity(pid);
    return now != 0 && (identity == 0 || identity == now);
}

bool PortHelperServes(PortState* s, int64_t now)
{
    PortHelperJudge judge = { PORTSTATE_NATIVE_FREQUENCY, HELPER_LOST_MS, false, false, PortProcessIs };
    return PortHelperAlive(s, now, judge);
}

static void FutexWakeAll(uint32_t* word)
{
    syscall(SYS_futex, word, FUTEX_WAKE, INT_MAX, nullptr, nullptr, 0);
}

void PortNativeRing(PortState* s)
{
    PortStateRing(s, FutexWakeAll);
}

int64_t PortNativeWrite(PortState* s, int slot, uint16_t port, uint16_t value)
{
    return PortStateWrite(s, slot, port, value, PortNativeTicks, FutexWakeAll);
}
