// A ppdev device held for a session: open and claim (bounded, safe for the
// kernel), write the data register, read the status register, release.
// Every failure becomes a PortFaultCode with a French message for the user.
#ifndef HELPER_PPDEV_H
#define HELPER_PPDEV_H

#include <stddef.h>
#include <stdint.h>
#include "portstate.h"

constexpr int PPDEV_CLAIM_LIMIT_MS = 2000;  // a port still held after this long is said busy
constexpr int PPDEV_CLAIM_SLICE_MS = 5;     // one try blocks in PPCLAIM at most this long
constexpr int PPDEV_CLAIM_PERIOD_MS = 50;   // while the port is held, a try starts this often
constexpr int PPDEV_PRESENCE_MS = 20;       // a session looks this often whether its device is still there
constexpr size_t PPDEV_MESSAGE_MAX = PORTSTATE_TEXT;

// Why an errno happened: it reads differently at open, at the claim and
// later. PPDEV_STEP_WAIT is a held port that the session keeps waiting for.
enum PpdevStep { PPDEV_STEP_OPEN, PPDEV_STEP_CLAIM, PPDEV_STEP_SESSION, PPDEV_STEP_WAIT };

struct PpdevFault {
    PortFaultCode code;
    char text[PPDEV_MESSAGE_MAX];  // UTF-8
};

enum PpdevClaimResult {
    PPDEV_CLAIMED,      // `fd` holds the port
    PPDEV_STILL_HELD,   // another holder kept it for the whole wait, or the beat ended the wait
    PPDEV_CLAIM_ERROR,  // `err` failed at `step` (open or claim); nothing is left open
};

struct PpdevClaim {
    PpdevClaimResult result;
    int fd;          // the claimed descriptor when PPDEV_CLAIMED, else -1
    int err;         // the errno when PPDEV_CLAIM_ERROR, else 0
    PpdevStep step;  // PPDEV_STEP_OPEN or PPDEV_STEP_CLAIM
};

// Called between tries while the port is held; returning false ends the wait.
typedef bool (*PpdevBeat)(void* context);

// Opens the device and claims the port, waiting at most limitMs for another
// holder to let go. Each try opens the device afresh, blocks in PPCLAIM for at
// most PPDEV_CLAIM_SLICE_MS (cut by a repeating SIGALRM) and closes it again:
// the kernel takes an interrupted claim off the port's wait list only when its
// file is closed (or when it hands it the port), and a PPCLAIM retried on the
// same file queues it a second time, which corrupts that list and makes the
// kernel fault in parport_release later. A claim that is never interrupted
// would hold ppdev's lock and keep a ppdev holder from releasing the port.
// The process may be killed at any moment: closing its files is always safe.
PpdevClaim PpdevClaimPort(const char* path, int limitMs, PpdevBeat beat, void* context);

// PpdevClaimPort with PPDEV_CLAIM_LIMIT_MS; returns the descriptor, or -1 with
// *fault set (a held port included).
int PpdevOpen(const char* path, PpdevFault* fault, PpdevBeat beat, void* context);
// All three return 0 or an errno (EINTR included: the caller retries).
int PpdevWriteData(int fd, uint8_t value);
int PpdevWriteControl(int fd, uint8_t value);
int PpdevReadStatus(int fd, uint8_t* value);
// 0 while `path` still names the file open as `fd`; else the errno that says
// why not (ENOENT: the driver took the device away, as its removal does,
// leaving the open file answering every ioctl with nothing behind it).
int PpdevStillThere(int fd, const char* path);
// Opens the device file read-write without making it the controlling
// terminal, and only if it is a character device; -1 with *err set if not
// (ENOTTY for a file that is no device). The one exception, for the tests:
// a file inside the folder named by EMUPORT_ENV_NAME that a FUSE file
// system serves (the emulated port, tests/emuport).
int PpdevOpenFile(const char* path, int* err);
constexpr char EMUPORT_ENV_NAME[] = "TRAVEK_EMUPORT";

// Arms (period > 0) or disarms a repeating SIGALRM whose handler lets a
// blocked PPCLAIM return EINTR (no SA_RESTART). Repeating, so that an alarm
// that comes before PPCLAIM blocks still leaves one to cut it.
void PpdevArmClaimTimer(int periodMs);

// Releases the port and closes the descriptor.
void PpdevClose(int fd);

// The fault an errno means at a given step, with its message.
void PpdevClassify(const char* path, PpdevStep step, int err, PpdevFault* fault);

#endif
