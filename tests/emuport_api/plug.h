// The loopback plug on an emulated device: with it, the status pins follow
// the data lines by the plug's wiring (tools/common/loopback.h), and a wire
// can be made faulty on demand. Commands, one a line of NAME.ctl:
//   loopback on              a good plug (every fault cleared)
//   loopback off             no plug: the pins are those of `status N` again
//   loopback stuck W high|low    wire W (0 to 4, from D0 to D4) stuck
//   loopback cross W V       wires W and V swapped: each input gets the other's line
//   loopback invert W        wire W's input reads its line inverted
#ifndef EMUPORT_PLUG_H
#define EMUPORT_PLUG_H

#include <stdint.h>
#include <string>
#include "loopback.h"

enum LoopFault { LOOP_OK, LOOP_STUCK_HIGH, LOOP_STUCK_LOW, LOOP_INVERTED };

struct LoopbackPlug {
    bool on;
    int line[LOOPBACK_WIRES];         // the data line each input receives
    LoopFault fault[LOOPBACK_WIRES];
};

enum LoopOp { LOOP_ON, LOOP_OFF, LOOP_STUCK, LOOP_CROSS, LOOP_INVERT };

struct LoopbackCommand {
    LoopOp op;
    int wire, other;  // LOOP_CROSS: the two wires
    bool high;        // LOOP_STUCK
};

// A good plug (on) or none.
void ResetPlug(LoopbackPlug* p, bool on);
// A "loopback ..." line; false if it is not a valid one.
bool ParseLoopbackCommand(const std::string& line, LoopbackCommand* c);
void ApplyLoopbackCommand(LoopbackPlug* p, const LoopbackCommand& c);
// What PPRSTATUS returns with the plug on: the inputs' bits from the data
// lines, bits 0 to 2 as in `pins`.
uint8_t LoopbackStatus(const LoopbackPlug& p, uint8_t data, uint8_t pins);

#endif
