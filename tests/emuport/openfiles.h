// What the emulated device keeps of each open file, shared by the register
// ioctls (device.cpp) and the port's claims (claims.cpp). Under DevicesLock.
#ifndef EMUPORT_OPENFILES_H
#define EMUPORT_OPENFILES_H

#include <mutex>

#include "device.h"

constexpr int MAX_HANDLES = 256;            // open handles at once over all devices
constexpr uint8_t CONTROL_AT_START = 0x0C;  // nInit high, nSelectIn high: a new claimer's control
constexpr uint8_t CONTROL_LINES = 0x0F;     // the control bits that read back
constexpr uint8_t CONTROL_REVERSE = 0x20;   // data lines turned into inputs

// How an open handle lost its device.
enum HandleGone { HANDLE_LIVE, HANDLE_VANISHED, HANDLE_REMOVED };

struct Handle {
    bool used;
    int device;
    HandleGone gone;
    bool registered;       // the first PPCLAIM registers the handle with the port
    bool exclusive;        // PPEXCL before registration
    bool claimed;          // PPCLAIM returned 0 and no PPRELEASE since
    bool queued;           // on the port's wait list
    uint8_t savedControl;  // the control register restored at its claim, kept at its release
    int mode;              // IEEE 1284 mode set before the claim
    int phase;
    int flags;             // PP_FLAGMASK bits
};

extern Handle Handles[MAX_HANDLES];  // open handles, indexed by the FUSE file handle

// PPCLAIM: registers the handle at its first claim, then takes the port or
// waits on the wait list until it is handed the port or a signal comes.
int Claim(int handle, std::unique_lock<std::mutex>& lock);
// PPRELEASE, or the release at close: the port goes to the longest waiter.
void Release(int handle);
// Hands a free port to the longest waiter, waiting in PPCLAIM or not.
void HandOver(Device& d);
// At close: off the wait list, the port released if it was this handle's.
void Unregister(int handle);

#endif
