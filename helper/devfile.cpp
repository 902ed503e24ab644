// Opening a ppdev device file; see PpdevOpenFile in ppdev.h.
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>
#include "ppdev.h"

constexpr long FUSE_MAGIC = 0x65735546;  // statfs f_type of a FUSE file system

// A file of the emulated port: inside the folder the test fixture named,
// served by FUSE. Only then is a file that is no device accepted.
static bool EmulatedDevice(int fd, const char* path)
{
    const char* mount = getenv(EMUPORT_ENV_NAME);
    size_t n = mount ? strlen(mount) : 0;
    if (n == 0 || mount[0] != '/' || strncmp(path, mount, n) != 0 || path[n] != '/' || strstr(path + n, "/.."))
        return false;
    struct statfs fs;
    return fstatfs(fd, &fs) == 0 && static_cast<long>(fs.f_type) == FUSE_MAGIC;
}

int PpdevOpenFile(const char* path, int* err)
{
    int fd = open(path, O_RDWR | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        *err = errno;
        return -1;
    }
    struct stat st;
    if (fstat(fd, &st) != 0) {
        *err = errno;
        close(fd);
        return -1;
    }
    if (!S_ISCHR(st.st_mode) && !EmulatedDevice(fd, path)) {
        *err = ENOTTY;
        close(fd);
        return -1;
    }
    return fd;
}
