// See helpercheck.h.
#include "helpercheck.h"
#include <stdio.h>
#include <unistd.h>
#include "bridge.h"
#include "bridge_recover.h"
#include "portnative.h"

constexpr int64_t TICKS_PER_MS = PORTSTATE_NATIVE_FREQUENCY / 1000;

bool HelperClockAgrees(PortState* s, int64_t now, char* message, size_t size)
{
    int64_t f = AtomicLoad(&s->frequency);
    if (f != PORTSTATE_NATIVE_FREQUENCY) {
        snprintf(message, size, "horloge de l'état partagé à %lld Hz, celle du relais à %lld Hz : "
                 "Wine ne compte pas le temps comme attendu ; le relais refuse", static_cast<long long>(f),
                 static_cast<long long>(PORTSTATE_NATIVE_FREQUENCY));
        return false;
    }
    int64_t lease = AtomicLoad(&s->helperBeat);
    int64_t latest = lease;
    int64_t samples[] = { AtomicLoad(&s->lastWriteTicks), AtomicLoad(&s->lastReadTicks) };
    for (int64_t t : samples)
        latest = t > latest ? t : latest;
    bool future = latest > now + HELPER_CLOCK_AHEAD_MS * TICKS_PER_MS;
    bool stale = AtomicLoad(&s->helperState) == HELPER_STARTING && lease > 0 &&
                 now - lease > HELPER_START_SKEW_MS * TICKS_PER_MS;
    if (future || stale) {
        snprintf(message, size, "l'horloge de Wine et celle du relais diffèrent (%+.1f s) : les temps du "
                 "journal seraient faux ; le relais refuse", static_cast<double>((future ? latest : lease) - now) /
                 PORTSTATE_NATIVE_FREQUENCY);
        return false;
    }
    return true;
}

// Records a refusal that a restart cannot change.
static int Refuse(PortState* s, PortFaultCode code, const char* text)
{
    BridgeRecordFault(s, code, text);
    AtomicStore(&s->helperState, uint32_t(HELPER_REFUSED));
    return BRIDGE_EXIT_REFUSED;
}

int HelperTakeState(PortState* s, char* target, size_t size)
{
    for (size_t i = 0; i < size && i < static_cast<size_t>(PORTSTATE_TEXT); ++i)
        target[i] = AtomicLoad(&s->target[i]);
    target[size - 1] = '\0';
    char text[PORTSTATE_TEXT + 128];
    int64_t now = PortNativeTicks();
    if (AtomicLoad(&s->backend) != PORT_BACKEND_PPDEV || target[0] != '/') {
        snprintf(text, sizeof text, "le relais %s ne peut servir « %.120s » : l'état partagé ne demande pas "
                 "un périphérique ppdev par son chemin absolu", PORTHELPER_NAME, target);
        return Refuse(s, PORT_FAULT_HELPER_REFUSED, text);
    }
    if (!HelperClockAgrees(s, now, text, sizeof text))
        return Refuse(s, PORT_FAULT_CLOCK, text);
    int32_t previous = AtomicLoad(&s->helperPid);
    // Two helpers started at once: the compare-exchange lets one through.
    if (BridgeOtherHelper(s, now) || !AtomicCas(&s->helperPid, previous, static_cast<int32_t>(getpid()))) {
        snprintf(text, sizeof text, "un autre relais (pid %d) sert déjà %.120s : ce relais-ci s'arrête",
                 static_cast<int>(AtomicLoad(&s->helperPid)), target);
        BridgeRecordFault(s, PORT_FAULT_HELPER_DUPLICATE, text);
        return BRIDGE_EXIT_REFUSED;
    }
    AtomicStore(&s->helperStart, PortProcessIdentity(getpid()));
    AtomicStore(&s->helperBeat, now);
    AtomicStore(&s->helperState, uint32_t(HELPER_STARTING));
    return BRIDGE_EXIT_DONE;
}

void HelperLeaveState(PortState* s)
{
    AtomicCas(&s->helperPid, static_cast<int32_t>(getpid()), int32_t(0));
}
