// The virtual bench's view of which port it watches: the window's title, the
// switches (read-only on a real port) and the current fault's line.
#ifndef PORTINFO_H
#define PORTINFO_H

#include <windows.h>
#include <string>
#include "sharedport.h"

struct PortInfo {
    bool real;          // inputs come from hardware
    std::string label;  // Windows-1252, for the A functions
    std::string fault;  // Windows-1252, empty when the port is well
    std::string stale;  // Windows-1252, empty while the status is fresh
};

PortInfo PortInfoRead(PortState* s);
bool PortInfoSame(const PortInfo& a, const PortInfo& b);

// Sets the window's title and makes the switches read-only on a real port.
void PortInfoApply(HWND window, const PortInfo& info, const HWND* switches, int count);

// The fault's line in red at (x, y), if there is a fault, and a stale
// status beside it.
void PortInfoDraw(HDC dc, const PortInfo& info, int x, int y);

#endif
