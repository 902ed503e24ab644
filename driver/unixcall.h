// Raw Linux system calls from PE code running under Wine, for the few things
// Wine offers no Windows road to: the shared state file's owner and modes,
// its lock, process liveness and the helper's futex. Each returns the
// kernel's result: a negative errno on failure. Only meaningful under Wine
// (UnderWine()); on Windows they must not be called. The calls (unixsys.cpp)
// use no Windows header, so that their tests run them as native 32-bit and
// 64-bit Linux programs too; UnderWine (unixcall.cpp) is the Windows side.
#ifndef UNIXCALL_H
#define UNIXCALL_H

#include <stdint.h>

constexpr int UNIX_O_RDONLY = 0;
constexpr int UNIX_O_RDWR = 02;
constexpr int UNIX_O_CREAT = 0100;
constexpr int UNIX_O_NOFOLLOW = 0400000;
constexpr int UNIX_O_CLOEXEC = 02000000;
constexpr int UNIX_LOCK_EX = 2;
constexpr int UNIX_LOCK_UN = 8;
constexpr long UNIX_EEXIST = 17;
constexpr long UNIX_ESRCH = 3;
constexpr unsigned UNIX_MODE_BITS = 07777;
constexpr unsigned UNIX_S_IFMT = 0170000;
constexpr unsigned UNIX_S_IFREG = 0100000;

// What fstat tells of a file.
struct UnixFileInfo {
    unsigned mode;
    unsigned uid;
    int64_t size;
    uint64_t dev;
    uint64_t ino;
};

// True when this process runs under Wine.
bool UnderWine();

long UnixGetUid();
long UnixGetPid();
long UnixMkdir(const char* path, unsigned mode);
long UnixOpen(const char* path, int flags, unsigned mode);
long UnixClose(long fd);
// read(2): bytes read (0 at the end) or a negative errno.
long UnixRead(long fd, void* buffer, long size);
long UnixFtruncate(long fd, int64_t length);
long UnixFchmod(long fd, unsigned mode);
long UnixFstat(long fd, UnixFileInfo* info);
long UnixFlock(long fd, int op);
// kill(pid, 0): 0 or -EPERM when the process exists, -ESRCH when not.
long UnixProbePid(long pid);
// Wakes up to `count` waiters on a futex word shared between processes.
long UnixFutexWake(uint32_t* word, int count);

#endif
