// Which port a shared state describes and its current fault, as the tools
// show them. Texts are UTF-8, as the state keeps them.
#ifndef PORTLABEL_H
#define PORTLABEL_H

#include <string>
#include "portcore.h"

// A port whose inputs come from hardware: the tools show them, never set them.
bool PortIsReal(PortState* s);

// "port simulé", "port réel /dev/parport0 (ppdev)", "bibliothèque X.dll,
// base 0x378" or "accès direct, base 0x378".
std::string PortLabel(PortState* s);

// The current fault's message, empty when there is none.
std::string PortFaultText(PortState* s);

// "entrées périmées : dernière lecture il y a 3,20 s" when the status register
// is older than a helper's lost time at `now` (PortStatusAgeMs, which it
// also publishes in the state); empty otherwise.
// `wholeSeconds` rounds the age down to seconds (for a display that
// repaints when the text changes).
std::string PortStaleText(PortState* s, int64_t now, bool wholeSeconds);

// The real port's recoveries when there were any: helpers started, device
// tried again, writes passed over after a long outage; empty otherwise.
std::string PortRecoveryText(PortState* s);

#endif
