// portctl: the simulated port's shared state from the command line, for
// scripts. Sets the status register, prints the registers, follows the
// writes as they happen and exports the journal as a Value Change Dump.
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <string>
#include <vector>
#include "portlabel.h"
#include "args.h"
#include "simport.h"
#include "switches.h"
#include "vcd.h"

static const char USAGE[] =
    "Usage : portctl COMMANDE [ARGUMENTS]\n"
    "Le port parallele simule (0x378) que partagent le banc de test et le banc virtuel.\n"
    "\n"
    "  portctl etat                 affiche le registre d'etat (0x379)\n"
    "  portctl etat VALEUR          met le registre d'etat a VALEUR (decimal ou 0x..,\n"
    "                               de -32768 a 65535)\n"
    "  portctl etat ENTREE...       met a la masse les entrees nommees, relache les autres :\n"
    "                               nError (15), Select (13), PaperOut (12), nAck (10),\n"
    "                               Busy (11) ; nError Select donne 103, tout relache 127\n"
    "                               (refuse sur un port reel : ses entrees sont lues)\n"
    "  portctl port                 affiche le port suivi (simule ou reel) et son defaut\n"
    "  portctl donnees              affiche le registre de donnees (0x378)\n"
    "  portctl suivre [N]           affiche chaque ecriture a mesure qu'elle arrive, avec son\n"
    "                               heure depuis le debut du suivi ; s'arrete apres N\n"
    "                               ecritures, sinon a Ctrl+C\n"
    "  portctl vcd FICHIER          exporte le journal des ecritures en Value Change Dump\n"
    "                               (IEEE 1364, 1 us) ; \"-\" pour la sortie standard\n"
    "  portctl aide                 affiche ce texte\n"
    "\n"
    "Code de sortie : 0 reussi, 1 echec, 2 arguments incorrects.\n";

constexpr int EXIT_FAILED = 1;  // the command could not be carried out
constexpr int EXIT_USAGE = 2;   // bad arguments

static int UsageError(const char* message)
{
    fprintf(stderr, "portctl : %s\n\n%s", message, USAGE);
    return EXIT_USAGE;
}

static int64_t Now()
{
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return t.QuadPart;
}

// True if some other process already holds the shared state.
static bool StateExists()
{
    return SimPortExists();
}

// The status register; a stale value is said on stderr (stdout stays the number).
static int ShowStatus()
{
    printf("%ld\n", static_cast<long>(SimPortAttach()->status));
    std::string stale = PortStaleText(SimPortAttach(), false);
    if (!stale.empty())
        fprintf(stderr, "portctl : %s\n", stale.c_str());
    return 0;
}

static int SetStatus(int32_t value)
{
    bool shared = StateExists();
    if (PortIsReal(SimPortAttach())) {
        fprintf(stderr, "portctl : %s lit ses entrees sur le materiel ; etat VALEUR ne peut pas "
                        "les forcer\n", PortLabel(SimPortAttach()).c_str());
        return EXIT_FAILED;
    }
    SimPortSetStatus(SimPortAttach(), value);
    if (!shared)
        fprintf(stderr, "portctl : attention, aucun programme n'utilise le port simule ; "
                        "la valeur sera perdue a la fin de portctl\n");
    return 0;
}

// The port watched; its fault, a stale status and its recoveries on
// further lines when there are any.
static int ShowPort()
{
    SimPortState* s = SimPortAttach();
    printf("%s\n", PortLabel(s).c_str());
    std::string fault = PortFaultText(s);
    if (!fault.empty())
        printf("defaut : %s\n", fault.c_str());
    std::string stale = PortStaleText(s, false), recovery = PortRecoveryText(s);
    if (!stale.empty())
        printf("%s\n", stale.c_str());
    if (!recovery.empty())
        printf("%s\n", recovery.c_str());
    return 0;
}

static int ShowData()
{
    printf("%ld\n", static_cast<long>(SimPortAttach()->data & 0xFF));
    return 0;
}

