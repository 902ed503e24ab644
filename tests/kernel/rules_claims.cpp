// The conformance cases of a port held by another file: a claim waits
// without end (no EBUSY) until the holder lets go or a signal comes; while
// it waits it holds ppdev's one lock; an interrupted claim stays on the
// port's wait list until its file is closed; a killed claimer leaves it.
#include <errno.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "rules.h"
#include "rules_support.h"

constexpr int CUT_MS = 150;  // a claim meant to be cut is cut after this

static RulesOutcome Done(const Expect& e)
{
    return RulesOutcome{ e.failure, "" };
}

RulesOutcome HeldPortWaitsUntilASignal(const RulesTarget& t)
{
    Expect e;
    int holder = OpenDevice(t.device), waiter = OpenDevice(t.device);
    e.Err("PPCLAIM", Ioctl(holder, PPCLAIM), 0);
    int64_t start = PortNativeMs();
    e.Err("PPCLAIM on a held port, cut by a signal", ClaimCut(waiter, CUT_MS), EINTR);
    e.True("the cut claim returned before its signal", PortNativeMs() - start >= CUT_MS - 10);
    close(waiter);
    close(holder);
    return Done(e);
}

RulesOutcome ClaimerGetsThePortAtTheHoldersClose(const RulesTarget& t)
{
    Expect e;
    int holder = OpenDevice(t.device), waiter = OpenDevice(t.device);
    e.Err("PPCLAIM", Ioctl(holder, PPCLAIM), 0);
    BlockedCall claim;
    StartBlocked(&claim, waiter, PPCLAIM);
    e.True("PPCLAIM on a held port returned at once: " + ErrName(claim.result), !WaitDone(&claim, RULES_STILL_MS));
    close(holder);
    e.True("the waiting PPCLAIM did not end at the holder's close", WaitDone(&claim, RULES_PROMPT_MS));
    e.Err("the waiting PPCLAIM", claim.result, 0);
    Finish(&claim);
    unsigned char b = 0;
    e.Err("PPRSTATUS by the new holder", Ioctl(waiter, PPRSTATUS, &b), 0);
    close(waiter);
    return Done(e);
}

// The holder's PPRELEASE needs ppdev's lock, which a waiting PPCLAIM keeps:
// it returns only once that claim is interrupted, and the port then goes to
// the interrupted file, whose next PPCLAIM returns at once.
RulesOutcome ReleaseWaitsForABlockedClaim(const RulesTarget& t)
{
    Expect e;
    int holder = OpenDevice(t.device), waiter = OpenDevice(t.device);
    e.Err("PPCLAIM", Ioctl(holder, PPCLAIM), 0);
    BlockedCall claim, release;
    StartBlocked(&claim, waiter, PPCLAIM);
    SleepMs(RULES_STILL_MS);
    StartBlocked(&release, holder, PPRELEASE);
    e.True("PPRELEASE returned while another file's PPCLAIM waited", !WaitDone(&release, RULES_STILL_MS));
    Interrupt(&claim);
    e.True("the waiting PPCLAIM was not interrupted", WaitDone(&claim, RULES_PROMPT_MS));
    e.Err("the interrupted PPCLAIM", claim.result, EINTR);
    e.True("PPRELEASE did not follow the interrupted claim", WaitDone(&release, RULES_PROMPT_MS));
    e.Err("PPRELEASE", release.result, 0);
    Finish(&claim);
    Finish(&release);
    e.Err("PPCLAIM of the file the port was handed to", ClaimCut(waiter, RULES_PROMPT_MS), 0);
    close(waiter);
    close(holder);
    return Done(e);
}

RulesOutcome InterruptedClaimKeepsItsPlace(const RulesTarget& t)
{
    Expect e;
    int holder = OpenDevice(t.device), first = OpenDevice(t.device);
    int second = OpenDevice(t.device), third = OpenDevice(t.device);
    e.Err("PPCLAIM", Ioctl(holder, PPCLAIM), 0);
    e.Err("PPCLAIM cut", ClaimCut(first, CUT_MS), EINTR);
    close(holder);  // the port goes to `first`, which no longer waits
    e.Err("PPCLAIM of another file, cut", ClaimCut(second, CUT_MS), EINTR);
    unsigned char b = 0;
    e.Err("PPRSTATUS of the file handed the port, before its PPCLAIM", Ioctl(first, PPRSTATUS, &b), EINVAL);
    e.Err("PPCLAIM of the file handed the port", ClaimCut(first, RULES_PROMPT_MS), 0);
    e.Err("PPWDATA", Ioctl(first, PPWDATA, &b), 0);
    close(first);  // the port goes to `second`, next on the list
    e.Err("PPCLAIM of a third file, cut", ClaimCut(third, CUT_MS), EINTR);
    e.Err("PPCLAIM of the next file on the list", ClaimCut(second, RULES_PROMPT_MS), 0);
    close(second);
    close(third);  // handed the port last: its close lets go of it
    int last = OpenDevice(t.device);
    e.Err("PPCLAIM once every file is closed", ClaimCut(last, RULES_PROMPT_MS), 0);
    close(last);
    return Done(e);
}

RulesOutcome KilledClaimerLeavesTheQueue(const RulesTarget& t)
{
    Expect e;
    int holder = OpenDevice(t.device);
    e.Err("PPCLAIM", Ioctl(holder, PPCLAIM), 0);
    pid_t child = fork();
    if (child == 0) {
        int fd = OpenDevice(t.device);
        Ioctl(fd, PPCLAIM);
        _exit(0);
    }
    SleepMs(RULES_STILL_MS);
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    e.True("the claimer ended before it was killed", WIFSIGNALED(status));
    close(holder);
    int next = OpenDevice(t.device);
    e.Err("PPCLAIM after the killed claimer", ClaimCut(next, RULES_PROMPT_MS), 0);
    close(next);
    return Done(e);
}
