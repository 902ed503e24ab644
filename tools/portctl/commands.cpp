// portctl's commands on the shared state; see commands.h.
#include "commands.h"
#include <stdio.h>
#include <string.h>
#include <vector>
#include "portlabel.h"
#include "switches.h"
#include "vcd.h"

constexpr size_t FOLLOW_BATCH = 4096;  // journal entries copied per look

static const char USAGE[] =
    "Usage : PROG COMMANDE [ARGUMENTS]\n"
    "Le port parallèle (0x378) que partagent le banc de test, le banc virtuel et les outils.\n"
    "\n"
    "  PROG etat\n"
    "      affiche le registre d'état (0x379)\n"
    "  PROG etat VALEUR\n"
    "      met le registre d'état à VALEUR (décimal ou 0x.., de -32768 à 65535)\n"
    "  PROG etat ENTREE...\n"
    "      met à la masse les entrées nommées, relâche les autres : nError (15),\n"
    "      Select (13), PaperOut (12), nAck (10), Busy (11) ; nError Select donne 103,\n"
    "      tout relâché 127 (refusé sur un port réel : ses entrées sont lues)\n"
    "  PROG port\n"
    "      affiche le port suivi (simulé ou réel) et son défaut\n"
    "  PROG donnees\n"
    "      affiche le registre de données (0x378)\n"
    "  PROG suivre [N]\n"
    "      affiche chaque écriture à mesure qu'elle arrive, avec son heure depuis le\n"
    "      début du suivi ; s'arrête après N écritures, sinon à Ctrl+C\n"
    "  PROG vcd FICHIER\n"
    "      exporte le journal des écritures en Value Change Dump (IEEE 1364, 1 us) ;\n"
    "      \"-\" pour la sortie standard\n"
    "  PROG wait CONDITION [within DURÉE]\n"
    "      attend que les lignes de données remplissent la condition : data=0x04,\n"
    "      data&0x80 (toutes les lignes du masque hautes), data&0xF0=0x20 ; DURÉE\n"
    "      200ms, 2s, 500us (sans limite si absente) ; code 0 remplie, 1 délai dépassé\n"
    "  PROG play FICHIER\n"
    "      joue sur les entrées d'état du port simulé un texte minuté (« +0 119 »,\n"
    "      « +500ms 127 », « +1s nError Select », « repeat 3 ») ou un Value Change Dump\n"
    "      des entrées nError, Select, PaperOut, nAck, Busy ; donne l'écart de chaque étape\n"
    "  PROG selftest [--port PORT]\n"
    "      teste le port réel que nomme TRAVEK_PORT (ou PORT) avec la fiche de bouclage\n"
    "      2→15, 3→13, 4→12, 5→10, 6→11 ; code 0 tous les fils bons, 1 fil défectueux,\n"
    "      2 aucune fiche trouvée, 3 port impossible à ouvrir\n"
    "  PROG selftest --leds [--port PORT] [--step DURÉE]\n"
    "      allume une à une les lignes D0 à D7 (1 s chacune) pour vérifier les LED\n"
    "  PROG aide\n"
    "      affiche ce texte\n"
    "\n"
    "Code de sortie : 0 réussi, 1 échec, 2 arguments incorrects.\n";

std::string PortctlUsage(const char* name)
{
    static const char PLACEHOLDER[] = "PROG";
    std::string text = USAGE;
    for (size_t at = text.find(PLACEHOLDER); at != std::string::npos; at = text.find(PLACEHOLDER, at))
        text.replace(at, strlen(PLACEHOLDER), name), at += strlen(name);
    return text;
}

int PortctlUsageError(const char* name, const std::string& message)
{
    fprintf(stderr, "%s : %s\n\n%s", name, message.c_str(), PortctlUsage(name).c_str());
    return PORTCTL_EXIT_USAGE;
}

int64_t NsToTicks(int64_t ns, int64_t frequency)
{
    int64_t sign = ns < 0 ? -1 : 1;
    ns *= sign;
    return sign * ((ns / NS_PER_S) * frequency + (ns % NS_PER_S) * frequency / NS_PER_S);
}

int64_t TicksToNs(int64_t ticks, int64_t frequency)
{
    if (frequency <= 0)
        return 0;
    int64_t sign = ticks < 0 ? -1 : 1;
    ticks *= sign;
    return sign * ((ticks / frequency) * NS_PER_S + (ticks % frequency) * NS_PER_S / frequency);
}

// The status register; a stale value is said on stderr (stdout stays the number).
static int ShowStatus(const PortctlHost& h)
{
    printf("%ld\n", static_cast<long>(AtomicLoad(&h.state->status)));
    std::string stale = PortStaleText(h.state, h.now(), false);
    if (!stale.empty())
        fprintf(stderr, "%s : %s\n", h.name, stale.c_str());
    return PORTCTL_EXIT_OK;
}

static int SetStatus(const PortctlHost& h, int32_t value)
{
    if (PortIsReal(h.state)) {
        fprintf(stderr, "%s : %s lit ses entrées sur le matériel ; etat VALEUR ne peut pas "
                        "les forcer\n", h.name, PortLabel(h.state).c_str());
        return PORTCTL_EXIT_FAILED;
    }
    h.validate(h.state);
    AtomicStore(&h.state->status, value);
    if (!h.othersShare())
        fprintf(stderr, "%s : attention, aucun programme n'utilise le port simulé ; "
                        "la valeur sera perdue à la fin de %s\n", h.name, h.name);
    return PORTCTL_EXIT_OK;
}