static void PrintWrite(const SimPortWrite& w, int64_t start, int64_t frequency)
{
    int64_t us = TicksToMicroseconds(start, w.ticks, frequency);
    printf("%lld.%06lld s  0x%03X <- %u (0x%02X)  %s\n", static_cast<long long>(us / 1000000),
           static_cast<long long>(us % 1000000), w.port, w.value, w.value,
           ByteBits(w.value & 0xFF).c_str());
}

static int Follow(long limit)
{
    SimPortState* s = SimPortAttach();
    int64_t start = Now();
    int64_t cursor = SimPortWriteCount(s);
    LONG resets = s->resets;
    fprintf(stderr, "portctl : suivi des ecritures (Ctrl+C pour arreter)\n");
    fflush(stderr);
    std::vector<SimPortWrite> batch(4096);
    long shown = 0;
    while (limit < 0 || shown < limit) {
        if (s->resets != resets || SimPortWriteCount(s) < cursor) {
            resets = s->resets;
            cursor = 0;
            printf("# etat partage reinitialise\n");
        }
        int64_t next = cursor, dropped = 0;
        size_t n = SimPortCopyJournal(s, cursor, batch.data(), batch.size(), &next, &dropped);
        if (dropped > 0)
            printf("# %lld ecritures perdues\n", static_cast<long long>(dropped));
        for (size_t i = 0; i < n && (limit < 0 || shown < limit); ++i, ++shown)
            PrintWrite(batch[i], start, s->frequency);
        if (n > 0 || dropped > 0)
            fflush(stdout);
        cursor = next;
        if (n == 0)
            Sleep(1);
    }
    return 0;
}

static int ExportVcd(const char* file)
{
    SimPortState* s = SimPortAttach();
    int64_t total = SimPortWriteCount(s);
    int64_t from = total > static_cast<int64_t>(SIMPORT_JOURNAL_CAPACITY)
                       ? total - static_cast<int64_t>(SIMPORT_JOURNAL_CAPACITY) : 0;
    std::vector<SimPortWrite> writes(SIMPORT_JOURNAL_CAPACITY);
    int64_t next = 0, dropped = 0;
    size_t n = SimPortCopyJournal(s, from, writes.data(), writes.size(), &next, &dropped);
    writes.resize(n);
    int64_t now = Now();
    VcdTrace t = {};
    t.writes = writes.data();
    t.writeCount = writes.size();
    t.frequency = s->frequency;
    t.originTicks = n > 0 ? writes[0].ticks : now;
    t.endTicks = now;
    // A journal that starts at write 0 starts from the register's initial 0.
    if (n == 0)
        t.initialData = s->data & 0xFF;
    else
        t.initialData = writes[0].seq == 0 ? 0 : -1;
    t.initialStatus = s->status;
    std::string text = VcdText(t);
    if (strcmp(file, "-") == 0) {
        fwrite(text.data(), 1, text.size(), stdout);
        return fflush(stdout) == 0 ? 0 : EXIT_FAILED;
    }
    if (!WriteTextFile(file, text)) {
        fprintf(stderr, "portctl : impossible d'ecrire %s\n", file);
        return EXIT_FAILED;
    }
    fprintf(stderr, "portctl : %zu ecritures exportees dans %s\n", n, file);
    return 0;
}

int main(int argc, char** argv)
{
    PortctlArgs a;
    std::string error;
    if (!ParsePortctlArguments(argc, argv, &a, &error))
        return UsageError(error.c_str());
    switch (a.command) {
    case PORTCTL_SHOW_STATUS: return ShowStatus();
    case PORTCTL_SET_STATUS: return SetStatus(a.status);
    case PORTCTL_SHOW_DATA: return ShowData();
    case PORTCTL_FOLLOW: return Follow(a.limit);
    case PORTCTL_VCD: return ExportVcd(a.file);
    case PORTCTL_SHOW_PORT: return ShowPort();
    case PORTCTL_HELP: break;
    }
    fputs(USAGE, stdout);
    return 0;
}
