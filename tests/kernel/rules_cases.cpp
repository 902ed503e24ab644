// The conformance cases of one file at a time: what needs a claim, the
// registers as they read back, exclusive use, and what each error looks like.
#include <errno.h>
#include <grp.h>
#include <linux/parport.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "rules.h"
#include "rules_support.h"

namespace {

constexpr unsigned char CONTROL_START = 0x0C;  // nInit and nSelectIn high: a new claimer's control
constexpr unsigned char CONTROL_LINES = 0x0F;  // the control bits that read back
constexpr unsigned char CONTROL_OTHER = 0x0E;  // lines set by a case (not Strobe, not the direction)
constexpr unsigned char CONTROL_HIGH = 0xC0;   // bits above the lines, never read back

RulesOutcome Done(const Expect& e)
{
    return RulesOutcome{ e.failure, "" };
}

RulesOutcome Skipped(const std::string& why)
{
    return RulesOutcome{ "", why };
}

RulesOutcome UnclaimedIsEinval(const RulesTarget& t)
{
    Expect e;
    int fd = OpenDevice(t.device);
    e.True("open: " + ErrName(-fd), fd >= 0);
    unsigned char b = 0;
    const unsigned long needClaim[] = { PPRSTATUS, PPRDATA, PPRCONTROL, PPWDATA, PPWCONTROL };
    for (unsigned long cmd : needClaim)
        e.Err("register ioctl before PPCLAIM", Ioctl(fd, cmd, &b), EINVAL);
    e.Err("PPRELEASE before PPCLAIM", Ioctl(fd, PPRELEASE), EINVAL);
    int modes = 0;
    e.Err("PPGETMODES", Ioctl(fd, PPGETMODES, &modes), 0);
    e.True("PPGETMODES without PARPORT_MODE_PCSPP", modes & PARPORT_MODE_PCSPP);
    e.Err("unknown request before PPCLAIM", Ioctl(fd, _IO(PP_IOCTL, 0xFE)), EINVAL);
    e.Err("PPCLAIM", Ioctl(fd, PPCLAIM), 0);
    e.Err("unknown request after PPCLAIM", Ioctl(fd, _IO(PP_IOCTL, 0xFE)), EINVAL);
    close(fd);
    return Done(e);
}

RulesOutcome ClaimedOnce(const RulesTarget& t)
{
    Expect e;
    int fd = OpenDevice(t.device);
    e.Err("PPCLAIM", Ioctl(fd, PPCLAIM), 0);
    e.Err("second PPCLAIM on the same file", Ioctl(fd, PPCLAIM), EINVAL);
    e.Err("PPRELEASE", Ioctl(fd, PPRELEASE), 0);
    e.Err("second PPRELEASE", Ioctl(fd, PPRELEASE), EINVAL);
    e.Err("PPCLAIM after PPRELEASE", Ioctl(fd, PPCLAIM), 0);
    close(fd);
    int other = OpenDevice(t.device);
    e.Err("PPCLAIM once the holder's file is closed", ClaimCut(other, RULES_PROMPT_MS), 0);
    close(other);
    return Done(e);
}

RulesOutcome RegistersReadBack(const RulesTarget& t)
{
    Expect e;
    int fd = OpenDevice(t.device), other = OpenDevice(t.device);
    e.Err("PPCLAIM", Ioctl(fd, PPCLAIM), 0);
    unsigned char b = 0;
    e.Err("PPRCONTROL", Ioctl(fd, PPRCONTROL, &b), 0);
    e.Eq("control at the first claim", b, CONTROL_START);
    for (unsigned char v : { 0x5A, 0xA5, 0x00, 0xFF }) {
        unsigned char w = v;
        e.Err("PPWDATA", Ioctl(fd, PPWDATA, &w), 0);
        e.Err("PPRDATA", Ioctl(fd, PPRDATA, &b), 0);
        e.Eq("data read back", b, v);
    }
    e.Err("PPRSTATUS", Ioctl(fd, PPRSTATUS, &b), 0);
    b = CONTROL_OTHER | CONTROL_HIGH;
    e.Err("PPWCONTROL", Ioctl(fd, PPWCONTROL, &b), 0);
    e.Err("PPRCONTROL", Ioctl(fd, PPRCONTROL, &b), 0);
    e.Eq("control read back (bits 4 to 7 never do)", b, CONTROL_OTHER & CONTROL_LINES);
    e.Err("PPRELEASE", Ioctl(fd, PPRELEASE), 0);
    e.Err("PPCLAIM by another file", Ioctl(other, PPCLAIM), 0);
    e.Err("PPRCONTROL", Ioctl(other, PPRCONTROL, &b), 0);
    e.Eq("another file's claim restores its own control", b, CONTROL_START);
    e.Err("PPRELEASE", Ioctl(other, PPRELEASE), 0);
    e.Err("PPCLAIM again", Ioctl(fd, PPCLAIM), 0);
    e.Err("PPRCONTROL", Ioctl(fd, PPRCONTROL, &b), 0);
    e.Eq("the first file's claim restores the control it left", b, CONTROL_OTHER);
    b = CONTROL_START;
    Ioctl(fd, PPWCONTROL, &b);
    close(fd);
    close(other);
    return Done(e);
}

// PPEXCL registers a file alone on the port: refused beside any other
// registered file, and every later registration refused beside it.
RulesOutcome ExclusiveUse(const RulesTarget& t)
{
    if (RunHook(t, "printer off") != 0)
        return Skipped("the hook cannot unload the printer driver");
    Expect e;
    int excl = OpenDevice(t.device), other = OpenDevice(t.device);
    e.Err("PPEXCL", Ioctl(excl, PPEXCL), 0);
    e.Err("exclusive PPCLAIM on a port nobody else registered", Ioctl(excl, PPCLAIM), 0);
    e.Err("PPCLAIM beside an exclusive file", Ioctl(other, PPCLAIM), ENXIO);
    e.Err("PPRELEASE", Ioctl(excl, PPRELEASE), 0);
    e.Err("PPCLAIM beside an exclusive file, released", Ioctl(other, PPCLAIM), ENXIO);
    close(excl);
    e.Err("PPCLAIM once the exclusive file is closed", Ioctl(other, PPCLAIM), 0);
    e.Err("PPEXCL once registered shared", Ioctl(other, PPEXCL), EINVAL);
    int late = OpenDevice(t.device);
    e.Err("PPEXCL", Ioctl(late, PPEXCL), 0);
    e.Err("exclusive PPCLAIM beside a registered file", Ioctl(late, PPCLAIM), ENXIO);
    close(late);
    close(other);
    return Done(e);
}

RulesOutcome ExclusiveBesidePrinter(const RulesTarget& t)
{
    if (RunHook(t, "printer on") != 0)
        return Skipped("the hook cannot load the printer driver");
    Expect e;
    int fd = OpenDevice(t.device);
    e.Err("PPEXCL with the printer driver registered", Ioctl(fd, PPEXCL), 0);
    e.Err("exclusive PPCLAIM beside the printer driver", Ioctl(fd, PPCLAIM), ENXIO);
    close(fd);
    fd = OpenDevice(t.device);
    e.Err("shared PPCLAIM beside the printer driver", Ioctl(fd, PPCLAIM), 0);
    close(fd);
    e.Eq("printer driver unloaded", RunHook(t, "printer off"), 0);
    fd = OpenDevice(t.device);
    e.Err("PPEXCL", Ioctl(fd, PPEXCL), 0);
    e.Err("exclusive PPCLAIM once the printer driver is gone", Ioctl(fd, PPCLAIM), 0);
    close(fd);
    return Done(e);
}

RulesOutcome NoDevice(const RulesTarget& t)
{
    std::string missing = t.device.substr(0, t.device.rfind('/') + 1) + "parport9";
    Expect e;
    int fd = OpenDevice(missing);
    e.Err("open " + missing, fd >= 0 ? 0 : -fd, ENOENT);
    if (fd >= 0)
        close(fd);
    return Done(e);
}

RulesOutcome NodeWithoutPort(const RulesTarget& t)
{
    std::string path;
    if (RunHook(t, "noport", &path) != 0 || path.empty())
        return Skipped("the hook makes no node without a port");
    Expect e;
    int fd = OpenDevice(path);
    e.True("open " + path + ": " + ErrName(-fd), fd >= 0);
    e.Err("PPCLAIM on a node without a port", Ioctl(fd, PPCLAIM), ENXIO);
    e.Err("PPCLAIM again", Ioctl(fd, PPCLAIM), ENXIO);
    close(fd);
    return Done(e);
}

// Opens the device in a child with these ids; its errno at open, or at the
// claim after a successful open (0: both worked).
int OpenAs(const std::string& device, unsigned uid, unsigned gid, bool inLp)
{
    pid_t child = fork();
    if (child == 0) {
        gid_t lp = RULES_LP_GID;
        if (setgroups(inLp ? 1 : 0, &lp) != 0 || setresgid(gid, gid, gid) != 0 || setresuid(uid, uid, uid) != 0)
            _exit(255);
        int fd = OpenDevice(device);
        _exit(fd < 0 ? -fd : Ioctl(fd, PPCLAIM));
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 255;
}

RulesOutcome Permissions(const RulesTarget& t)
{
    if (geteuid() != 0)
        return Skipped("needs root to act as another user");
    if (RunHook(t, "group") != 0)
        return Skipped("the hook cannot set the device's group");
    Expect e;
    e.Err("a user outside lp opens 0660 root:lp", OpenAs(t.device, RULES_NOBODY, RULES_NOBODY, false), EACCES);
    e.Err("the same user with lp among its groups", OpenAs(t.device, RULES_NOBODY, RULES_NOBODY, true), 0);
    e.Err("the same user with lp as its group", OpenAs(t.device, RULES_NOBODY, RULES_LP_GID, false), 0);
    return Done(e);
}

// The driver's removal: the file goes, an open file keeps answering with
// nothing behind it (writes go nowhere, reads give 0).
RulesOutcome Removed(const RulesTarget& t)
{
    Expect e;
    int fd = OpenDevice(t.device);
    e.Err("PPCLAIM", Ioctl(fd, PPCLAIM), 0);
    if (RunHook(t, "remove") != 0) {
        close(fd);
        return Skipped("the hook cannot remove the port");
    }
    struct stat st;
    e.Err("stat of the removed device", stat(t.device.c_str(), &st) == 0 ? 0 : errno, ENOENT);
    int again = OpenDevice(t.device);
    e.Err("open of the removed device", again >= 0 ? 0 : -again, ENOENT);
    unsigned char b = 0x33;
    e.Err("PPWDATA on the open file", Ioctl(fd, PPWDATA, &b), 0);
    e.Err("PPRSTATUS on the open file", Ioctl(fd, PPRSTATUS, &b), 0);
    e.Eq("status of a removed port", b, 0);
    e.Err("PPRELEASE on the open file", Ioctl(fd, PPRELEASE), 0);
    close(fd);
    e.Eq("port restored", RunHook(t, "restore"), 0);
    return Done(e);
}

}  // namespace

// The waiting cases, in rules_claims.cpp.
RulesOutcome HeldPortWaitsUntilASignal(const RulesTarget& t);
RulesOutcome ClaimerGetsThePortAtTheHoldersClose(const RulesTarget& t);
RulesOutcome ReleaseWaitsForABlockedClaim(const RulesTarget& t);
RulesOutcome InterruptedClaimKeepsItsPlace(const RulesTarget& t);
RulesOutcome KilledClaimerLeavesTheQueue(const RulesTarget& t);

const RulesEntry RULES_CASES[] = {
    { "unclaimed_is_einval", UnclaimedIsEinval },
    { "claimed_once", ClaimedOnce },
    { "registers_read_back", RegistersReadBack },
    { "held_port_waits", HeldPortWaitsUntilASignal },
    { "claimer_gets_port_at_close", ClaimerGetsThePortAtTheHoldersClose },
    { "release_waits_for_blocked_claim", ReleaseWaitsForABlockedClaim },
    { "interrupted_claim_keeps_its_place", InterruptedClaimKeepsItsPlace },
    { "killed_claimer_leaves_queue", KilledClaimerLeavesTheQueue },
    { "exclusive_use", ExclusiveUse },
    { "exclusive_beside_printer", ExclusiveBesidePrinter },
    { "no_device", NoDevice },
    { "node_without_port", NodeWithoutPort },
    { "permission", Permissions },
    { "removed", Removed },
};
const int RULES_CASE_COUNT = sizeof RULES_CASES / sizeof RULES_CASES[0];
