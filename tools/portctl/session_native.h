// A native Linux process in a session of the port's shared state, joined as
// a Windows process under Wine joins it: the state file mapped (made if
// missing, its owner and modes checked), started clean when no live process
// uses it, a client slot taken so that the session lives while it runs.
#ifndef SESSION_NATIVE_H
#define SESSION_NATIVE_H

#include <stddef.h>
#include "portnative.h"

struct NativeSession {
    PortState* state;
    int lockFd;  // the state file: its flock serialises making the state clean
    int slot;    // this process's client slot, -1 if none was free
};

// Joins the session whose state file is `path`. False with a message naming
// the file or folder (another user's, wrong modes ...) if it cannot be had.
bool JoinSession(NativeSession* ns, const char* path, char* err, size_t errSize);

// Frees the slot and unmaps the state.
void LeaveSession(NativeSession* ns);

// Checks the state; a corrupt one is made clean under the lock.
void SessionValidate(NativeSession* ns);

// Some live process other than this one holds a slot, or a helper beats.
bool SessionShared(NativeSession* ns);

// Starts the state clean under the lock, whoever used it before.
void SessionRestart(NativeSession* ns);

#endif
