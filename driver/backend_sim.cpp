// The simulated first parallel port as the library's backend.
#include "backend.h"
#include "simport.h"

static int16_t SimRead(uint16_t port)
{
    return SimPortRead(SimPortAttach(), port);
}

static void SimWrite(uint16_t port, uint16_t value)
{
    SimPortWriteValue(SimPortAttach(), port, value);
}

static const PortBackend g_simulated = { SimRead, SimWrite };

const PortBackend* SelectBackend()
{
    return &g_simulated;
}
