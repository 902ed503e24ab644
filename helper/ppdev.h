// A ppdev device held for a session: open, claim once (bounded), write the
// data register, read the status register, release. Every failure becomes a
// PortFaultCode with a French message for the user.
#ifndef HELPER_PPDEV_H
#define HELPER_PPDEV_H

#include <stddef.h>
#include <stdint.h>
#include "portstate.h"

constexpr int PPDEV_CLAIM_LIMIT_MS = 2000;  // PPCLAIM blocks while another program holds the port
constexpr int PPDEV_CLAIM_BEAT_MS = 100;    // the wait is cut this often to beat (liveness)
constexpr size_t PPDEV_MESSAGE_MAX = PORTSTATE_TEXT;

// Why an errno happened: it reads differently at open, at the claim and later.
enum PpdevStep { PPDEV_STEP_OPEN, PPDEV_STEP_CLAIM, PPDEV_STEP_SESSION };

struct PpdevFault {
    PortFaultCode code;
    char text[PPDEV_MESSAGE_MAX];  // UTF-8
};

// Called while a claim waits, every PPDEV_CLAIM_BEAT_MS.
typedef void (*PpdevBeat)(void* context);

// Opens and claims the device; returns its descriptor, or -1 with *fault set.
// `beat` (may be null) is called while the claim waits.
int PpdevOpen(const char* path, PpdevFault* fault, PpdevBeat beat, void* context);
// All three return 0 or an errno (EINTR included: the caller retries).
int PpdevWriteData(int fd, uint8_t value);
int PpdevWriteControl(int fd, uint8_t value);
int PpdevReadStatus(int fd, uint8_t* value);
// Opens the device file read-write without making it the controlling
// terminal, and only if it is a character device; -1 with *err set if not
// (ENOTTY for a file that is no device). The one exception, for the tests:
// a file inside the folder named by EMUPORT_ENV_NAME that a FUSE file
// system serves (the emulated port, tests/emuport).
int PpdevOpenFile(const char* path, int* err);
constexpr char EMUPORT_ENV_NAME[] = "TRAVEK_EMUPORT";

// Releases the port and closes the descriptor.
void PpdevClose(int fd);

// The fault an errno means at a given step, with its message.
void PpdevClassify(const char* path, PpdevStep step, int err, PpdevFault* fault);

#endif
