// The simulated port's operations on the shared state; see simport.h.
#include "simport.h"

int64_t SimPortNow()
{
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return t.QuadPart;
}

static void SleepMs(int ms)
{
    Sleep(static_cast<DWORD>(ms));
}

static void CountRead(SimPortState* s)
{
    AtomicAdd(&s->reads, int64_t(1));
    AtomicStore(&s->lastReadTicks, SimPortNow());
}

int16_t SimPortRead(SimPortState* s, uint16_t port)
{
    SimPortValidate(s);
    CountRead(s);
    switch (port) {
    case PORT_DATA:
        return static_cast<int16_t>(AtomicLoad(&s->data) & 0xFF);
    case PORT_STATUS:
        return static_cast<int16_t>(AtomicLoad(&s->status));
    case PORT_CONTROL:
        return static_cast<int16_t>(AtomicLoad(&s->control) & 0xFF);
    default:
        return 0xFF;  // nothing decodes the address: the bus floats high
    }
}

void SimPortCountRead(SimPortState* s, uint16_t port, int16_t value)
{
    SimPortValidate(s);
    CountRead(s);
    if (port == PORT_STATUS)
        AtomicStore(&s->status, int32_t(value));
}

void SimPortWriteValue(SimPortState* s, uint16_t port, uint16_t value)
{
    SimPortValidate(s);
    PortStateAppendAs(s, s == SimPortAttach() ? SimPortClientSlot() : -1, port, value, SimPortNow);
}

void SimPortSetStatus(SimPortState* s, int32_t value)
{
    SimPortValidate(s);
    AtomicStore(&s->status, value);
}

int64_t SimPortWriteCount(SimPortState* s)
{
    return PortStateWriteCount(s);
}

size_t SimPortCopyJournal(SimPortState* s, int64_t from, SimPortWrite* out, size_t max,
                          int64_t* next, int64_t* dropped)
{
    return PortStateCopyJournal(s, from, out, max, next, dropped, SleepMs);
}
