// What the conformance cases share: ioctls that give their errno, claims cut
// by a signal, claims left blocking in a thread, and the wording of a failure.
#ifndef TESTS_KERNEL_RULES_SUPPORT_H
#define TESTS_KERNEL_RULES_SUPPORT_H

#include <pthread.h>
#include <stdint.h>
#include <atomic>
#include <string>
#include "portnative.h"  // PortNativeMs, the clock of deadlines

constexpr int RULES_STILL_MS = 150;    // a call still blocked this long is taken to wait
constexpr int RULES_PROMPT_MS = 2000;  // a call that should end soon ends within this

// The ioctl's errno, 0 on success.
int Ioctl(int fd, unsigned long cmd, void* arg = nullptr);
// open(O_RDWR): the descriptor, or -errno.
int OpenDevice(const std::string& path);
// PPCLAIM cut by SIGALRM after `ms` if it blocks: 0 or the errno (EINTR when cut).
int ClaimCut(int fd, int ms);
void SleepMs(int ms);
// "EINVAL" for EINVAL, "0" for 0.
std::string ErrName(int err);

// The first difference met by a case, in words.
struct Expect {
    std::string failure;
    // True while nothing differed yet, so that a case can stop at the first.
    bool Ok() const { return failure.empty(); }
    void Eq(const std::string& what, long got, long want);
    // An errno compared, with its name in the message.
    void Err(const std::string& what, int got, int want);
    void True(const std::string& what, bool holds);
};

// A PPCLAIM left blocking in a thread of its own; Interrupt() cuts it with a
// signal (SIGUSR1, no restart).
struct BlockedCall {
    pthread_t thread;
    int fd;
    unsigned long cmd;
    std::atomic<int> result;  // the errno once done
    std::atomic<bool> done;
};
void StartBlocked(BlockedCall* c, int fd, unsigned long cmd);
// Waits until the call ended or `ms` passed; true if it ended.
bool WaitDone(BlockedCall* c, int ms);
void Interrupt(BlockedCall* c);
// Cuts the call if it still blocks, and joins its thread.
void Finish(BlockedCall* c);

#endif
