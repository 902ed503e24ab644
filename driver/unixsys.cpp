// Raw Linux system calls; see unixcall.h. The numbers and the structure
// offsets are the kernel's for each architecture. No Windows or C library
// header: the same source runs in PE code under Wine and, for its tests, in
// native 32-bit and 64-bit Linux programs.
#include "unixcall.h"
#include <stddef.h>

#if defined(__x86_64__)
enum : intptr_t {
    SYS_READ = 0, SYS_GETPID = 39, SYS_GETUID = 102, SYS_MKDIR = 83, SYS_OPEN = 2, SYS_CLOSE = 3,
    SYS_FTRUNCATE = 77, SYS_FCHMOD = 91, SYS_FSTAT = 5, SYS_FLOCK = 73, SYS_KILL = 62,
    SYS_FUTEX = 202,
};
// struct stat: st_dev at 0, st_ino at 8, st_mode at 24, st_uid at 28, st_size at 48; 144 bytes.
constexpr int STAT_DEV = 0, STAT_INO = 8, STAT_MODE = 24, STAT_UID = 28, STAT_SIZE = 48, STAT_BYTES = 144;

static long Call(intptr_t n, intptr_t a = 0, intptr_t b = 0, intptr_t c = 0, intptr_t d = 0)
{
    intptr_t r;
    register intptr_t r10 __asm__("r10") = d;
    __asm__ volatile("syscall" : "=a"(r) : "a"(n), "D"(a), "S"(b), "d"(c), "r"(r10)
                     : "rcx", "r11", "memory");
    return static_cast<long>(r);
}
#elif defined(__i386__)
enum : intptr_t {
    SYS_READ = 3, SYS_GETPID = 20, SYS_GETUID = 199 /* getuid32 */, SYS_MKDIR = 39, SYS_OPEN = 5, SYS_CLOSE = 6,
    SYS_FTRUNCATE = 93, SYS_FCHMOD = 94, SYS_FSTAT = 197 /* fstat64 */, SYS_FLOCK = 143,
    SYS_KILL = 37, SYS_FUTEX = 240,
};
// struct stat64: st_dev at 0, st_mode at 16, st_uid at 24, st_size at 44, st_ino at 88; 96 bytes.
constexpr int STAT_DEV = 0, STAT_INO = 88, STAT_MODE = 16, STAT_UID = 24, STAT_SIZE = 44, STAT_BYTES = 96;

static long Call(intptr_t n, intptr_t a = 0, intptr_t b = 0, intptr_t c = 0, intptr_t d = 0)
{
    intptr_t r;
    __asm__ volatile("int $0x80" : "=a"(r) : "a"(n), "b"(a), "c"(b), "d"(c), "S"(d) : "memory");
    return r;
}
#else
#error "unixcall: x86 or x86_64 only"
#endif

constexpr int FUTEX_WAKE = 1;  // shared between processes: no FUTEX_PRIVATE_FLAG

// Windows' long is 32-bit even on x86_64: registers travel as intptr_t.
static intptr_t Ptr(const void* p)
{
    return reinterpret_cast<intptr_t>(p);
}

long UnixGetUid() { return Call(SYS_GETUID); }
long UnixGetPid() { return Call(SYS_GETPID); }
long UnixMkdir(const char* path, unsigned mode) { return Call(SYS_MKDIR, Ptr(path), long(mode)); }
long UnixOpen(const char* path, int flags, unsigned mode) { return Call(SYS_OPEN, Ptr(path), flags, long(mode)); }
long UnixClose(long fd) { return Call(SYS_CLOSE, fd); }
long UnixRead(long fd, void* buffer, long size) { return Call(SYS_READ, fd, Ptr(buffer), size); }
long UnixFchmod(long fd, unsigned mode) { return Call(SYS_FCHMOD, fd, long(mode)); }
long UnixFlock(long fd, int op) { return Call(SYS_FLOCK, fd, op); }
long UnixProbePid(long pid) { return Call(SYS_KILL, pid, 0); }

long UnixFtruncate(long fd, int64_t length)
{
    return Call(SYS_FTRUNCATE, fd, static_cast<intptr_t>(length));  // the state is far below 2 GiB
}

long UnixFstat(long fd, UnixFileInfo* info)
{
    alignas(8) unsigned char st[STAT_BYTES] = {};
    long r = Call(SYS_FSTAT, fd, Ptr(st));
    if (r < 0)
        return r;
    uint32_t mode, uid;
    __builtin_memcpy(&mode, st + STAT_MODE, sizeof mode);
    __builtin_memcpy(&uid, st + STAT_UID, sizeof uid);
    __builtin_memcpy(&info->size, st + STAT_SIZE, sizeof info->size);
    __builtin_memcpy(&info->dev, st + STAT_DEV, sizeof info->dev);
    __builtin_memcpy(&info->ino, st + STAT_INO, sizeof info->ino);
    info->mode = mode;
    info->uid = uid;
    return 0;
}

long UnixFutexWake(uint32_t* word, int count)
{
    return Call(SYS_FUTEX, Ptr(word), FUTEX_WAKE, count);
}
