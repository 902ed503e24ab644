// The self-test's patterns, judgement and report; see selftest.h.
#include "selftest.h"
#include <stdio.h>
#include "args.h"

constexpr int ALL_LOW = 0;                        // index of the all-low pattern
constexpr int WALK_ONE = 1;                       // first walking-one pattern
constexpr int ALL_HIGH = WALK_ONE + LOOPBACK_WIRES;
constexpr int WALK_ZERO = ALL_HIGH + 1;

const uint8_t SELFTEST_DATA[SELFTEST_PATTERNS] = {
    0x00, 0x01, 0x02, 0x04, 0x08, 0x10, 0x1F, 0x1E, 0x1D, 0x1B, 0x17, 0x0F,
};

static int Bit(unsigned value, int bit)
{
    return (value >> bit) & 1;
}

// Input `input` read exactly what data line `line` carried, pattern by pattern.
static bool Follows(const uint8_t levels[SELFTEST_PATTERNS], int input, int line)
{
    for (int p = 0; p < SELFTEST_PATTERNS; ++p)
        if (Bit(levels[p], input) != Bit(SELFTEST_DATA[p], line))
            return false;
    return true;
}

// The data lines whose change alone, from all low or from all high, changed the input.
static unsigned Influences(const uint8_t levels[SELFTEST_PATTERNS], int input)
{
    unsigned lines = 0;
    for (int k = 0; k < LOOPBACK_WIRES; ++k) {
        if (Bit(levels[WALK_ONE + k], input) != Bit(levels[ALL_LOW], input) ||
            Bit(levels[WALK_ZERO + k], input) != Bit(levels[ALL_HIGH], input))
            lines |= 1u << k;
    }
    return lines;
}

bool AnalyseLoopback(const uint8_t levels[SELFTEST_PATTERNS], WireVerdict out[LOOPBACK_WIRES])
{
    bool plug = false;
    for (int i = 0; i < LOOPBACK_WIRES; ++i) {
        int own = LoopbackLine(i);
        unsigned lines = Influences(levels, i);
        unsigned others = lines & ~(1u << own);
        plug = plug || lines != 0;
        int low = Bit(levels[ALL_LOW], i), high = Bit(levels[ALL_HIGH], i);
        if (Follows(levels, i, own))
            out[i] = WireVerdict{ WIRE_GOOD, 0 };
        else if (lines == 0 && low == high)
            out[i] = WireVerdict{ low ? WIRE_STUCK_HIGH : WIRE_STUCK_LOW, 0 };
        else if (others != 0)
            out[i] = WireVerdict{ WIRE_CROSSED, others };
        else
            out[i] = WireVerdict{ WIRE_ODD, 0 };
    }
    return plug;
}

std::string WireName(int wire)
{
    const StatusInputInfo& in = STATUS_INPUTS[wire];
    int line = LoopbackLine(wire);
    char text[64];
    snprintf(text, sizeof text, "D%d → %-8s (broches %d → %d)", line, in.name, DataPin(line), in.pin);
    return text;
}

std::string WireStateText(int wire, const WireVerdict& v)
{
    switch (v.state) {
    case WIRE_GOOD: return "bon";
    case WIRE_STUCK_HIGH: return "bloqué haut : l'entrée reste haute quoi qu'on écrive";
    case WIRE_STUCK_LOW: return "bloqué bas : l'entrée reste basse quoi qu'on écrive";
    case WIRE_CROSSED: break;
    case WIRE_ODD: {
        char text[96];
        snprintf(text, sizeof text, "défectueux : l'entrée ne suit pas D%d comme attendu", LoopbackLine(wire));
        return text;
    }
    }
    std::string text = "croisé avec";
    const char* sep = " ";
    for (int k = 0; k < DATA_LINES; ++k) {
        if (v.others & (1u << k)) {
            text += sep + ("D" + std::to_string(k)) + " (broche " + std::to_string(DataPin(k)) + ")";
            sep = ", ";
        }
    }
    return text;
}

