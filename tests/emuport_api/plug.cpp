// See plug.h.
#include "plug.h"
#include <sstream>
#include "switches.h"

constexpr uint8_t LOW_BITS = 0x07;  // bits 0 to 2 have no input pin

void ResetPlug(LoopbackPlug* p, bool on)
{
    p->on = on;
    for (int i = 0; i < LOOPBACK_WIRES; ++i) {
        p->line[i] = LoopbackLine(i);
        p->fault[i] = LOOP_OK;
    }
}

static bool Wire(const std::string& text, int* wire)
{
    if (text.size() != 1 || text[0] < '0' || text[0] >= '0' + LOOPBACK_WIRES)
        return false;
    *wire = text[0] - '0';
    return true;
}

bool ParseLoopbackCommand(const std::string& line, LoopbackCommand* c)
{
    std::istringstream in(line);
    std::string verb, op, a, b, extra;
    in >> verb >> op >> a >> b >> extra;
    *c = LoopbackCommand{ LOOP_ON, 0, 0, false };
    if (verb != "loopback" || !extra.empty())
        return false;
    if (op == "on" || op == "off") {
        c->op = op == "on" ? LOOP_ON : LOOP_OFF;
        return a.empty();
    }
    if (op == "stuck") {
        c->op = LOOP_STUCK;
        c->high = b == "high";
        return Wire(a, &c->wire) && (b == "high" || b == "low");
    }
    if (op == "cross") {
        c->op = LOOP_CROSS;
        return Wire(a, &c->wire) && Wire(b, &c->other) && c->wire != c->other;
    }
    c->op = LOOP_INVERT;
    return op == "invert" && Wire(a, &c->wire) && b.empty();
}

void ApplyLoopbackCommand(LoopbackPlug* p, const LoopbackCommand& c)
{
    switch (c.op) {
    case LOOP_ON: ResetPlug(p, true); break;
    case LOOP_OFF: ResetPlug(p, false); break;
    case LOOP_STUCK: p->fault[c.wire] = c.high ? LOOP_STUCK_HIGH : LOOP_STUCK_LOW; break;
    case LOOP_INVERT: p->fault[c.wire] = LOOP_INVERTED; break;
    case LOOP_CROSS: {
        int line = p->line[c.wire];
        p->line[c.wire] = p->line[c.other];
        p->line[c.other] = line;
        break;
    }
    }
}

uint8_t LoopbackStatus(const LoopbackPlug& p, uint8_t data, uint8_t pins)
{
    unsigned pulledLow = 0;
    for (int i = 0; i < LOOPBACK_WIRES; ++i) {
        bool high = (data >> p.line[i]) & 1;
        if (p.fault[i] != LOOP_OK)
            high = p.fault[i] == LOOP_STUCK_HIGH || (p.fault[i] == LOOP_INVERTED && !high);
        if (!high)
            pulledLow |= 1u << i;
    }
    return static_cast<uint8_t>((StatusFromSwitches(pulledLow) & ~LOW_BITS) | (pins & LOW_BITS));
}
