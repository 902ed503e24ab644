// See wineproc.h.
#include "wineproc.h"
#include <stdio.h>
#include <string.h>
#include "procstat.h"
#include "unixcall.h"

constexpr int MAPS_CHUNK = 4096;
constexpr int MAPS_LINE_MAX = 4096 + 64;  // a path of PATH_MAX and the fields before it

uint32_t WineProcessIdentity(long pid)
{
    if (pid <= 0)
        return 0;
    char path[32], text[PROCSTAT_TEXT_MAX];
    snprintf(path, sizeof path, "/proc/%ld/stat", pid);
    long fd = UnixOpen(path, UNIX_O_RDONLY | UNIX_O_CLOEXEC, 0);
    if (fd < 0)
        return 0;
    long n = UnixRead(fd, text, sizeof text);
    UnixClose(fd);
    return n > 0 ? ProcIdentityFromStat(text, static_cast<size_t>(n)) : 0;
}

bool WineProcessIs(long pid, uint32_t identity)
{
    uint32_t now = WineProcessIdentity(pid);
    return now != 0 && (identity == 0 || identity == now);
}

// Looks at one whole line of the maps: -1 not this view, 0 this view but
// another file, 1 this view and this file.
static int LineMatches(const char* line, size_t len, uint64_t start, const UnixFileInfo& file)
{
    uint64_t at = 0, inode = 0;
    uint32_t major = 0, minor = 0;
    if (!ParseMapsLine(line, len, &at, &major, &minor, &inode) || at != start)
        return -1;
    return major == DeviceMajor(file.dev) && minor == DeviceMinor(file.dev) && inode == file.ino ? 1 : 0;
}

bool WineViewIsFile(const void* view, long fd)
{
    UnixFileInfo file;
    if (UnixFstat(fd, &file) < 0)
        return false;
    long maps = UnixOpen("/proc/self/maps", UNIX_O_RDONLY | UNIX_O_CLOEXEC, 0);
    if (maps < 0)
        return false;
    uint64_t start = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(view));
    static char line[MAPS_LINE_MAX];  // one caller at a time: the attach, under its lock
    size_t used = 0;
    char chunk[MAPS_CHUNK];
    int found = -1;
    long n;
    while (found < 0 && (n = UnixRead(maps, chunk, sizeof chunk)) > 0) {
        for (long i = 0; i < n && found < 0; ++i) {
            if (chunk[i] != '\n') {
                if (used < sizeof line)
                    line[used++] = chunk[i];
                continue;
            }
            found = LineMatches(line, used, start, file);
            used = 0;
        }
    }
    UnixClose(maps);
    return found == 1;
}