// Drives every pattern and reads the inputs' pin levels after each.
static bool ReadPatterns(const TestPort& port, uint8_t levels[SELFTEST_PATTERNS], int32_t* idle,
                         std::string* error)
{
    for (int p = 0; p < SELFTEST_PATTERNS; ++p) {
        int32_t status = 0;
        if (!port.write(port.context, SELFTEST_DATA[p], error) || !port.read(port.context, &status, error))
            return false;
        if (p == ALL_HIGH)
            *idle = status;
        levels[p] = 0;
        for (int i = 0; i < LOOPBACK_WIRES; ++i)
            if (InputIsHigh(status, i))
                levels[p] |= static_cast<uint8_t>(1u << i);
    }
    return true;
}

static int Verdict(const WireVerdict verdicts[LOOPBACK_WIRES])
{
    std::string bad;
    int faulty = 0;
    for (int i = 0; i < LOOPBACK_WIRES; ++i) {
        if (verdicts[i].state == WIRE_GOOD)
            continue;
        int line = LoopbackLine(i);
        bad += (faulty++ ? ", D" : "D") + std::to_string(line) + " → " + STATUS_INPUTS[i].name;
    }
    if (faulty == 0) {
        printf("Verdict : port en bon état, les %d fils de la fiche de bouclage répondent.\n", LOOPBACK_WIRES);
        return SELFTEST_EXIT_GOOD;
    }
    printf("Verdict : %d fil(s) sur %d défectueux (%s).\n", faulty, LOOPBACK_WIRES, bad.c_str());
    return SELFTEST_EXIT_FAULTY;
}

int RunLoopbackTest(const TestPort& port, const char* name, const std::string& label)
{
    printf("Autotest de %s avec la fiche de bouclage (2→15, 3→13, 4→12, 5→10, 6→11)\n", label.c_str());
    fflush(stdout);
    uint8_t levels[SELFTEST_PATTERNS];
    int32_t status = 0;
    std::string error;
    bool read = ReadPatterns(port, levels, &status, &error);
    if (!read || !port.write(port.context, 0, &error)) {
        fprintf(stderr, "%s : %s\n", name, error.c_str());
        return SELFTEST_EXIT_NO_PORT;
    }
    WireVerdict verdicts[LOOPBACK_WIRES];
    if (!AnalyseLoopback(levels, verdicts)) {
        printf("Aucune fiche de bouclage trouvée : aucune entrée ne suit les lignes D0 à D4 "
               "(registre d'état %ld quoi qu'on écrive).\n", static_cast<long>(status));
        printf("Verdict : pas de fiche de bouclage ; branchez-la pour tester le port "
               "(cela ne dit pas que le port soit en panne).\n");
        return SELFTEST_EXIT_NO_PLUG;
    }
    for (int i = 0; i < LOOPBACK_WIRES; ++i)
        printf("  %s  %s\n", WireName(i).c_str(), WireStateText(i, verdicts[i]).c_str());
    return Verdict(verdicts);
}

int RunLedWalk(const TestPort& port, const char* name, const std::string& label, int64_t stepNs)
{
    printf("LED de %s : les lignes D0 à D7 s'allument une à une, %lld ms chacune (Ctrl+C pour arrêter)\n",
           label.c_str(), static_cast<long long>(stepNs / NS_PER_MS));
    fflush(stdout);
    std::string error;
    bool ok = true;
    for (int line = 0; line < DATA_LINES && ok && !port.stopRequested(); ++line) {
        ok = port.write(port.context, static_cast<uint8_t>(1u << line), &error);
        if (!ok)
            break;
        printf("  D%d (broche %d) allumée, les autres éteintes\n", line, DataPin(line));
        fflush(stdout);
        port.pause(stepNs);
    }
    if (!ok || !port.write(port.context, 0, &error)) {
        fprintf(stderr, "%s : %s\n", name, error.c_str());
        return SELFTEST_EXIT_NO_PORT;
    }
    printf("Toutes les lignes éteintes.\n");
    return SELFTEST_EXIT_GOOD;
}
