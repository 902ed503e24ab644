// The port's shared state from a native Linux program: where the state file
// lives, the checks on its owner and modes, and the mapping. Linux only.
#ifndef PORTNATIVE_H
#define PORTNATIVE_H

#include <stddef.h>
#include <stdint.h>
#include "portcore.h"
#include "statefile.h"

constexpr int64_t PORTSTATE_NATIVE_FREQUENCY = 10000000;  // the clock of Wine's QueryPerformanceCounter

// CLOCK_MONOTONIC_RAW in 100 ns units: the same clock Wine processes stamp with.
int64_t PortNativeTicks();
void PortNativeSleep(int ms);
// CLOCK_MONOTONIC in ms, for deadlines; and a sleep until it reaches
// `until`, however often a signal cuts it.
int64_t PortNativeMs();
void PortNativeSleepUntilMs(int64_t until);

// The state file's path: $XDG_RUNTIME_DIR/travek/port-state.v2, or
// /dev/shm/travek-UID/port-state.v2 when the variable is unset or empty.
// False (with a message in err) if the path would not fit.
bool PortStatePath(char* out, size_t size, char* err, size_t errSize);

// Checks that path is owned by this user and that its mode bits are exactly
// `mode` (PORTSTATE_DIR_MODE for the folder, PORTSTATE_FILE_MODE for the
// file; see PortStateOwnerOk). False with a message if not.
bool PortCheckOwner(const char* path, unsigned mode, char* err, size_t errSize);

// Maps the state file at path, checking the file and its folder. With
// `create`, makes the folder and the file as needed (owner-only) and
// initialises the state under an exclusive flock if it is not valid.
// Returns nullptr with a message in err on any failure.
PortState* PortStateMapNative(const char* path, bool create, char* err, size_t errSize);

// Unmaps a state returned by PortStateMapNative.
void PortStateUnmapNative(PortState* s);

// The identity of a live process (procstat.h), 0 when it is gone or a zombie.
uint32_t PortProcessIdentity(int32_t pid);
// True while pid names a live process with this identity (any live process
// when identity is 0, unknown): a reused pid or a zombie is not alive.
bool PortProcessIs(int32_t pid, uint32_t identity);
// True while a live helper serves the state: its process lives and it beats
// (PortHelperAlive).
bool PortHelperServes(PortState* s, int64_t now);

// The writer's side of the bridge from a native process: rings the helper
// if it sleeps (PortStateRing), or journals a write and then rings it
// (PortStateWrite; slot -1 for a writer without a client slot).
void PortNativeRing(PortState* s);
int64_t PortNativeWrite(PortState* s, int slot, uint16_t port, uint16_t value);

#endif
