// See ppdev.h.
#include "ppdev.h"
#include <errno.h>
#include <fcntl.h>
#include <linux/ppdev.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

constexpr int MS_PER_S = 1000;
constexpr int US_PER_MS = 1000;

static void IgnoreAlarm(int) {}

// Arms (period > 0) or disarms a repeating SIGALRM whose handler lets a
// blocked PPCLAIM return EINTR (no SA_RESTART).
static void ArmClaimTimer(int periodMs)
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

void PpdevClassify(const char* path, PpdevStep step, int err, PpdevFault* f)
{
    const size_t n = sizeof f->text;
    if (step != PPDEV_STEP_SESSION && (err == EACCES || err == EPERM)) {
        f->code = PORT_FAULT_PERMISSION;
        snprintf(f->text, n, "Accès refusé à %s : ajoutez l'utilisateur au groupe lp "
                 "(sudo adduser $USER lp) puis reconnectez-vous.", path);
    } else if (step == PPDEV_STEP_CLAIM && (err == EINTR || err == EBUSY)) {
        f->code = PORT_FAULT_BUSY;
        snprintf(f->text, n, "Port %s occupé par un autre programme (pilote d'imprimante lp ?) : "
                 "abandon après %d s.", path, PPDEV_CLAIM_LIMIT_MS / MS_PER_S);
    } else if (step != PPDEV_STEP_SESSION && IsNotParport(err)) {
        f->code = PORT_FAULT_NOT_PARPORT;
        snprintf(f->text, n, "%s n'est pas un port parallèle (%s) : un câble imprimante USB "
                 "ne peut pas piloter les lignes une à une.", path, ErrorWords(err));
    } else if (step == PPDEV_STEP_OPEN) {
        f->code = PORT_FAULT_NO_DEVICE;
        snprintf(f->text, n, "Port parallèle %s introuvable (%s).", path, ErrorWords(err));
    } else {
        f->code = PORT_FAULT_DEVICE_LOST;
        snprintf(f->text, n, "Le port %s a disparu ou a échoué en cours de session (%s).", path,
                 ErrorWords(err));
    }
}

static int64_t NowMs()
{
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<int64_t>(t.tv_sec) * MS_PER_S + t.tv_nsec / (US_PER_MS * US_PER_MS);
}

// PPCLAIM, cut every PPDEV_CLAIM_BEAT_MS to beat and retried until the limit.
static int Claim(int fd, PpdevBeat beat, void* context, int* err)
{
    int64_t deadline = NowMs() + PPDEV_CLAIM_LIMIT_MS;
    ArmClaimTimer(PPDEV_CLAIM_BEAT_MS);
    int r;
    while ((r = ioctl(fd, PPCLAIM)) != 0 && errno == EINTR && NowMs() < deadline) {
        if (beat)
            beat(context);
    }
    *err = errno;
    ArmClaimTimer(0);
    return r;
}

int PpdevOpen(const char* path, PpdevFault* fault, PpdevBeat beat, void* context)
{
    int err = 0;
    int fd = PpdevOpenFile(path, &err);
    if (fd < 0) {
        PpdevClassify(path, PPDEV_STEP_OPEN, err, fault);
        return -1;
    }
    int r = Claim(fd, beat, context, &err);
    if (r != 0) {
        PpdevClassify(path, PPDEV_STEP_CLAIM, err, fault);
        close(fd);
        return -1;
    }
    fault->code = PORT_FAULT_NONE;
    fault->text[0] = '\0';
    return fd;
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

void PpdevClose(int fd)
{
    if (fd < 0)
        return;
    ioctl(fd, PPRELEASE);
    close(fd);
}
