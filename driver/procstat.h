// What /proc tells of a process and of a mapping, parsed from its text:
// shared by the native helper and the library under Wine (which reads the
// files with raw system calls). Portable: parses text, no system call.
#ifndef PROCSTAT_H
#define PROCSTAT_H

#include <stddef.h>
#include <stdint.h>

constexpr size_t PROCSTAT_TEXT_MAX = 1024;  // /proc/PID/stat is far shorter

// From /proc/PID/stat: the state letter ('Z' for a zombie) and the start
// time (field 22, clock ticks since boot). False if the text is not one.
bool ParseProcStat(const char* text, size_t len, char* state, uint64_t* startTime);

// A process's identity: its start time folded to 32 bits, never 0 (0 means
// unknown in the shared state). A pid reused by a later process gets another.
uint32_t ProcIdentityOf(uint64_t startTime);

// The identity /proc/PID/stat gives, or 0 when the process is gone or a
// zombie (it has ended: it holds no port and no slot).
uint32_t ProcIdentityFromStat(const char* text, size_t len);

// From one line of /proc/PID/maps ("start-end perms offset major:minor inode
// path"): the start address, the device and the inode.
bool ParseMapsLine(const char* line, size_t len, uint64_t* start, uint32_t* major, uint32_t* minor,
                   uint64_t* inode);

// The major and minor numbers of a Linux st_dev value.
uint32_t DeviceMajor(uint64_t dev);
uint32_t DeviceMinor(uint64_t dev);

#endif
