// See portlabel.h.
#include "portlabel.h"
#include <stdio.h>

// A text field of the state, read with atomic loads and cut at its end.
static std::string Field(const char* field)
{
    std::string text;
    for (int i = 0; i < PORTSTATE_TEXT; ++i) {
        char c = AtomicLoad(&field[i]);
        if (c == '\0')
            break;
        text += c;
    }
    return text;
}

bool PortIsReal(PortState* s)
{
    return AtomicLoad(&s->backend) != PORT_BACKEND_SIMULATED;
}

static std::string BaseText(PortState* s)
{
    char buf[32];
    snprintf(buf, sizeof buf, ", base 0x%X", static_cast<unsigned>(AtomicLoad(&s->base)));
    return buf;
}

std::string PortLabel(PortState* s)
{
    if (AtomicLoad(&s->fault) == PORT_FAULT_CONFIG)
        return "port mal désigné « " + Field(s->target) + " »";
    switch (AtomicLoad(&s->backend)) {
    case PORT_BACKEND_PPDEV: return "port réel " + Field(s->target) + " (ppdev)";
    case PORT_BACKEND_CHAINED: return "bibliothèque " + Field(s->target) + BaseText(s);
    case PORT_BACKEND_DIRECT: return "accès direct" + BaseText(s);
    default: return "port simulé";
    }
}

std::string PortFaultText(PortState* s)
{
    if (AtomicLoad(&s->fault) == PORT_FAULT_NONE)
        return std::string();
    std::string text = Field(s->faultText);
    return text.empty() ? "défaut sans message" : text;
}

std::string PortStaleText(PortState* s, int64_t now, bool wholeSeconds)
{
    uint32_t ms = PortStatusAgeUpdate(s, now);
    if (ms == 0)
        return std::string();
    char buf[96];
    if (wholeSeconds)
        snprintf(buf, sizeof buf, "entrées périmées : dernière lecture il y a %u s", ms / 1000);
    else
        snprintf(buf, sizeof buf, "entrées périmées : dernière lecture il y a %u,%02u s", ms / 1000, ms % 1000 / 10);
    return buf;
}

std::string PortRecoveryText(PortState* s)
{
    uint32_t starts = AtomicLoad(&s->helperStarts), retries = AtomicLoad(&s->deviceRetries);
    long long unapplied = static_cast<long long>(AtomicLoad(&s->unapplied));
    if (AtomicLoad(&s->backend) != PORT_BACKEND_PPDEV || (starts <= 1 && retries == 0 && unapplied == 0))
        return std::string();
    char buf[160];
    snprintf(buf, sizeof buf, "reprises : programme d'aide lancé %u fois, périphérique réessayé %u fois, "
             "%lld écriture(s) jamais appliquée(s) après une longue panne", starts, retries, unapplied);
    return buf;
}
