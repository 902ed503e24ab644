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
