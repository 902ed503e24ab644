// What /proc says, read from PE code under Wine with raw Linux calls: a
// process's identity (so that a reused pid or a zombie is not taken for a
// live process) and which file a mapped view really is. Only meaningful
// under Wine (UnderWine()).
#ifndef WINEPROC_H
#define WINEPROC_H

#include <stdint.h>

// The identity (procstat.h) of a live process, 0 when gone or a zombie.
uint32_t WineProcessIdentity(long pid);
// True while pid is alive with this identity (any live process for 0).
bool WineProcessIs(long pid, uint32_t identity);
// True if the view starting at `view` maps the file open as `fd` (same
// device and inode), as /proc/self/maps tells.
bool WineViewIsFile(const void* view, long fd);

#endif
