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

#endif
