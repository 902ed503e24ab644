// See ppdev.h.
#include "ppdev.h"
#include "portnative.h"
#include <errno.h>
#include <fcntl.h>
#include <linux/ppdev.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

constexpr int MS_PER_S = 1000;
constexpr int US_PER_MS = 1000;

static void IgnoreAlarm(int) {}

void PpdevArmClaimTimer(int periodMs)
{
    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_handler = IgnoreAlarm;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGALRM, &sa, nullptr);
    itimerval t;
    memset(&t, 0, sizeof t);
    t.it_value.tv_sec = periodMs / MS_PER_S;
    t.it_value.tv_usec = (periodMs % MS_PER_S) * US_PER_MS;
    t.it_interval = t.it_value;
    setitimer(ITIMER_REAL, &t, nullptr);
}

// The errno in words, French for the ones a port's user meets.
static const char* ErrorWords(int err)
{
    switch (err) {
    case ENOENT: return "ENOENT : fichier absent";
    case ENODEV: return "ENODEV : aucun port derrière ce fichier";
    case ENXIO: return "ENXIO : aucun port derrière ce fichier";
    case ENOTTY: return "ENOTTY : pas de registres de port parallèle";
    case EIO: return "EIO : erreur d'entrée-sortie";
    case ENOTCONN: return "ENOTCONN : le serveur du périphérique ne répond plus";
    case ECONNABORTED: return "ECONNABORTED : le serveur du périphérique s'est arrêté";
    default: return strerror(err);
    }
}

static bool IsNotParport(int err)
{
    return err == ENOTTY || err == EINVAL || err == EISDIR || err == ENOSYS;
}

static bool IsNoPort(int err)
{
    return err == ENXIO || err == ENODEV;
}

void PpdevClassify(const char* path, PpdevStep step, int err, PpdevFault* f)
{
    const size_t n = sizeof f->text;
    bool start = step == PPDEV_STEP_OPEN || step == PPDEV_STEP_CLAIM;
    if (step == PPDEV_STEP_WAIT) {
        f->code = PORT_FAULT_BUSY;
        snprintf(f->text, n, "Port %s occupé par un autre programme (pilote d'imprimante lp ?) depuis %d s : "
                 "en attente, reprise dès qu'il sera libre.", path, PPDEV_CLAIM_LIMIT_MS / MS_PER_S);
    } else if (start && (err == EACCES || err == EPERM)) {
        f->code = PORT_FAULT_PERMISSION;
        snprintf(f->text, n, "Accès refusé à %s : ajoutez l'utilisateur au groupe lp "
                 "(sudo adduser $USER lp) puis reconnectez-vous.", path);
    } else if (step == PPDEV_STEP_CLAIM && (err == EINTR || err == EBUSY)) {
        f->code = PORT_FAULT_BUSY;
        snprintf(f->text, n, "Port %s occupé par un autre programme (pilote d'imprimante lp ?) : "
                 "abandon après %d s.", path, PPDEV_CLAIM_LIMIT_MS / MS_PER_S);
    } else if (start && IsNotParport(err)) {
        f->code = PORT_FAULT_NOT_PARPORT;
        snprintf(f->text, n, "%s n'est pas un port parallèle (%s) : un câble imprimante USB "
                 "ne peut pas piloter les lignes une à une.", path, ErrorWords(err));
    } else if (step == PPDEV_STEP_OPEN || (step == PPDEV_STEP_CLAIM && IsNoPort(err))) {
        // ENXIO at the claim: a device node with no port behind it.
        f->code = PORT_FAULT_NO_DEVICE;
        snprintf(f->text, n, "Port parallèle %s introuvable (%s).", path, ErrorWords(err));
    } else {
        f->code = PORT_FAULT_DEVICE_LOST;
        snprintf(f->text, n, "Le port %s a disparu ou a échoué en cours de session (%s).", path,
                 ErrorWords(err));
    }
}

// One try: open, PPCLAIM cut after PPDEV_CLAIM_SLICE_MS, and close again
// unless it claimed. A cut claim is never retried on its file.
static PpdevClaim TryClaim(const char* path)
{
    PpdevClaim c = { PPDEV_CLAIM_ERROR, -1, 0, PPDEV_STEP_OPEN };
    int fd = PpdevOpenFile(path, &c.err);
    if (fd < 0)
        return c;
    c.step = PPDEV_STEP_CLAIM;
    PpdevArmClaimTimer(PPDEV_CLAIM_SLICE_MS);
    int r = ioctl(fd, PPCLAIM);
    int err = errno;
    PpdevArmClaimTimer(0);
    if (r == 0) {
        c.result = PPDEV_CLAIMED;
        c.fd = fd;
        return c;
    }
    close(fd);
    if (err == EINTR || err == EBUSY)
        c.result = PPDEV_STILL_HELD;
    else
        c.err = err;
    return c;
}

PpdevClaim PpdevClaimPort(const char* path, int limitMs, PpdevBeat beat, void* context)
{
    int64_t start = PortNativeMs();
    for (;;) {
        int64_t tried = PortNativeMs();
        PpdevClaim c = TryClaim(path);
        if (c.result != PPDEV_STILL_HELD || PortNativeMs() - start >= limitMs || (beat && !beat(context)))
            return c;
        int64_t next = tried + PPDEV_CLAIM_PERIOD_MS;
        PortNativeSleepUntilMs(next < start + limitMs ? next : start + limitMs);
    }
}

int PpdevOpen(const char* path, PpdevFault* fault, PpdevBeat beat, void* context)
{
    PpdevClaim c = PpdevClaimPort(path, PPDEV_CLAIM_LIMIT_MS, beat, context);
    if (c.result != PPDEV_CLAIMED) {
        PpdevClassify(path, c.step, c.result == PPDEV_STILL_HELD ? EBUSY : c.err, fault);
        return -1;
    }
    fault->code = PORT_FAULT_NONE;
    fault->text[0] = '\0';
    return c.fd;
}

int PpdevWriteData(int fd, uint8_t value)
{
    unsigned char v = value;
    return ioctl(fd, PPWDATA, &v) == 0 ? 0 : errno;
}

int PpdevWriteControl(int fd, uint8_t value)
{
    unsigned char v = value;
    return ioctl(fd, PPWCONTROL, &v) == 0 ? 0 : errno;
}

int PpdevReadStatus(int fd, uint8_t* value)
{
    unsigned char v = 0;
    if (ioctl(fd, PPRSTATUS, &v) != 0)
        return errno;
    *value = v;
    return 0;
}

int PpdevStillThere(int fd, const char* path)
{
    struct stat held, named;
    if (fstat(fd, &held) != 0 || stat(path, &named) != 0)
        return errno;
    bool same = named.st_dev == held.st_dev && named.st_ino == held.st_ino && named.st_rdev == held.st_rdev;
    return same ? 0 : ENODEV;
}

void PpdevClose(int fd)
{
    if (fd < 0)
        return;
    ioctl(fd, PPRELEASE);
    close(fd);
}
