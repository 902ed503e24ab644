// The simulated port's operations on the shared state; see sharedport.h.
#include "sharedport.h"

static void SleepMs(int ms)
{
    Sleep(static_cast<DWORD>(ms));
}

static void CountRead(PortState* s)
{
    AtomicAdd(&s->reads, int64_t(1));
    AtomicStore(&s->lastReadTicks, SharedPortNow());
}

int16_t SimPortRead(PortState* s, uint16_t port)
{
    SharedPortValidate(s);
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

void SharedPortCountRead(PortState* s, uint16_t port, int16_t value)
{
    SharedPortValidate(s);
    CountRead(s);
    if (port == PORT_STATUS)
        AtomicStore(&s->status, int32_t(value));
}

void SimPortWriteValue(PortState* s, uint16_t port, uint16_t value)
{
    SharedPortValidate(s);
    PortStateAppendAs(s, s == SharedPortAttach() ? SharedPortClientSlot() : -1, port, value, SharedPortNow);
}

void SimPortSetStatus(PortState* s, int32_t value)
{
    SharedPortValidate(s);
    AtomicStore(&s->status, value);
}

int64_t SharedPortWriteCount(PortState* s)
{
    return PortStateWriteCount(s);
}

size_t SharedPortCopyJournal(PortState* s, int64_t from, JournalWrite* out, size_t max,
                          int64_t* next, int64_t* dropped)
{
    return PortStateCopyJournal(s, from, out, max, next, dropped, SleepMs);
}
