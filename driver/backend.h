// What the library's two entries need of whatever reaches the port, and the
// backends that supply it: the simulated port, a ppdev device through the
// native helper, a chained port library, the I/O instructions themselves.
// A backend that cannot work reports a fault and leaves the "faulted"
// backend in its place: writes are journaled, reads give the status register
// last read (PORT_STATUS_IDLE before any), data and control as last written,
// 0xFF elsewhere.
#ifndef BACKEND_H
#define BACKEND_H

#include <windows.h>
#include <stdint.h>
#include "portconfig.h"
#include "sharedport.h"

struct PortBackend {
    int16_t (*read)(uint16_t port);
    void (*write)(uint16_t port, uint16_t value);
};

// The backend of this process, chosen at the first call.
const PortBackend* SelectBackend();

// Each backend's start: the backend to use, or null after a fault reported.
const PortBackend* SimulatedBackend(PortState* s);
const PortBackend* FaultedBackend(PortState* s);
const PortBackend* ChainedBackend(PortState* s, const PortConfig& c);
const PortBackend* DirectBackend(PortState* s, const PortConfig& c);
const PortBackend* PpdevBackend(PortState* s, const PortConfig& c);

// Records a fault in the shared state and says it once on the console
// (stderr). `text` is UTF-8.
void ReportFault(PortState* s, PortFaultCode code, const char* text);
// Says a line on the console (stderr), with the library's prefix; UTF-8.
void SayLine(const char* text);
// Says on the console a fault that another process (the helper) recorded,
// once per fault; cheap when nothing changed.
void EchoNewFault(PortState* s);

// The program's 0x378, 0x379, 0x37A as base, base + 1, base + 2; other
// addresses unchanged.
inline uint16_t MapPort(uint16_t port, uint32_t base)
{
    return port >= PORT_DATA && port <= PORT_CONTROL ? static_cast<uint16_t>(base + (port - PORT_DATA)) : port;
}

// This library's module, and the folder it was loaded from (with a
// trailing backslash) in out; false if it does not fit.
HMODULE ThisModule();
bool ThisFolder(wchar_t* out, DWORD size);

#endif
