// Which port the self-test uses, decided as the library decides (portconfig.h):
// --port in place of TRAVEK_PORT when given, else the variable, else the file
// beside the program (which is beside the library). Portable.
#ifndef TESTPORT_H
#define TESTPORT_H

#include <string>
#include "portconfig.h"

// fileText is the file's content, or null when there is none. False with the
// message of a bad setting (the library's own message).
bool ResolveTestPort(const char* portArg, const char* envPort, const char* envBase, const std::string* fileText,
                     PortConfig* out, std::string* error);

// The message for a port the self-test cannot drive from this system: the
// simulated port, or (native) a library or direct access, or (Windows) a
// ppdev device. Empty when `usable` names the backend in use.
std::string TestPortRefusal(const PortConfig& c, PortBackendKind usableA, PortBackendKind usableB);

#endif