// The port watched; its fault, a stale status and its recoveries on
// further lines when there are any.
static int ShowPort(const PortctlHost& h)
{
    printf("%s\n", PortLabel(h.state).c_str());
    std::string fault = PortFaultText(h.state);
    if (!fault.empty())
        printf("defaut : %s\n", fault.c_str());
    std::string stale = PortStaleText(h.state, h.now(), false), recovery = PortRecoveryText(h.state);
    if (!stale.empty())
        printf("%s\n", stale.c_str());
    if (!recovery.empty())
        printf("%s\n", recovery.c_str());
    return PORTCTL_EXIT_OK;
}

static int ShowData(const PortctlHost& h)
{
    printf("%ld\n", static_cast<long>(AtomicLoad(&h.state->data) & 0xFF));
    return PORTCTL_EXIT_OK;
}

static void PrintWrite(const JournalWrite& w, int64_t start, int64_t frequency)
{
    int64_t us = TicksToMicroseconds(start, w.ticks, frequency);
    printf("%lld.%06lld s  0x%03X <- %u (0x%02X)  %s\n", static_cast<long long>(us / 1000000),
           static_cast<long long>(us % 1000000), w.port, w.value, w.value,
           ByteBits(w.value & 0xFF).c_str());
}

static size_t CopyJournal(const PortctlHost& h, int64_t from, std::vector<JournalWrite>& out,
                          int64_t* next, int64_t* dropped)
{
    return PortStateCopyJournal(h.state, from, out.data(), out.size(), next, dropped, h.sleepMs);
}

static int Follow(const PortctlHost& h, long limit)
{
    PortState* s = h.state;
    int64_t start = h.now();
    int64_t cursor = PortStateWriteCount(s);
    int32_t resets = AtomicLoad(&s->resets);
    fprintf(stderr, "%s : suivi des écritures (Ctrl+C pour arrêter)\n", h.name);
    fflush(stderr);
    std::vector<JournalWrite> batch(FOLLOW_BATCH);
    long shown = 0;
    while ((limit < 0 || shown < limit) && !h.stopRequested()) {
        if (AtomicLoad(&s->resets) != resets || PortStateWriteCount(s) < cursor) {
            resets = AtomicLoad(&s->resets);
            cursor = 0;
            printf("# état partagé réinitialisé\n");
        }
        int64_t next = cursor, dropped = 0;
        size_t n = CopyJournal(h, cursor, batch, &next, &dropped);
        if (dropped > 0)
            printf("# %lld écritures perdues\n", static_cast<long long>(dropped));
        for (size_t i = 0; i < n && (limit < 0 || shown < limit); ++i, ++shown)
            PrintWrite(batch[i], start, AtomicLoad(&s->frequency));
        if (n > 0 || dropped > 0)
            fflush(stdout);
        cursor = next;
        if (n == 0)
            h.sleepMs(1);
    }
    return PORTCTL_EXIT_OK;
}

static int ExportVcd(const PortctlHost& h, const char* file)
{
    PortState* s = h.state;
    int64_t total = PortStateWriteCount(s);
    int64_t from = total > static_cast<int64_t>(PORTSTATE_JOURNAL_CAPACITY)
                       ? total - static_cast<int64_t>(PORTSTATE_JOURNAL_CAPACITY) : 0;
    std::vector<JournalWrite> writes(PORTSTATE_JOURNAL_CAPACITY);
    int64_t next = 0, dropped = 0;
    size_t n = CopyJournal(h, from, writes, &next, &dropped);
    writes.resize(n);
    int64_t now = h.now();
    VcdTrace t = {};
    t.writes = writes.data();
    t.writeCount = writes.size();
    t.frequency = AtomicLoad(&s->frequency);
    t.originTicks = n > 0 ? writes[0].ticks : now;
    t.endTicks = now;
    // A journal that starts at write 0 starts from the register's initial 0.
    if (n == 0)
        t.initialData = AtomicLoad(&s->data) & 0xFF;
    else
        t.initialData = writes[0].seq == 0 ? 0 : -1;
    t.initialStatus = AtomicLoad(&s->status);
    std::string text = VcdText(t);
    if (strcmp(file, "-") == 0) {
        fwrite(text.data(), 1, text.size(), stdout);
        return fflush(stdout) == 0 ? PORTCTL_EXIT_OK : PORTCTL_EXIT_FAILED;
    }
    if (!WriteTextFile(file, text)) {
        fprintf(stderr, "%s : impossible d'écrire %s\n", h.name, file);
        return PORTCTL_EXIT_FAILED;
    }
    fprintf(stderr, "%s : %zu écritures exportées dans %s\n", h.name, n, file);
    return PORTCTL_EXIT_OK;
}

int RunPortctlCommand(const PortctlArgs& a, const PortctlHost& h)
{
    switch (a.command) {
    case PORTCTL_SHOW_STATUS: return ShowStatus(h);
    case PORTCTL_SET_STATUS: return SetStatus(h, a.status);
    case PORTCTL_SHOW_DATA: return ShowData(h);
    case PORTCTL_FOLLOW: return Follow(h, a.limit);
    case PORTCTL_VCD: return ExportVcd(h, a.file);
    case PORTCTL_SHOW_PORT: return ShowPort(h);
    case PORTCTL_WAIT: return RunWait(a, h);
    case PORTCTL_PLAY: return RunPlay(a, h);
    case PORTCTL_HELP:
    case PORTCTL_SELFTEST: break;  // not on the shared state: the caller runs them
    }
    fputs(PortctlUsage(h.name).c_str(), stdout);
    return PORTCTL_EXIT_OK;
}
