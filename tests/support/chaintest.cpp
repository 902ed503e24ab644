// The chained port library of the tests; see chaintest.h. Single-threaded
// callers only (the program), so a plain increment orders the calls.
#include "chaintest.h"
#include "portstate.h"

static void Record(uint16_t kind, short port, short value)
{
    ChainLog* log = ChainLogAttach();
    if (!log)
        return;
    LONG n = InterlockedIncrement(&log->calls) - 1;
    ChainCall& c = log->entries[n % CHAINTEST_CAPACITY];
    c.kind = kind;
    c.port = static_cast<uint16_t>(port);
    c.value = static_cast<uint16_t>(value);
}

extern "C" short __stdcall ChainRead(short port)
{
    ChainLog* log = ChainLogAttach();
    short v = !log ? -1
            : log->plug.on ? LoopbackStatus(log->plug, static_cast<uint8_t>(log->data), PORT_STATUS_IDLE)
            : static_cast<short>(log->status);
    Record(CHAIN_READ, port, v);
    return v;
}

extern "C" void __stdcall ChainWrite(short port, short value)
{
    ChainLog* log = ChainLogAttach();
    if (log && static_cast<uint16_t>(port) == PORT_DATA)
        log->data = value & 0xFF;
    Record(CHAIN_WRITE, port, value);
}
