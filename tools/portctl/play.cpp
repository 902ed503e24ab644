// play: a stimulus file on the simulated port's status inputs. Each step is
// due at a time counted from the start (never from the step before, so that
// lateness does not add up), and reports how late it came.
#include <stdio.h>
#include <stdlib.h>
#include "commands.h"
#include "portlabel.h"
#include "stimulus.h"
#include "switches.h"

// Lateness of the steps played so far, in nanoseconds.
struct Drift {
    long steps;
    int64_t total;
    int64_t worst;
    long worstStep;
};

// "12.345" for 12345 us: milliseconds with three decimals.
static std::string Ms(int64_t ns)
{
    int64_t us = llabs(ns) / NS_PER_US;
    char text[48];
    snprintf(text, sizeof text, "%s%lld.%03lld", ns < 0 ? "-" : "", static_cast<long long>(us / 1000),
             static_cast<long long>(us % 1000));
    return text;
}

static void PrintStep(long step, long round, int64_t plannedNs, int32_t status, int64_t lateNs)
{
    printf("%6ld %5ld %12s ms  %6ld  %s  écart %s%s ms\n", step, round, Ms(plannedNs).c_str(),
           static_cast<long>(status), ByteBits(static_cast<unsigned>(status) & 0xFF).c_str(),
           lateNs >= 0 ? "+" : "", Ms(lateNs).c_str());
}

static void PrintSummary(const Drift& d, bool stopped)
{
    if (d.steps == 0) {
        printf("aucune étape jouée\n");
        return;
    }
    printf("%ld étape(s) jouée(s)%s ; écart moyen +%s ms, plus grand +%s ms (étape %ld)\n", d.steps,
           stopped ? " avant l'arrêt" : "", Ms(d.total / d.steps).c_str(), Ms(d.worst).c_str(), d.worstStep);
}

// Refuses a port whose inputs come from hardware; true if refused.
static bool RealInputs(const PortctlHost& h)
{
    if (!PortIsReal(h.state))
        return false;
    fprintf(stderr, "%s : %s : ses entrées d'état sont tenues par le matériel, play ne peut pas "
                    "les piloter\n", h.name, PortLabel(h.state).c_str());
    return true;
}

static int Play(const PortctlHost& h, const Stimulus& st)
{
    Drift d = { 0, 0, 0, 0 };
    int64_t start = h.now();
    long step = 0;
    for (long round = 1; round <= st.rounds; ++round) {
        for (const StimulusStep& s : st.steps) {
            int64_t plannedNs = (round - 1) * st.roundNs + s.atNs;
            int64_t target = start + NsToTicks(plannedNs, h.frequency);
            h.sleepUntil(target);
            if (h.stopRequested()) {
                PrintSummary(d, true);
                return PORTCTL_EXIT_FAILED;
            }
            if (RealInputs(h))
                return PORTCTL_EXIT_FAILED;
            h.validate(h.state);
            AtomicStore(&h.state->status, s.status);
            int64_t late = TicksToNs(h.now() - target, h.frequency);
            ++step;
            d.total += late;
            if (d.steps++ == 0 || late > d.worst) {
                d.worst = late;
                d.worstStep = step;
            }
            PrintStep(step, round, plannedNs, s.status, late);
        }
    }
    PrintSummary(d, false);
    return PORTCTL_EXIT_OK;
}

int RunPlay(const PortctlArgs& a, const PortctlHost& h)
{
    std::string text, error;
    Stimulus st;
    if (!ReadWholeFile(a.file, STIMULUS_FILE_MAX, &text, &error)) {
        fprintf(stderr, "%s : %s\n", h.name, error.c_str());
        return PORTCTL_EXIT_FAILED;
    }
    if (!ParseStimulus(text, &st, &error)) {
        fprintf(stderr, "%s : %s : %s\n", h.name, a.file, error.c_str());
        return PORTCTL_EXIT_USAGE;
    }
    if (RealInputs(h))
        return PORTCTL_EXIT_FAILED;
    fprintf(stderr, "%s : %s : %zu étape(s), %ld tour(s) de %s ms (Ctrl+C pour arrêter)\n", h.name, a.file,
            st.steps.size(), st.rounds, Ms(st.roundNs).c_str());
    fflush(stderr);
    printf(" étape  tour        heure      état  bits       écart\n");
    return Play(h, st);
}
