// The simulated port, and the faulted backend that shares its reads.
#include "backend.h"

static PortState* g_sim;  // the shared state the two backends use

static int16_t SimRead(uint16_t port)
{
    return SimPortRead(g_sim, port);
}

static void SimWrite(uint16_t port, uint16_t value)
{
    SimPortWriteValue(g_sim, port, value);
}

static const PortBackend g_simulated = { SimRead, SimWrite };
// After a fault: the same operations, with the status register frozen at its
// last good value since nothing real updates it.
static const PortBackend g_faulted = { SimRead, SimWrite };

const PortBackend* SimulatedBackend(PortState* s)
{
    g_sim = s;
    return &g_simulated;
}

const PortBackend* FaultedBackend(PortState* s)
{
    g_sim = s;
    return &g_faulted;
}
