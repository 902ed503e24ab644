// The loopback plug: five wires from data lines D0 to D4 back to the status
// inputs, so that a port reads what it writes. Wire i runs from Di to input i
// of STATUS_INPUTS: D0→nError (pins 2→15), D1→Select (3→13), D2→PaperOut
// (4→12), D3→nAck (5→10), D4→Busy (6→11).
#ifndef LOOPBACK_H
#define LOOPBACK_H

#include <stdint.h>
#include "switches.h"

constexpr int LOOPBACK_WIRES = INPUT_COUNT;
constexpr int DATA_LINES = 8;          // D0 to D7
constexpr int FIRST_DATA_PIN = 2;      // D0 is on pin 2, D7 on pin 9
constexpr uint8_t LOOPBACK_MASK = 0x1F;  // the data lines the plug carries

// The data line that wire `input` brings back to that input.
inline int LoopbackLine(int input)
{
    return input;
}

inline int DataPin(int line)
{
    return FIRST_DATA_PIN + line;
}

#endif
